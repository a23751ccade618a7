#include "store/Nodes.h"

#include <QFileInfo>
#include <QRandomGenerator>
#include <QSet>
#include <algorithm>

#include "platform/CodePage.h"
#include "platform/Dialect.h"
#include "shell/RuntimeSettings.h"
#include "shell/Strings.h"
#include "store/Compression.h"
#include "store/DocumentUnlocks.h"
#include "store/PasswordHash.h"
#include "store/Sql.h"
#include "store/Users.h"

namespace zel {

namespace {

const QString kRoot = QStringLiteral("0");

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

QString cleanCaption(const QString& caption) {
    QString c = caption;
    c.replace(QStringLiteral("\r\n"), QStringLiteral(" "));
    return c;
}

// Both databases count text lengths in code points.
qint64 charLength(const QString& s) {
    return s.toUcs4().size();
}

bool isBlank(const QString& id) {
    return id.trimmed().isEmpty();
}

Params subtreeParams(Database& db, const QString& idPath) {
    return {{QStringLiteral(":pfx"), dialect::prefixPattern(db.dialect(), idPath)}};
}
QString subtreeCondition(Database& db) {
    return dialect::prefixCondition(db.dialect(), QStringLiteral("fullpath"), QStringLiteral(":pfx"));
}

// Rewrites the paths of every row below oldIdPath (any state): the leading old own paths become the new.
bool rewriteSubtree(Database& db, const QString& oldIdPath, const QString& newIdPath, const QString& oldNamePath,
                    const QString& newNamePath) {
    Params p = subtreeParams(db, oldIdPath);
    p.emplace_back(QStringLiteral(":nn"), newNamePath);
    p.emplace_back(QStringLiteral(":nstart"), charLength(oldNamePath) + 1);
    QString set = QStringLiteral("fullname=cast(:nn as varchar)||substr(fullname,cast(:nstart as integer))");
    if (oldIdPath != newIdPath) {
        p.emplace_back(QStringLiteral(":np"), newIdPath);
        p.emplace_back(QStringLiteral(":pstart"), charLength(oldIdPath) + 1);
        set += QStringLiteral(",fullpath=cast(:np as varchar)||substr(fullpath,cast(:pstart as integer))");
    }
    return db.exec(QStringLiteral("update info set ") + set + QStringLiteral(" where ") + subtreeCondition(db), p);
}

const QString kItemColumns = QStringLiteral(
    "id,caption,haschild,createdate,modifydate,sorttype,inbox,mailid,mailtype,mimeid,readtype,fontcolor");

NodeItem nodeItemFrom(const Query& q) {
    NodeItem n;
    n.id = q.integer(0);
    n.caption = q.text(1);
    n.hasChild = q.text(2);
    n.created = dbDateTime(q.value(3));
    n.modified = dbDateTime(q.value(4));
    n.sortNumber = qint32(q.integer(5));
    n.inbox = q.text(6);
    n.mailId = q.integer(7);
    n.mailType = q.text(8);
    n.mimeId = q.integer(9);
    n.readType = q.text(10);
    n.fontColor = q.integer(11);
    return n;
}

} // namespace

FileListRow ReadFileListColumns(const Query& q) {
    FileListRow r;
    r.id = q.integer(0);
    r.caption = q.text(1);
    r.fileSize = q.integer(2);
    r.fullName = q.text(3);
    r.fontColor = q.integer(4);
    r.readType = q.text(5);
    r.hasDelete = q.text(6);
    r.actor = q.text(7);
    r.keywords = q.text(8);
    r.hasChild = q.text(9);
    r.created = dbDateTime(q.value(10));
    r.modified = dbDateTime(q.value(11));
    r.sortNumber = qint32(q.integer(12));
    r.inbox = q.text(13);
    r.mailType = q.text(14);
    return r;
}

namespace {

const QString kFileRowSelect = QStringLiteral(
    "select info.id as id,caption,filesize,fullname,fontcolor,readtype,info.hasdelete as hasdelete,actor,key_word,"
    "haschild,createdate,modifydate,sorttype,inbox,mailtype,mailaddress,account,received,sent,directsend "
    "from info left join mail on info.mailid=mail.id ");

FileListRow fileRowFrom(const Query& q) {
    FileListRow r = ReadFileListColumns(q);
    r.mailAddress = q.text(15);
    r.account = q.text(16);
    r.received = dbDateTime(q.value(17));
    r.sent = dbDateTime(q.value(18));
    r.directSend = q.text(19);
    return r;
}

Params systemFolderParams() {
    const TRuntimeReg& reg = RuntimeSettings();
    return {{QStringLiteral(":outbox"), qint64(reg.outboxNode)}, {QStringLiteral(":sendbox"), qint64(reg.sendboxNode)}};
}

QString fileRowConditions() {
    return QStringLiteral(" and (info.inbox is null or info.inbox<>'Y') and ") + sql::live(QStringLiteral("info")) +
           QStringLiteral(" and info.id<>:outbox and info.id<>:sendbox");
}

int countBelow(Database& db, const QString& id, const QString& extra) {
    const QString path = GetChildPath(db, id);
    if (path.isEmpty() || path == QStringLiteral("/")) return 0;
    return int(db.scalar(QStringLiteral("select count(*) from info where ") + sql::live() + extra +
                             QStringLiteral(" and ") + subtreeCondition(db),
                         subtreeParams(db, path))
                   .toLongLong());
}

} // namespace

// --- Paths and lookups ---------------------------------------------------------------------------

QString GetChildPath(Database& db, const QString& id) {
    const QString t = id.trimmed();
    if (t == kRoot) return QStringLiteral("/");
    Query q(db, QStringLiteral("select fullpath from info where id=:id"), {{QStringLiteral(":id"), t.toLongLong()}});
    if (!q.next()) return {};
    return q.text(0) + t + u'/';
}

QString GetChildName(Database& db, const QString& id) {
    const QString t = id.trimmed();
    if (t == kRoot) return QStringLiteral("/");
    Query q(db, QStringLiteral("select caption,fullname from info where id=:id"),
            {{QStringLiteral(":id"), t.toLongLong()}});
    if (!q.next()) return {};
    return q.text(1) + q.text(0) + u'/';
}

ChildPrefixes GetChildPrefixes(Database& db, const QString& parentId) {
    const QString t = parentId.trimmed();
    if (t == kRoot) return {QStringLiteral("/"), QStringLiteral("/")};
    Query q(db, QStringLiteral("select caption,fullpath,fullname from info where id=:id"),
            {{QStringLiteral(":id"), t.toLongLong()}});
    if (!q.next()) return {};
    return {q.text(2) + q.text(0) + u'/', q.text(1) + t + u'/'};
}

bool LockNodeRows(Database& db, QList<qint64> ids, bool exclusive) {
    // SQLite: the write transaction already holds the whole file.
    if (db.dialect() == Dialect::Sqlite || ids.isEmpty()) return true;
    std::sort(ids.begin(), ids.end());
    ids.erase(std::unique(ids.begin(), ids.end()), ids.end());
    for (qsizetype at = 0; at < ids.size(); at += sql::kIdChunk) {
        Params p;
        const QString list = sql::inList(ids.mid(at, sql::kIdChunk), p);
        Query q(db,
                QStringLiteral("select id from info where id in (%1) order by id ").arg(list) +
                    (exclusive ? QStringLiteral("for update") : QStringLiteral("for share")),
                p);
        if (!q.isActive()) return false;
    }
    return true;
}

namespace {
// "/12/34/" -> 12, 34
QList<qint64> pathIds(const QString& idPath) {
    QList<qint64> ids;
    const auto parts = QStringView(idPath).split(u'/', Qt::SkipEmptyParts);
    for (const auto& p : parts)
        ids << p.toLongLong();
    return ids;
}
} // namespace

std::optional<LockedTarget> LockTarget(Database& db, const QString& targetId, const QList<qint64>& extra,
                                       bool exclusive) {
    const QString t = targetId.trimmed();
    if (t.isEmpty()) return std::nullopt;
    for (int round = 0; round < 32; ++round) {
        const ChildPrefixes before = GetChildPrefixes(db, t);
        if (before.path.isEmpty()) return std::nullopt;
        if (!LockNodeRows(db, extra + pathIds(before.path), exclusive)) return std::nullopt;
        const ChildPrefixes now = GetChildPrefixes(db, t);
        if (now.path.isEmpty()) return std::nullopt;
        // Moved before the lock was had: lock its new way to the root.
        if (now.path != before.path) continue;
        LockedTarget r{now, true};
        const QList<qint64> chain = pathIds(now.path);
        if (!chain.isEmpty()) {
            Params p;
            const QString list = sql::inList(chain, p);
            bool ok = false;
            const qint64 live =
                db.scalar(QStringLiteral("select count(*) from info where id in (%1) and ").arg(list) + sql::live(), p,
                          &ok)
                    .toLongLong();
            if (!ok) return std::nullopt;
            r.live = live == chain.size();
        }
        return r;
    }
    return std::nullopt;
}

QString GetNodeCaption(Database& db, const QString& id) {
    return db
        .scalar(QStringLiteral("select caption from info where id=:id"), {{QStringLiteral(":id"), sql::idValue(id)}})
        .toString();
}

namespace {
// The live rows whose name path is the given one; the length test keeps the case-folded comparison off
// most rows (folding maps each character to one character).
Query* findByName(Database& db, Query& q, const QString& namePath, const QString& columns) {
    QString p = namePath;
    p.replace(u'\\', u'/');
    if (p.isEmpty()) return nullptr;
    if (!p.endsWith(u'/')) p += u'/';
    q.prepare(QStringLiteral("select ") + columns +
              QStringLiteral(" from info where length(fullname)+length(caption)=cast(:len as integer) and ") +
              dialect::ciEquals(db.dialect(), QStringLiteral("fullname||caption||'/'"), QStringLiteral(":path")) +
              QStringLiteral(" and ") + sql::live() + QStringLiteral(" order by id"));
    q.bind(QStringLiteral(":len"), charLength(p) - 1);
    q.bind(QStringLiteral(":path"), p);
    if (!q.exec()) return nullptr;
    return &q;
}
} // namespace

QString FindNodeByName(Database& db, const QString& namePath) {
    Query q(db);
    if (!findByName(db, q, namePath, QStringLiteral("id")) || !q.next()) return kRoot;
    return QString::number(q.integer(0));
}

QString MarkFolderByName(Database& db, const QString& namePath) {
    qint64 id = 0;
    QString hasChild;
    {
        Query q(db);
        if (!findByName(db, q, namePath, QStringLiteral("id,haschild")) || !q.next()) return kRoot;
        id = q.integer(0);
        hasChild = q.text(1);
    }
    if (hasChild != QStringLiteral("Y"))
        db.exec(QStringLiteral("update info set haschild='Y' where id=:id"), {{QStringLiteral(":id"), id}});
    return QString::number(id);
}

bool IsSiblingCaptionTaken(Database& db, const QString& parentId, const QString& excludedId, const QString& caption) {
    const QVariant n =
        db.scalar(QStringLiteral("select count(*) from info where parentnode=:parent and id<>:excluded and ") +
                      dialect::ciEquals(db.dialect(), QStringLiteral("caption"), QStringLiteral(":caption")) +
                      QStringLiteral(" and ") + sql::live(),
                  {{QStringLiteral(":parent"), sql::idValue(parentId)},
                   {QStringLiteral(":excluded"), isBlank(excludedId) ? qint64(0) : sql::idValue(excludedId)},
                   {QStringLiteral(":caption"), cleanCaption(caption)}});
    return n.toLongLong() > 0;
}

QString UniqueSiblingCaption(Database& db, const QString& parentId, const QString& fileName) {
    QString name = fileName;
    name.replace(u'\\', u'/');
    QString caption = QFileInfo(name.section(u'/', -1)).completeBaseName();
    while (IsSiblingCaptionTaken(db, parentId, kRoot, caption))
        caption += u'_' + QString::number(QRandomGenerator::global()->bounded(10000));
    return caption;
}

int MaxSortNumber(Database& db, const QString& parentId) {
    bool ok = false;
    const QVariant v =
        db.scalar(QStringLiteral("select Max(sorttype) from info Where parentnode=:id and ") + sql::live(),
                  {{QStringLiteral(":id"), sql::idValue(parentId)}}, &ok);
    return ok ? int(v.toLongLong()) : 0;
}

bool IsInboxNode(Database& db, const QString& id) {
    return db.scalar(QStringLiteral("select inbox from info where id=:id"), {{QStringLiteral(":id"), sql::idValue(id)}})
               .toString() == QStringLiteral("Y");
}

QString GetMailId(Database& db, const QString& id) {
    Query q(db, QStringLiteral("select mailid from info where id=:id"), {{QStringLiteral(":id"), sql::idValue(id)}});
    if (!q.next()) return kRoot;
    return QString::number(q.integer(0));
}

// --- Counts --------------------------------------------------------------------------------------

int CountLiveNodes(Database& db) {
    return int(db.scalar(QStringLiteral("select count(*) from info where ") + sql::live()).toLongLong());
}

int CountLiveFolders(Database& db) {
    return int(db.scalar(QStringLiteral("select count(*) from info where ") + sql::live() +
                         QStringLiteral(" and haschild='Y'"))
                   .toLongLong());
}

int CountSubtree(Database& db, const QString& id) {
    return countBelow(db, id, {});
}
int CountSubfolders(Database& db, const QString& id) {
    return countBelow(db, id, QStringLiteral(" and haschild='Y'"));
}

// --- Listings ------------------------------------------------------------------------------------

QList<NodeItem> ListChildren(Database& db, const QString& parentId, const PasswordPrompt& prompt) {
    const QString parent = parentId.trimmed();
    if (parent != kRoot && !CheckDocumentPassword(db, parent, prompt)) return {};
    QList<NodeItem> out;
    Query q(db,
            QStringLiteral("select ") + kItemColumns + QStringLiteral(" from info where parentnode=:parentid and ") +
                sql::live() + QStringLiteral(" order by sorttype,id"),
            {{QStringLiteral(":parentid"), parent.toLongLong()}});
    while (q.next())
        out << nodeItemFrom(q);
    return out;
}

std::optional<NodeItem> ReadNodeItem(Database& db, const QString& id) {
    Query q(db, QStringLiteral("select ") + kItemColumns + QStringLiteral(" from info where id=:id"),
            {{QStringLiteral(":id"), sql::idValue(id)}});
    if (!q.next()) return std::nullopt;
    return nodeItemFrom(q);
}

QList<FileListRow> ListFileRows(Database& db, const QString& parentId) {
    Params p = systemFolderParams();
    p.emplace_back(QStringLiteral(":parentid"), sql::idValue(parentId));
    QList<FileListRow> out;
    Query q(db,
            kFileRowSelect + QStringLiteral("where parentnode=:parentid") + fileRowConditions() +
                QStringLiteral(" order by sorttype,info.id"),
            p);
    while (q.next())
        out << fileRowFrom(q);
    return out;
}

std::optional<FileListRow> ReadFileRow(Database& db, const QString& id) {
    Params p = systemFolderParams();
    p.emplace_back(QStringLiteral(":id"), sql::idValue(id));
    Query q(db, kFileRowSelect + QStringLiteral("where info.id=:id") + fileRowConditions(), p);
    if (!q.next()) return std::nullopt;
    return fileRowFrom(q);
}

// --- Changes -------------------------------------------------------------------------------------

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
    QString lines = normaliseLineEnds(text);
    // Every line ends in CR LF, the last one included.
    if (!lines.isEmpty() && !lines.endsWith(QStringLiteral("\r\n"))) lines += QStringLiteral("\r\n");
    const QByteArray raw = encodeUtf16LeWithBom(lines);
    if (size) *size = raw.size();
    return CompressStream(raw);
}

