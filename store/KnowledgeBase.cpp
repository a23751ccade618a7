#include "store/KnowledgeBase.h"

#include "platform/Paths.h"
#include "platform/SqliteFile.h"
#include "shell/RuntimeSettings.h"
#include "shell/Strings.h"
#include "store/Schema.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

namespace zel {

TMainData& MainData() {
    static TMainData data;
    return data;
}

bool TMainData::loadCatalogue() {
    // Files made with looser modes by older builds are tightened at every start.
    ensureHomeFolder();
    secureHomeFolder();
    return catalogue.LoadCatalogue(catalogueFilePath());
}

QString catalogueFilePath() {
    return homeFolder() + QStringLiteral("datalink.dat");
}
QString defaultDataFolder() {
    return homeFolder() + QStringLiteral("data/");
}

QString OpenMessage(const OpenResult& r, const QString& code) {
    switch (r.status) {
    case OpenStatus::ConnectFailed:
    case OpenStatus::DatabaseError:
        return GetString(40609);
    case OpenStatus::UnknownUser:
        return LoginMessage(LoginStatus::UnknownUser, code);
    case OpenStatus::WrongPassword:
        return LoginMessage(LoginStatus::WrongPassword, code);
    default:
        return {};
    }
}

OpenResult OpenKnowledgeBase(Database& main, Catalogue& catalogue, const QString& name, const QString& code,
                             bool loadUser, bool silent, bool remember, const QString& password) {
    OpenResult result;
    const int idx = catalogue.FindCatalogueEntry(name);
    if (idx < 0) return result;
    const QString conn = BuildConnectionString(catalogue.entries()[idx]);
    Database probe;
    if (!probe.open(conn)) {
        result.status = OpenStatus::ConnectFailed;
        result.detail = probe.lastError();
        return result;
    }
    const LoginStatus login = LoginCheck(probe, code, password, loadUser);
    switch (login) {
    case LoginStatus::Ok:
        result.status = OpenStatus::Ok;
        break;
    case LoginStatus::UnknownUser:
        result.status = OpenStatus::UnknownUser;
        return result;
    case LoginStatus::WrongPassword:
        result.status = OpenStatus::WrongPassword;
        return result;
    case LoginStatus::DatabaseError:
        result.status = OpenStatus::DatabaseError;
        // A database without our tables is some other database.
        result.detail = QStringLiteral("not a knowledge base (%1)").arg(probe.lastError());
        return result;
    }
    if (!silent) {
        TRuntimeReg& reg = RuntimeSettings();
        reg.catalogueName = name;
        reg.userCode = code;
        reg.rememberLogin = remember;
        reg.password = remember ? password : QString();
        SaveSettings();
    }
    probe.close();
    main.close();
    if (!main.open(conn)) {
        result.status = OpenStatus::ConnectFailed;
        result.detail = main.lastError();
    }
    return result;
}

bool CreateAccessDatabase(const QString& folder, const QString& fileName, const QString& dbPassword, QString* error) {
    Q_UNUSED(dbPassword);
    QString dir = folder;
    dir.replace(u'\\', u'/');
    if (!dir.isEmpty() && !QDir().mkpath(dir)) {
        if (error) *error = QStringLiteral("cannot create folder %1").arg(dir);
        return false;
    }
    if (!dir.isEmpty() && !dir.endsWith(u'/')) dir += u'/';
    const QFileInfo folderInfo(dir.isEmpty() ? QStringLiteral(".") : dir);
    if (!folderInfo.isDir() || !folderInfo.isWritable()) {
        if (error) *error = QStringLiteral("the folder %1 cannot be written").arg(folderInfo.absoluteFilePath());
        return false;
    }
    const bool ok = createSqliteFile(dir + fileName, error);
    secureHomeFolder(); // a data folder made just now
    return ok;
}

bool CreateServerDatabase(Database& server, const QString& databaseName) {
    if (databaseName.trimmed().isEmpty()) return false;
    QString quoted = databaseName;
    quoted.replace(u'"', QStringLiteral("\"\""));
    // CREATE DATABASE takes no parameters; the quoted identifier is the safe form of the name.
    QString error;
    return server.isOpen() && server.backend()->execRaw(QStringLiteral("create database \"") + quoted + u'"', error);
}

bool TryConnect(Database& test, int serverType, const QString& serverName, const QString& password, const QString& user,
                const QString& database) {
    return test.open(BuildConnectionString(serverType, serverName, database, password, user));
}

bool CreateDefaultKnowledgeBase(Catalogue& catalogue, const QString& adminCode, const QString& adminPassword) {
    const QString folder = defaultDataFolder();
    const QString file = QStringLiteral("DefaultKM.skm");
    if (!QFile::exists(folder + file)) {
        if (!CreateAccessDatabase(folder, file, QString())) return false;
        Database db;
        const bool ok = db.open(BuildConnectionString(0, folder, file, QString(), QString())) &&
                        CreateSchema(db, adminCode, adminPassword);
        db.close();
        if (!ok) {
            // Never leave a file without a schema behind: the next start would take it as made.
            QFile::remove(folder + file);
            QFile::remove(folder + file + QStringLiteral("-wal"));
            QFile::remove(folder + file + QStringLiteral("-shm"));
            return false;
        }
    }
    const QString name = GetString(40406);
    if (catalogue.FindCatalogueEntry(name) >= 0) return true;
    return catalogue.UpdateCatalogue([&](QList<CatalogueEntry>& entries, QString*) {
        for (const CatalogueEntry& e : entries)
            if (e.nameText() == name) return false; // listed meanwhile by another process
        entries << CatalogueEntry::make(0, name, folder, file, QString(), QString());
        return true;
    }) || catalogue.FindCatalogueEntry(name) >= 0;
}

bool NewKnowledgeBase(Catalogue& catalogue, const CatalogueEntry& input, const QString& adminCode,
                      const QString& adminPassword, QString* error) {
    CatalogueEntry entry = input;
    auto fail = [&](const QString& msg) {
        if (error) *error = msg;
        return false;
    };
    if (entry.nameText().trimmed().isEmpty()) return fail(GetString(40715));
    // datalink.dat declares 50 bytes for a name: a longer one would be written beyond its field.
    if (entry.nameText().trimmed().toUtf8().size() > kCatalogueTextWidth) return fail(GetString(40751));
    if (catalogue.FindCatalogueEntry(entry.nameText().trimmed()) >= 0) return fail(GetString(40716).trimmed());
    if (entry.serverType != 0 && entry.serverType != 1) return fail(GetString(40609));
    if (entry.serverNameText().trimmed().isEmpty() && entry.serverType == 1) return fail(GetString(40717));
    if (entry.databaseText().trimmed().isEmpty()) return fail(GetString(40718));
    if (adminCode.trimmed().isEmpty()) return fail(GetString(40611));
    entry.name = entry.nameText().trimmed().toUtf8();
    const QString server = entry.serverNameText().trimmed();
    QString database = entry.databaseText().trimmed();
    const QString password = entry.passwordText();
    const QString user = entry.userText().trimmed();
    if (entry.serverType == 0) {
        // The file goes into the folder given, nowhere else.
        if (database.contains(u'/') || database.contains(u'\\') || database == QStringLiteral(".") ||
            database == QStringLiteral(".."))
            return fail(QStringLiteral("The file name must not contain a folder: %1").arg(database));
        // SQLite files here carry no encryption: accepting a password would promise a protection the
        // file does not have.
        if (!password.isEmpty())
            return fail(QStringLiteral("A file knowledge base cannot be protected by a database password"));
        if (!database.contains(u'.')) database += QStringLiteral(".skm");
    }
    // The name check, the creation and the new entry happen under the catalogue's lock: two programs
    // creating at once both end up listed, and never under one name.
    bool createdFile = false;
    const bool listed = catalogue.UpdateCatalogue(
        [&](QList<CatalogueEntry>& entries, QString* message) {
            auto refuse = [&](const QString& msg) {
                if (message) *message = msg;
                return false;
            };
            for (const CatalogueEntry& e : entries)
                if (e.nameText() == entry.nameText()) return refuse(GetString(40716).trimmed());
            Database db;
            if (entry.serverType == 0) {
                QString folder = server;
                if (!folder.endsWith(u'/')) folder += u'/';
                QString detail;
                // The message asks whether the file exists; any other reason (a folder that cannot be
                // written) is named after it.
                if (!CreateAccessDatabase(folder, database, password, &detail))
                    return refuse(QFile::exists(folder + database)
                                      ? GetString(40708)
                                      : GetString(40708) + QStringLiteral(" (") + detail + u')');
                createdFile = true;
                const bool ok = TryConnect(db, 0, folder, password, user, database) &&
                                CreateSchema(db, adminCode.trimmed(), adminPassword);
                db.close();
                if (!ok) return refuse(GetString(40708)); // the file is removed below
            } else {
                Database serverConn;
                if (!TryConnect(serverConn, 1, server, password, user, QString())) return refuse(GetString(40714));
                if (!CreateServerDatabase(serverConn, database)) return refuse(GetString(40710));
                serverConn.close();
                if (!TryConnect(db, 1, server, password, user, database)) return refuse(GetString(40709));
                if (!CreateSchema(db, adminCode.trimmed(), adminPassword)) return refuse(db.lastError());
            }
            entry.serverName = server.toUtf8();
            entry.database = database.toUtf8();
            entry.user = user.toUtf8();
            entries << entry;
            return true;
        },
        error);
    if (!listed && createdFile) {
        // Unlisted, the new file would only block the next attempt with "already exists".
        QString file = server;
        if (!file.endsWith(u'/')) file += u'/';
        file += database;
        for (const QString& suffix : {QString(), QStringLiteral("-wal"), QStringLiteral("-shm")})
            QFile::remove(file + suffix);
    }
    return listed;
}

} // namespace zel
