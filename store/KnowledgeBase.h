#pragma once

#include <QString>

#include "platform/Database.h"
#include "store/Catalogue.h"
#include "store/Users.h"

namespace zel {

// The data module: the main connection and the catalogue. One per process.
class TMainData {
public:
    Database acGlint;
    Catalogue catalogue;
    // Loads datalink.dat from the home folder.
    bool loadCatalogue();
};
TMainData& MainData();

QString catalogueFilePath();
QString defaultDataFolder(); // home + "data/"

enum class OpenStatus { Ok, NoEntry, ConnectFailed, UnknownUser, WrongPassword, DatabaseError };
struct OpenResult {
    OpenStatus status = OpenStatus::NoEntry;
    QString detail; // database error text, when there is one
    bool ok() const { return status == OpenStatus::Ok; }
};
// The system's message for a failed opening (empty for NoEntry and Ok).
QString OpenMessage(const OpenResult& r, const QString& code);

// Opens the catalogue entry on a separate connection, checks the login, and on success switches the
// main connection to it. When not silent, a successful login is remembered in the runtime settings.
OpenResult OpenKnowledgeBase(Database& main, Catalogue& catalogue, const QString& name, const QString& code,
                             bool loadUser, bool silent, bool remember, const QString& password);

// Creates an empty SQLite knowledge-base file (and its folder). SQLite has no file password: the
// value is ignored here, and NewKnowledgeBase refuses one.
bool CreateAccessDatabase(const QString& folder, const QString& fileName, const QString& dbPassword,
                          QString* error = nullptr);
// "create database" on a server connection; the name is quoted, never pasted as SQL.
bool CreateServerDatabase(Database& server, const QString& databaseName);
bool TryConnect(Database& test, int serverType, const QString& serverName, const QString& password, const QString& user,
                const QString& database);
// Creates DefaultKM.skm in the data folder with its schema when missing, and lists it in the catalogue.
bool CreateDefaultKnowledgeBase(Catalogue& catalogue, const QString& adminCode, const QString& adminPassword);

// Creates a knowledge base end to end and lists it: the file or server database, its schema with the
// administrator, and the catalogue entry. error receives the system's message on failure.
bool NewKnowledgeBase(Catalogue& catalogue, const CatalogueEntry& entry, const QString& adminCode,
                      const QString& adminPassword, QString* error);

} // namespace zel