QString InsertNode(Database& db, const Tinfoproperty& rec, const QString& parentId) {
    const QString parent = parentId.trimmed();
    const QString caption = cleanCaption(rec.caption);
    const TuserReg& user = CurrentUser();
    const QString content = rec.content.isEmpty() ? DefaultDocument(rec.placeholder, user.background) : rec.content;
    const QByteArray stored = StoredContent(content);
    if (stored.isEmpty()) return {};
    const QDateTime now = QDateTime::currentDateTime();
    Transaction tx(db);
    if (!tx.ok()) return {};
    // The parent's paths are read under its lock: a rename or move of it or above it either ends
    // before (and is seen) or waits for this row (and rewrites it too).
    const auto target = LockTarget(db, parent, {}, false);
    if (!target) return {}; // no such parent: never store broken paths
    if (!target->live) {
        db.setError(QStringLiteral("the parent %1 is in the recycle bin").arg(parent));
        return {};
    }
    const QString fullpath = target->prefixes.path, fullname = target->prefixes.name;
    // New rows are live as "N" rather than null: moving them to the bin and back then keeps each row's
    // size, so SQLite changes it in place instead of rewriting its content.
    const qint64 id = db.insert(
        QStringLiteral(
            "insert into info (hasdelete,caption,haspassword,hashide,haschild,createdate,modifydate,parentnode,"
            "fullpath,fullname,sorttype,mailtype,actor,content) values ('N',:caption,:haspassword,:hashide,"
            "'N',:now,:now,:parent,:fullpath,:fullname,:sorttype,:mailtype,:actor,:content) returning id"),
        {{QStringLiteral(":caption"), caption.isEmpty() ? QVariant() : QVariant(caption)},
         {QStringLiteral(":haspassword"), sql::yn(rec.isProtected)},
         {QStringLiteral(":hashide"), sql::yn(rec.hidden)},
         {QStringLiteral(":now"), now},
         {QStringLiteral(":parent"), parent.toLongLong()},
         {QStringLiteral(":fullpath"), fullpath},
         {QStringLiteral(":fullname"), fullname},
         {QStringLiteral(":sorttype"), rec.sortNumber},
         {QStringLiteral(":mailtype"), rec.mailType.isEmpty() ? QVariant() : QVariant(rec.mailType)},
         {QStringLiteral(":actor"), user.name.isEmpty() ? QVariant() : QVariant(user.name.left(20))},
         {QStringLiteral(":content"), stored}});
    if (id <= 0) return {};
    if (!tx.commit()) return {};
    return QString::number(id);
}

