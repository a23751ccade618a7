#pragma once

#include <QStringList>

#include "platform/Database.h"

namespace zel::test {

// What is wrong with the tree's stored paths, one line per fault; empty when all is well. Every row's
// id path and name path must be those of its parent chain, the chain must reach the root without a
// loop or a missing row, and no row that is not purged may sit below a purged one (maintenance would
// leave it without a parent).
QStringList PathProblems(Database& db);

} // namespace zel::test
