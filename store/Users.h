#pragma once

#include <QList>
#include <QString>

#include "platform/Database.h"

namespace zel {

// The logged-in user with the per-user settings; one per process, filled at login.
struct TuserReg {
    QString code;
    QString name;
    QString password; // as typed at login, in memory only
    QString description;
    qint32 sortOrder = 0;
    QString defaultDocument;
    bool showHidden = false;
    bool hasPassword = false;
    bool administrator = false;
    qint32 loginCount = 0;
    bool showWelcome = true;
    QString externalEditor;
    qint32 markTime = 5;
    QString background;
    qint32 mailInterval = 30;
    bool mailAtLogin = true;
};

TuserReg& CurrentUser();

enum class LoginStatus { Ok, UnknownUser, WrongPassword, DatabaseError };

// Checks code and password against userinfo. On success with loadUser the current user record takes
// the row. A password still in the older scrambled form is replaced by a hash.
LoginStatus LoginCheck(Database& db, const QString& code, const QString& password, bool loadUser);
// The system's message for a failed login (" is not a valid user", " password Error", ...).
QString LoginMessage(LoginStatus status, const QString& code);

struct UserRow {
    qint64 id = 0;
    QString code, name, description;
    bool administrator = false;
};

QList<UserRow> ListUsers(Database& db);
// Returns the new id, 0 on failure. New users are never administrators.
qint64 AddUser(Database& db, const TuserReg& rec);
bool UpdateUser(Database& db, qint64 id, const TuserReg& rec);
bool DeleteUser(Database& db, qint64 id);
bool IsUserCodeTaken(Database& db, qint64 id, const QString& code);
// Returns the id of the user with that code, 0 when none.
qint64 FindUserId(Database& db, const QString& code);
bool SetUserPassword(Database& db, const QString& code, const QString& password);
bool SetDefaultDocument(Database& db, const QString& nodeId);
bool SetUserSortOrder(Database& db, int sortOrder);
bool SetShowWelcome(Database& db, const QString& code, bool show);
void LoadUserSettings(Database& db, const QString& code);
bool SaveUserSettings(Database& db);

struct BookmarkItem {
    QString caption;
    QString path; // name path without its final "/" + ".htm"
    qint64 nodeId = 0;
    qint64 bookmarkId = 0;
};
QList<BookmarkItem> FillBookmarkList(Database& db);
qint64 AddBookmark(Database& db, qint64 nodeId); // 0 on failure
bool DeleteBookmark(Database& db, qint64 bookmarkId);

} // namespace zel