bool RenameNode(Database& db, const QString& newCaption, const QString& id) {
    if (isBlank(id)) return false;
    const qint64 nid = sql::idValue(id);
    const QString caption = cleanCaption(newCaption);
    Transaction tx(db);
    if (!tx.ok()) return false;
    // Adds below the node lock it too: they either end before the subtree is rewritten or wait.
    if (!LockNodeRows(db, {nid}, true)) return false;
    QString fullpath, oldCaption, fullname;
    {
        Query q(db, QStringLiteral("select fullpath,haschild,caption,fullname from info where id=:id"),
                {{QStringLiteral(":id"), nid}});
        if (!q.next()) return false;
        fullpath = q.text(0);
        oldCaption = q.text(2);
        fullname = q.text(3);
    }
    if (!db.exec(QStringLiteral("update info set caption=:caption where id=:id"),
                 {{QStringLiteral(":caption"), caption}, {QStringLiteral(":id"), nid}}))
        return false;
    // The subtree is rewritten whatever haschild says: a stale flag must not leave stale paths behind.
    const QString ownPath = fullpath + QString::number(nid) + u'/';
    if (!rewriteSubtree(db, ownPath, ownPath, fullname + oldCaption + u'/', fullname + caption + u'/')) return false;
    return tx.commit();
}

