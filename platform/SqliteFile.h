#pragma once

#include <QString>

namespace zel {

// Creates a new, empty SQLite database file, readable and writable by its owner only; fails when the
// file exists.
bool createSqliteFile(const QString& path, QString* error = nullptr);
// Older builds compacted by renaming the knowledge base to "smtp_cr_0856_old.mdb" in its folder and
// a compacted copy into its place; a crash between the two renames left only that backup. When path
// is missing and the backup exists, the backup takes its name again. True when it did.
bool recoverCompactionBackup(const QString& path);

} // namespace zel
