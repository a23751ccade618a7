#include "store/Nodes.h"

#include "platform/CodePage.h"
#include "shell/Strings.h"
#include "store/Compression.h"
#include "store/IndexHooks.h"
#include "store/Sql.h"
#include "store/Users.h"

namespace zel {

namespace {
QString withCrLf(const QStringList& lines) {
    QString s;
    for (const QString& l : lines)
        s += l + QStringLiteral("\r\n");
    return s;
}

// Lines end in CR LF in the stored form, whatever the text had.
QString normaliseLineEnds(const QString& text) {
    QString s = text;
    s.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    s.replace(u'\r', u'\n');
    s.replace(QStringLiteral("\n"), QStringLiteral("\r\n"));
    return s;
}
} // namespace

QString GetChildPath(Database& db, const QString& id) {
    const QString t = id.trimmed();
    if (t == QStringLiteral("0")) return QStringLiteral("/");
    Query q(db, QStringLiteral("select fullpath from info where id=:id"), {{QStringLiteral(":id"), t.toLongLong()}});
    if (!q.next()) return {};
    return q.text(0) + t + u'/';
}

QString GetChildName(Database& db, const QString& id) {
    const QString t = id.trimmed();
    if (t == QStringLiteral("0")) return QStringLiteral("/");
    Query q(db, QStringLiteral("select caption,fullname from info where id=:id"),
            {{QStringLiteral(":id"), t.toLongLong()}});
    if (!q.next()) return {};
    return q.text(1) + q.text(0) + u'/';
}

int MaxSortNumber(Database& db, const QString& parentId) {
    bool ok = false;
    const QVariant v =
        db.scalar(QStringLiteral("select Max(sorttype) from info Where parentnode=:id and ") + sql::live(),
                  {{QStringLiteral(":id"), parentId.trimmed().toLongLong()}}, &ok);
    return ok ? int(v.toLongLong()) : 0;
}

QString DefaultDocument(bool placeholder, const QString& background) {
    QStringList lines{QStringLiteral("<!DOCTYPE HTML PUBLIC \"-//W3C//DTD HTML 4.0 Transitional//EN\">"),
                      QStringLiteral("<html>"),
                      QStringLiteral("  <head>"),
                      QStringLiteral("    <META http-equiv=Content-Type content=\"text/html; charset=utf-8\">"),
                      QStringLiteral("    <META content=\"MSHTML 6.00.2800.1106\" name=GENERATOR>"),
                      QStringLiteral("  </head>")};
    lines << (background.isEmpty() ? QStringLiteral("  <body>")
                                   : QStringLiteral("  <body background=\"%1\">").arg(background));
    if (placeholder) lines << QStringLiteral("    <p> %1</p>").arg(GetString(41001));
    lines << QStringLiteral("  </body>") << QStringLiteral("</html>");
    return withCrLf(lines);
}

QByteArray StoredContent(const QString& text, qint64* size) {
    const QByteArray raw = encodeUtf16LeWithBom(normaliseLineEnds(text));
    if (size) *size = raw.size();
    return CompressStream(raw);
}

QString InsertNode(Database& db, const Tinfoproperty& rec, const QString& parentId) {
    const QString parent = parentId.trimmed();
    QString fullpath = QStringLiteral("/"), fullname = QStringLiteral("/");
    if (parent != QStringLiteral("0")) {
        fullpath = GetChildPath(db, parent);
        fullname = GetChildName(db, parent);
        if (fullpath.isEmpty() || fullname.isEmpty()) return {}; // no such parent: never store broken paths
    }
    QString caption = rec.caption;
    caption.replace(QStringLiteral("\r\n"), QStringLiteral(" "));
    const TuserReg& user = CurrentUser();
    const QString content = rec.content.isEmpty() ? DefaultDocument(rec.placeholder, user.background) : rec.content;
    const QDateTime now = QDateTime::currentDateTime();
    const qint64 id = db.insert(
        QStringLiteral("insert into info (caption,haspassword,hashide,haschild,createdate,modifydate,parentnode,"
                       "fullpath,fullname,sorttype,mailtype,actor,content) values (:caption,:haspassword,:hashide,"
                       "'N',:now,:now,:parent,:fullpath,:fullname,:sorttype,:mailtype,:actor,:content) returning id"),
        {{QStringLiteral(":caption"), caption.isEmpty() ? QVariant() : QVariant(caption)},
         {QStringLiteral(":haspassword"), rec.isProtected ? QStringLiteral("Y") : QStringLiteral("N")},
         {QStringLiteral(":hashide"), rec.hidden ? QStringLiteral("Y") : QStringLiteral("N")},
         {QStringLiteral(":now"), now},
         {QStringLiteral(":parent"), parent.toLongLong()},
         {QStringLiteral(":fullpath"), fullpath},
         {QStringLiteral(":fullname"), fullname},
         {QStringLiteral(":sorttype"), rec.sortNumber},
         {QStringLiteral(":mailtype"), rec.mailType.isEmpty() ? QVariant() : QVariant(rec.mailType)},
         {QStringLiteral(":actor"), user.name.isEmpty() ? QVariant() : QVariant(user.name.left(20))},
         {QStringLiteral(":content"), StoredContent(content)}});
    if (id <= 0) return {};
    SearchIndexNodesChanged(db, {id});
    return QString::number(id);
}

int CountLiveNodes(Database& db) {
    return int(db.scalar(QStringLiteral("select count(*) from info where ") + sql::live()).toLongLong());
}

int CountLiveFolders(Database& db) {
    return int(db.scalar(QStringLiteral("select count(*) from info where ") + sql::live() +
                         QStringLiteral(" and haschild='Y'"))
                   .toLongLong());
}

} // namespace zel