int MoveNode(Database& db, const QString& newParentId, const QString& id) {
    if (isBlank(id) || isBlank(newParentId)) return 0;
    const qint64 nid = sql::idValue(id);
    const QString parent = newParentId.trimmed();
    Transaction tx(db);
    if (!tx.ok()) return 0;
    // The node and the target's way to the root are locked before anything is checked: two opposite
    // moves cannot both see the other's node outside their own subtree.
    const auto target = LockTarget(db, parent, {nid}, true);
    if (!target) return 0;
    if (!target->live) {
        db.setError(QStringLiteral("the target %1 is in the recycle bin").arg(parent));
        return 0;
    }
    QString caption, fullpath, fullname;
    {
        Query q(db,
                QStringLiteral("select id,haschild,sorttype,caption,parentnode,fullpath,fullname from info "
                               "where id=:id"),
                {{QStringLiteral(":id"), nid}});
        if (!q.next()) return 0;
        caption = q.text(3);
        fullpath = q.text(5);
        fullname = q.text(6);
    }
    const QString oldOwnPath = fullpath + QString::number(nid) + u'/';
    // A node cannot go below itself: its subtree would lose its way to the root.
    if (parent.toLongLong() == nid || target->prefixes.path.startsWith(oldOwnPath)) {
        db.setError(QStringLiteral("the target %1 lies below node %2").arg(parent).arg(nid));
        return 0;
    }
    const ChildPrefixes& to = target->prefixes;
    const int sort = MaxSortNumber(db, parent) + 1;
    if (!db.exec(QStringLiteral("update info set parentnode=:parent,fullpath=:fullpath,fullname=:fullname,"
                                "sorttype=:sorttype where id=:id"),
                 {{QStringLiteral(":parent"), parent.toLongLong()},
                  {QStringLiteral(":fullpath"), to.path},
                  {QStringLiteral(":fullname"), to.name},
                  {QStringLiteral(":sorttype"), sort},
                  {QStringLiteral(":id"), nid}}))
        return 0;
    const QString newOwnPath = to.path + QString::number(nid) + u'/';
    if (!rewriteSubtree(db, oldOwnPath, newOwnPath, fullname + caption + u'/', to.name + caption + u'/')) return 0;
    return tx.commit() ? sort : 0;
}

