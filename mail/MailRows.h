#pragma once

#include <QString>

#include "mail/TMimeDecorder.h"
#include "platform/Database.h"

namespace zel {

// The row; an unknown id gives an empty record (found false).
TMailmsgReg ReadMailRow(Database& db, const QString& mailId, bool* found = nullptr);
// Rewrites the columns the mail panel edits: account, subject, lists, priority, flags, bookmark.
bool UpdateMailRow(Database& db, const QString& mailId, const TMailmsgReg& rec);

} // namespace zel
