#include "store/Users.h"

#include "platform/Dialect.h"
#include "shell/Strings.h"
#include "store/Nodes.h"
#include "store/PasswordHash.h"
#include "store/Sql.h"

namespace zel {

namespace {
QString codeMatch(Database& db) {
    return dialect::ciEquals(db.dialect(), QStringLiteral("u_code"), QStringLiteral(":code"));
}
} // namespace

TuserReg& CurrentUser() {
    static TuserReg user;
    return user;
}

LoginStatus LoginCheck(Database& db, const QString& code, const QString& password, bool loadUser) {
    Query q(db, QStringLiteral("select * from userinfo where ") + codeMatch(db), {{QStringLiteral(":code"), code}});
    if (!q.isActive()) return LoginStatus::DatabaseError;
    if (!q.next()) return LoginStatus::UnknownUser;
    const qint64 id = q.value(QStringLiteral("id")).toLongLong();
    bool rehash = false;
    if (!VerifyPassword(q.value(QStringLiteral("u_password")).toString(), password, &rehash))
        return LoginStatus::WrongPassword;
    if (loadUser) {
        TuserReg& u = CurrentUser();
        u.code = q.value(QStringLiteral("u_code")).toString();
        u.name = q.value(QStringLiteral("u_name")).toString();
        u.password = password;
        u.sortOrder = int(q.value(QStringLiteral("u_sorttype")).toLongLong());
        u.defaultDocument = q.value(QStringLiteral("u_indexcontent")).toString();
        u.showHidden = q.value(QStringLiteral("u_showhide")).toString() == QStringLiteral("Y");
        u.hasPassword = q.value(QStringLiteral("u_haspassword")).toString() == QStringLiteral("Y");
        u.administrator = q.value(QStringLiteral("u_admin")).toString() == QStringLiteral("Y");
        const QVariant bg = q.value(QStringLiteral("u_background"));
        u.background = bg.isNull() ? QString() : bg.toString();
    }
    if (rehash) {
        // Finish reading before writing: the row is replaced by its hashed form.
        const QString hash = HashPassword(password);
        if (!hash.isEmpty())
            db.exec(QStringLiteral("update userinfo set u_password=:pw where id=:id"),
                    {{QStringLiteral(":pw"), hash}, {QStringLiteral(":id"), id}});
    }
    return LoginStatus::Ok;
}

QString LoginMessage(LoginStatus status, const QString& code) {
    switch (status) {
    case LoginStatus::Ok:
        return {};
    case LoginStatus::UnknownUser:
        return code + GetString(40408);
    case LoginStatus::WrongPassword:
        return code + GetString(40407);
    case LoginStatus::DatabaseError:
        return GetString(40609);
    }
    return {};
}

QList<UserRow> ListUsers(Database& db) {
    QList<UserRow> out;
    Query q(db, QStringLiteral("select id,u_code,u_name,u_description,u_admin from userinfo order by id"));
    while (q.next())
        out << UserRow{q.integer(0), q.text(1), q.text(2), q.text(3), q.text(4) == QStringLiteral("Y")};
    return out;
}

qint64 AddUser(Database& db, const TuserReg& rec) {
    auto orSpace = [](const QString& s) { return s.isEmpty() ? QStringLiteral(" ") : s; };
    const QString hash = HashPassword(rec.password);
    if (hash.isEmpty()) return 0;
    return db.insert(QStringLiteral("insert into userinfo (u_code,u_name,u_description,u_password,logincount,"
                                    "showwelcome) values (:code,:name,:descr,:pw,0,'Y') returning id"),
                     {{QStringLiteral(":code"), rec.code},
                      {QStringLiteral(":name"), orSpace(rec.name)},
                      {QStringLiteral(":descr"), orSpace(rec.description)},
                      {QStringLiteral(":pw"), hash}});
}

bool UpdateUser(Database& db, qint64 id, const TuserReg& rec) {
    return db.exec(QStringLiteral("update userinfo set u_code=:code,u_name=:name,u_description=:descr where id=:id"),
                   {{QStringLiteral(":code"), rec.code},
                    {QStringLiteral(":name"), rec.name},
                    {QStringLiteral(":descr"), rec.description},
                    {QStringLiteral(":id"), id}});
}

bool DeleteUser(Database& db, qint64 id) {
    return db.exec(QStringLiteral("delete from userinfo where id=:id"), {{QStringLiteral(":id"), id}});
}

bool IsUserCodeTaken(Database& db, qint64 id, const QString& code) {
    return db.scalar(QStringLiteral("select count(*) from userinfo where id<>:id and ") + codeMatch(db),
                     {{QStringLiteral(":id"), id}, {QStringLiteral(":code"), code}})
               .toLongLong() > 0;
}

qint64 FindUserId(Database& db, const QString& code) {
    return db
        .scalar(QStringLiteral("select id from userinfo where ") + codeMatch(db), {{QStringLiteral(":code"), code}})
        .toLongLong();
}

bool SetUserPassword(Database& db, const QString& code, const QString& password) {
    const QString hash = HashPassword(password);
    if (hash.isEmpty()) return false;
    if (!db.exec(QStringLiteral("update userinfo set u_password=:password Where ") + codeMatch(db),
                 {{QStringLiteral(":password"), hash}, {QStringLiteral(":code"), code}}))
        return false;
    TuserReg& u = CurrentUser();
    if (u.code.compare(code, Qt::CaseInsensitive) == 0) u.password = password;
    return true;
}

bool SetDefaultDocument(Database& db, const QString& nodeId) {
    TuserReg& u = CurrentUser();
    if (!db.exec(QStringLiteral("update userinfo set u_indexcontent=:indexcontent Where ") + codeMatch(db),
                 {{QStringLiteral(":indexcontent"), nodeId.trimmed().toLongLong()}, {QStringLiteral(":code"), u.code}}))
        return false;
    u.defaultDocument = nodeId;
    return true;
}

bool SetUserSortOrder(Database& db, int sortOrder) {
    TuserReg& u = CurrentUser();
    if (!db.exec(QStringLiteral("update userinfo set u_sorttype=:sorttype Where ") + codeMatch(db),
                 {{QStringLiteral(":sorttype"), sortOrder}, {QStringLiteral(":code"), u.code}}))
        return false;
    u.sortOrder = sortOrder;
    return true;
}

bool SetShowWelcome(Database& db, const QString& code, bool show) {
    if (!db.exec(QStringLiteral("update userinfo set showwelcome=:showwelcome Where ") + codeMatch(db),
                 {{QStringLiteral(":showwelcome"), sql::yn(show)}, {QStringLiteral(":code"), code}}))
        return false;
    CurrentUser().showWelcome = show;
    return true;
}

void LoadUserSettings(Database& db, const QString& code) {
    Query q(db, QStringLiteral("select * from userinfo where ") + codeMatch(db), {{QStringLiteral(":code"), code}});
    if (!q.next()) return;
    TuserReg& u = CurrentUser();
    u.loginCount = int(q.value(QStringLiteral("logincount")).toLongLong());
    u.showWelcome = q.value(QStringLiteral("showwelcome")).toString() != QStringLiteral("N");
    u.externalEditor = q.value(QStringLiteral("exefile")).toString();
    if (u.externalEditor.isEmpty()) u.externalEditor = QStringLiteral("FRONTPG.EXE");
    u.markTime = int(q.value(QStringLiteral("MarkTime")).toLongLong());
    if (u.markTime == 0) u.markTime = 5;
    u.background = q.value(QStringLiteral("background")).toString();
    u.mailInterval = int(q.value(QStringLiteral("autoMailTime")).toLongLong());
    if (u.mailInterval == 0) u.mailInterval = 30;
    u.mailAtLogin = q.value(QStringLiteral("rsMailAtLogin")).toString() != QStringLiteral("N");
}

bool SaveUserSettings(Database& db) {
    const TuserReg& u = CurrentUser();
    return db.exec(QStringLiteral("update userinfo set u_sorttype=:sorttype,u_indexcontent=:indexcontent,"
                                  "u_showhide=:showhide,u_haspassword=:haspassword,logincount=:logincount,"
                                  "showWelcome=:showwelcome,rsMailAtLogin=:mailatlogin,background=:background,"
                                  "exefile=:exefile,MarkTime=:marktime,autoMailTime=:automailtime Where ") +
                       codeMatch(db),
                   {{QStringLiteral(":sorttype"), u.sortOrder},
                    {QStringLiteral(":indexcontent"), u.defaultDocument.trimmed().toLongLong()},
                    {QStringLiteral(":showhide"), sql::yn(u.showHidden)},
                    {QStringLiteral(":haspassword"), sql::yn(u.hasPassword)},
                    {QStringLiteral(":logincount"), u.loginCount + 1},
                    {QStringLiteral(":showwelcome"), sql::yn(u.showWelcome)},
                    {QStringLiteral(":mailatlogin"), sql::yn(u.mailAtLogin)},
                    {QStringLiteral(":background"), u.background},
                    {QStringLiteral(":exefile"), u.externalEditor},
                    {QStringLiteral(":marktime"), u.markTime},
                    {QStringLiteral(":automailtime"), u.mailInterval},
                    {QStringLiteral(":code"), u.code}});
}

QList<BookmarkItem> FillBookmarkList(Database& db) {
    QList<BookmarkItem> out;
    if (!db.isOpen()) return out;
    QList<std::pair<qint64, qint64>> rows;
    {
        Query q(db,
                QStringLiteral("select id,infoid from userbookmark Where ") + codeMatch(db) +
                    QStringLiteral(" order by id"),
                {{QStringLiteral(":code"), CurrentUser().code}});
        while (q.next())
            rows << std::make_pair(q.integer(0), q.integer(1));
    }
    for (const auto& [bid, nid] : rows) {
        BookmarkItem b;
        b.bookmarkId = bid;
        b.nodeId = nid;
        const QString id = QString::number(nid);
        b.caption = db.scalar(QStringLiteral("select caption from info where id=:id"), {{QStringLiteral(":id"), nid}})
                        .toString();
        QString path = GetChildName(db, id);
        if (path.endsWith(u'/')) path.chop(1);
        b.path = path + QStringLiteral(".htm");
        out << b;
    }
    return out;
}

qint64 AddBookmark(Database& db, qint64 nodeId) {
    return db.insert(QStringLiteral("insert into userbookmark (u_code,infoid) values (:code,:id) returning id"),
                     {{QStringLiteral(":code"), CurrentUser().code}, {QStringLiteral(":id"), nodeId}});
}

bool DeleteBookmark(Database& db, qint64 bookmarkId) {
    return db.exec(QStringLiteral("delete from  userbookmark  Where id=:id"), {{QStringLiteral(":id"), bookmarkId}});
}

} // namespace zel