std::optional<CopiedNode> CopyNodeRecord(Database& db, bool copyChildFlag, const QString& sourceId,
                                         const QString& newParentId, const ChildPrefixes& parentPrefixes) {
    const QString h = copyChildFlag ? QStringLiteral("haschild,") : QString();
    qint64 newId = 0;
    QString caption;
    {
        Query q(db,
                // The copy keeps the document password: a copy must not open what the original protects.
                QStringLiteral("insert into info (hasdelete,parentnode,fullpath,fullname,caption,sorttype,") + h +
                    QStringLiteral("haszip,filesize,createdate,modifydate,key_word,haspassword,d_password,content) "
                                   "select 'N',cast(:parent as bigint),cast(:fullpath as varchar),cast(:fullname as "
                                   "varchar),caption,sorttype,") +
                    h +
                    QStringLiteral("haszip,filesize,createdate,modifydate,key_word,haspassword,d_password,content "
                                   "from info where id=:source returning id,caption"),
                {{QStringLiteral(":parent"), sql::idValue(newParentId)},
                 {QStringLiteral(":fullpath"), parentPrefixes.path},
                 {QStringLiteral(":fullname"), parentPrefixes.name},
                 {QStringLiteral(":source"), sql::idValue(sourceId)}});
        if (!q.next()) return std::nullopt;
        newId = q.integer(0);
        caption = q.text(1);
    }
    if (newId <= 0) return std::nullopt;
    if (!db.exec(
            QStringLiteral(
                "insert into accessories (hasdelete,infoid,filename,filesize,haszip,createtime,lasttime,"
                "document) select 'N',cast(:newid as bigint),filename,filesize,haszip,createtime,lasttime,document "
                "from accessories where infoid=:source and ") +
                sql::live(),
            {{QStringLiteral(":newid"), newId}, {QStringLiteral(":source"), sql::idValue(sourceId)}}))
        return std::nullopt;
    const QString sid = QString::number(newId);
    return CopiedNode{sid, {parentPrefixes.name + caption + u'/', parentPrefixes.path + sid + u'/'}};
}

