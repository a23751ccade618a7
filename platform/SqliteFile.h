#pragma once

#include <QString>

namespace zel {

// Creates a new, empty SQLite database file; fails when the file exists.
bool createSqliteFile(const QString& path, QString* error = nullptr);
// Writes a compacted copy of a database file to target (which must not exist).
bool sqliteVacuumInto(const QString& source, const QString& target, QString* error = nullptr);

} // namespace zel
