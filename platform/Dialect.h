#pragma once

#include <QString>
#include <QStringList>

#include "platform/Database.h"

namespace zel::dialect {

// Every difference between SQLite and PostgreSQL that the store's statements need lives here.

// The id column of a create statement, with its trailing comma.
QString idColumn(Dialect d);
// The blob column type.
QString blobType(Dialect d);
// Rewrites the portable column types of a create or alter statement ("numeric", "datetime", "int")
// into the dialect's own.
QString columnTypes(Dialect d, const QString& statement);

// "a = b" compared without regard to letter case (full Unicode folding).
QString ciEquals(Dialect d, const QString& a, const QString& b);

// A condition selecting rows whose column starts with a prefix, served by an index on the column.
// Bind the parameter to prefixPattern(prefix).
QString prefixCondition(Dialect d, const QString& column, const QString& param);
QString prefixPattern(Dialect d, const QString& prefix);

// The statements that add the comma-separated column definitions to a table: one statement on
// PostgreSQL, one per column on SQLite, which adds a single column per ALTER TABLE.
QStringList addColumns(Dialect d, const QString& table, const QString& definitions);

// A query counting the tables named by the parameter ":name" (0 or 1).
QString tableExistsQuery(Dialect d);

// A LIKE pattern that finds the text anywhere, its own "%", "_" and "\" taken literally; use it with
// ciLikeCondition, which declares "\" the escape character and ignores letter case.
QString containsPattern(const QString& text);
QString ciLikeCondition(Dialect d, const QString& column, const QString& param);

// Appended to a select inside a transaction: the rows read cannot change until it ends. SQLite needs
// nothing, since a write transaction excludes every other writer.
QString lockRowsClause(Dialect d);

} // namespace zel::dialect