QString CopySubtree(Database& db, bool withChildren, const QString& targetId, const QString& sourceId,
                    const Progress& progress) {
    if (isBlank(targetId) || isBlank(sourceId)) return {};
    Transaction tx(db);
    if (!tx.ok()) return {};
    const auto locked = LockTarget(db, targetId, {}, false);
    if (!locked) return {};
    if (!locked->live) {
        db.setError(QStringLiteral("the target %1 is in the recycle bin").arg(targetId.trimmed()));
        return {};
    }
    const ChildPrefixes target = locked->prefixes;
    QString sourceHasChild;
    {
        Query q(db, QStringLiteral("select id,haschild from info where id=:id"),
                {{QStringLiteral(":id"), sql::idValue(sourceId)}});
        if (!q.next()) return {};
        sourceHasChild = q.text(1);
    }
    // The live subtree is read in full before anything is written, so a target inside the source
    // never sees its own copies.
    struct Item {
        qint64 source;
        qsizetype parent; // index of the parent's item, -1 for the top node
    };
    QList<Item> items{{sql::idValue(sourceId), -1}};
    if (withChildren && sourceHasChild == QStringLiteral("Y")) {
        QList<qsizetype> pending{0};
        QSet<qint64> seen{items[0].source};
        while (!pending.isEmpty()) {
            const qsizetype at = pending.takeFirst();
            Query q(db,
                    QStringLiteral("select id,haschild from info where parentnode=:id and ") + sql::live() +
                        QStringLiteral(" order by id"),
                    {{QStringLiteral(":id"), items[at].source}});
            if (!q.isActive()) return {};
            while (q.next()) {
                const qint64 child = q.integer(0);
                if (seen.contains(child)) continue;
                seen.insert(child);
                items.append({child, at});
                if (q.text(1) == QStringLiteral("Y")) pending.append(items.size() - 1);
            }
        }
    }
    const int maximum = int(items.size());
    const bool show = maximum > 3;
    if (show) progress.begin(GetString(41055), maximum);
    QList<CopiedNode> copies;
    QList<qint64> newIds;
    bool ok = true;
    for (qsizetype i = 0; i < items.size() && ok; ++i) {
        const Item& it = items[i];
        const bool top = it.parent < 0;
        const auto copy = top ? CopyNodeRecord(db, withChildren, QString::number(it.source), targetId, target)
                              : CopyNodeRecord(db, true, QString::number(it.source), copies[it.parent].id,
                                               copies[it.parent].childPrefixes);
        if (!copy) {
            ok = false;
            break;
        }
        copies.append(*copy);
        newIds.append(copy->id.toLongLong());
        if (show && !progress.advance(1)) ok = false;
    }
    if (show) progress.end();
    if (!ok) return {};
    return tx.commit() ? copies[0].id : QString();
}

