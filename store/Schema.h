#pragma once

#include <QString>
#include <QStringList>

#include "platform/Database.h"
#include "store/Progress.h"

namespace zel {

constexpr int kSchemaVersion = 1011;

// Creates every table, the administrator and the version row, all or nothing.
bool CreateSchema(Database& db, const QString& adminCode, const QString& adminPassword);
bool CreateMailAccountTable(Database& db);
bool CreateMailTable(Database& db);
bool CreateMailRuleTables(Database& db);
bool CreateAddressBookTables(Database& db);
// Indexes that speed up the store; safe to run on every opening.
bool EnsureIndexes(Database& db);

// Nothing is left for UpgradeSchema to do: current version, both system folders live, every index
// there. Only reads.
bool SchemaIsCurrent(Database& db);
// Brings an older knowledge base up to date and makes sure the mail system folders exist. Writes only
// when SchemaIsCurrent says there is something to do, then in one transaction: on failure nothing is
// changed and false is returned.
bool UpgradeSchema(Database& db, const Progress& progress = {});
bool UpgradeInfoTable(Database& db, const Progress& progress = {});
bool UpgradeUserTable(Database& db);
void UpgradeMailTables(Database& db);
bool MoveHeadIntoContent(Database& db, const Progress& progress = {});
bool StampSchemaVersion(Database& db);
// Makes the folder named by the systeminfo column ("outbox", "sendbox") when it is missing or not live.
bool EnsureSystemFolder(Database& db, const QString& column, const QString& caption);
// Reads outbox and sendbox into the runtime settings.
bool LoadSystemFolders(Database& db);
int SchemaVersion(Database& db);

// The column names of a table ("select * from t where 1=0"); empty when the table is missing.
QStringList ProbeColumns(Database& db, const QString& table, bool* ok = nullptr);

} // namespace zel