bool RefreshHasChild(Database& db, const QString& id) {
    if (isBlank(id)) return false;
    bool ok = false;
    const qint64 n = db.scalar(QStringLiteral("select count(id) from info where parentnode=:id and ") + sql::live(),
                               {{QStringLiteral(":id"), sql::idValue(id)}}, &ok)
                         .toLongLong();
    if (!ok) return false;
    // Only a changed flag is written: writers adding side by side under one folder then do not all
    // need its row lock.
    if (!db.exec(
            QStringLiteral("update info set haschild=:flag where id=:id and (haschild is null or haschild<>:flag)"),
            {{QStringLiteral(":flag"), sql::yn(n > 0)}, {QStringLiteral(":id"), sql::idValue(id)}}))
        return false;
    return n > 0;
}

std::optional<Tinfoproperty> ReadNodeProperties(Database& db, const QString& id) {
    Query q(db,
            QStringLiteral("select id,caption,actor,fullname,createdate,modifydate,haspassword,hashide,key_word,"
                           "sorttype,inbox,mailid,mailtype,memotext from info where id=:id"),
            {{QStringLiteral(":id"), sql::idValue(id)}});
    if (!q.next()) return std::nullopt;
    Tinfoproperty r;
    r.caption = q.text(1);
    r.actor = q.text(2);
    r.fullName = q.text(3);
    r.created = dbDateTime(q.value(4));
    r.modified = dbDateTime(q.value(5));
    r.isProtected = q.text(6) == QStringLiteral("Y");
    r.hidden = q.text(7) == QStringLiteral("Y");
    r.keywords = q.text(8);
    r.sortNumber = qint32(q.integer(9));
    r.inbox = q.text(10) == QStringLiteral("Y");
    r.mailId = qint32(q.integer(11));
    r.mailType = q.text(12);
    QString memo = decodeWithBom(q.value(13).toByteArray());
    if (memo.endsWith(QStringLiteral("\r\n"))) memo.chop(2);
    memo.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    r.memo = memo;
    return r;
}

bool UpdateNodeProperties(Database& db, const Tinfoproperty& rec, const QString& id) {
    Transaction tx(db);
    if (!tx.ok()) return false;
    if (!db.exec(QStringLiteral("update info set haspassword=:haspassword,hashide=:hashide,key_word=:keyword "
                                "where id=:id"),
                 {{QStringLiteral(":haspassword"), sql::yn(rec.isProtected)},
                  {QStringLiteral(":hashide"), sql::yn(rec.hidden)},
                  {QStringLiteral(":keyword"), rec.keywords.isEmpty() ? QStringLiteral(" ") : rec.keywords},
                  {QStringLiteral(":id"), sql::idValue(id)}}))
        return false;
    if (!SetMemoText(db, id, rec.memo)) return false;
    return tx.commit();
}

bool SetMemoText(Database& db, const QString& id, const QString& text) {
    QString lines;
    if (!text.isEmpty()) {
        lines = normaliseLineEnds(text);
        if (!lines.endsWith(QStringLiteral("\r\n"))) lines += QStringLiteral("\r\n");
    }
    return db.exec(QStringLiteral("update info set memotext=:memo where id=:id"),
                   {{QStringLiteral(":memo"), encodeUtf16LeWithBom(lines)}, {QStringLiteral(":id"), sql::idValue(id)}});
}

bool SetNodeSortNumber(Database& db, const QString& id, int number) {
    return db.exec(QStringLiteral("update info set sorttype=:sorttype where id=:id"),
                   {{QStringLiteral(":sorttype"), number}, {QStringLiteral(":id"), sql::idValue(id)}});
}

bool SetReadMark(Database& db, const QString& id, bool read) {
    return db.exec(QStringLiteral("update info set readtype=:readtype where id=:id"),
                   {{QStringLiteral(":readtype"), sql::yn(read)}, {QStringLiteral(":id"), sql::idValue(id)}});
}

bool SetFontColor(Database& db, const QString& id, qint64 colour) {
    return db.exec(QStringLiteral("update info set fontcolor=:fontcolor where id=:id"),
                   {{QStringLiteral(":fontcolor"), colour}, {QStringLiteral(":id"), sql::idValue(id)}});
}

bool SetDocumentPassword(Database& db, const QString& id, const QString& password) {
    return db.exec(QStringLiteral("update info set d_password=:password where id=:id"),
                   {{QStringLiteral(":password"), password.isEmpty() ? QString() : HashPassword(password)},
                    {QStringLiteral(":id"), sql::idValue(id)}});
}

bool SetInboxFlag(Database& db, const QString& id) {
    const bool inbox = db.scalar(QStringLiteral("select count(*) from mailinfo where incomingid=:id"),
                                 {{QStringLiteral(":id"), sql::idValue(id)}})
                           .toLongLong() > 0;
    db.exec(QStringLiteral("update info set inbox=:inbox where id=:id"),
            {{QStringLiteral(":inbox"), sql::yn(inbox)}, {QStringLiteral(":id"), sql::idValue(id)}});
    return inbox;
}

bool CheckDocumentPassword(Database& db, const QString& id, const PasswordPrompt& prompt) {
    QString caption, stored;
    {
        Query q(db, QStringLiteral("select caption,d_password from info where id=:id"),
                {{QStringLiteral(":id"), sql::idValue(id)}});
        if (!q.next()) return true;
        caption = q.text(0);
        stored = q.text(1).trimmed();
    }
    if (stored.isEmpty()) return true;
    if (!prompt) return false;
    QString text = GetString(41333);
    text.replace(QStringLiteral("%s"), caption);
    const std::optional<QString> typed = prompt(GetString(41332), text);
    if (!typed || !VerifyPassword(stored, *typed)) return false;
    // Given once, the password opens the document for the rest of the session, search included.
    RememberDocumentUnlocked(sql::idValue(id));
    return true;
}

bool RebuildPaths(Database& db, const Progress& progress) {
    Transaction tx(db);
    if (!tx.ok()) return false;
    // Every row is rewritten from the rows read: no writer may change the tree meanwhile (readers may).
    if (db.dialect() == Dialect::Postgres && !db.exec(QStringLiteral("lock table info in exclusive mode")))
        return false;
    progress.begin(GetString(41017), CountLiveNodes(db));
    struct Level {
        qint64 parent;
        QString idPath, namePath;
    };
    QList<Level> pending{{0, QStringLiteral("/"), QStringLiteral("/")}};
    QSet<qint64> seen;
    while (!pending.isEmpty()) {
        const Level level = pending.takeLast();
        struct Row {
            qint64 id;
            QString caption;
            bool folder;
        };
        QList<Row> rows;
        {
            Query q(db, QStringLiteral("select id,caption,haschild,fullpath,fullname from info where parentnode=:p"),
                    {{QStringLiteral(":p"), level.parent}});
            if (!q.isActive()) return false;
            while (q.next())
                rows.append({q.integer(0), q.text(1), q.text(2) == QStringLiteral("Y")});
        }
        for (const Row& r : rows) {
            if (seen.contains(r.id)) continue;
            seen.insert(r.id);
            if (r.folder)
                pending.append({r.id, level.idPath + QString::number(r.id) + u'/', level.namePath + r.caption + u'/'});
            if (!db.exec(QStringLiteral("update info set fullpath=:p,fullname=:n where id=:id"),
                         {{QStringLiteral(":p"), level.idPath},
                          {QStringLiteral(":n"), level.namePath},
                          {QStringLiteral(":id"), r.id}}))
                return false;
            progress.advance(1);
        }
    }
    progress.end();
    return tx.commit();
}

QList<qint64> ParseIdList(const QString& text) {
    QList<qint64> ids;
    const auto parts = text.split(u',', Qt::SkipEmptyParts);
    for (const QString& p : parts) {
        bool ok = false;
        const qint64 v = p.trimmed().toLongLong(&ok);
        if (ok) ids.append(v);
    }
    return ids;
}

} // namespace zel
