#include "store/RecycleBin.h"

#include "platform/Dialect.h"
#include "search/SearchIndex.h"
#include "shell/Strings.h"
#include "store/Sql.h"

#include <QSet>

namespace zel {

namespace {

const QString kNotPurged = QStringLiteral("(hasdelete is null or hasdelete<>'D')");

// Runs the statements (each with "%1" for the id list) in order, all or nothing.
bool runForIds(Database& db, const QList<qint64>& ids, const QStringList& statements) {
    if (ids.isEmpty()) return true;
    Transaction tx(db);
    if (!tx.ok()) return false;
    for (const QString& s : statements)
        if (!sql::execForIds(db, s, ids)) return false;
    return tx.commit();
}

// The listed rows that are in the bin, each with every row below it that is not purged yet (in the
// bin or live: a child restored while its parent stays in the bin goes with the parent).
QList<qint64> binSubtrees(Database& db, const QList<qint64>& ids, bool* ok) {
    *ok = false;
    QList<QString> paths;
    QList<qint64> out;
    QSet<qint64> seen;
    for (qsizetype at = 0; at < ids.size(); at += sql::kIdChunk) {
        Params p;
        const QString list = sql::inList(ids.mid(at, sql::kIdChunk), p);
        Query q(db, QStringLiteral("select id,fullpath from info where hasdelete='Y' and id in (%1)").arg(list), p);
        if (!q.isActive()) return {};
        while (q.next()) {
            const qint64 id = q.integer(0);
            if (!seen.contains(id)) out << id;
            seen.insert(id);
            paths << q.text(1) + QString::number(id) + u'/';
        }
    }
    for (const QString& path : std::as_const(paths)) {
        Query q(db,
                QStringLiteral("select id from info where ") + kNotPurged + QStringLiteral(" and ") +
                    dialect::prefixCondition(db.dialect(), QStringLiteral("fullpath"), QStringLiteral(":pfx")),
                {{QStringLiteral(":pfx"), dialect::prefixPattern(db.dialect(), path)}});
        if (!q.isActive()) return {};
        while (q.next()) {
            const qint64 id = q.integer(0);
            if (!seen.contains(id)) out << id;
            seen.insert(id);
        }
    }
    *ok = true;
    return out;
}

// Purges exactly the listed rows with their mail rows and attachments.
bool purgeRows(Database& db, const QList<qint64>& ids) {
    for (const QString& s :
         {QStringLiteral("update accessories set hasdelete='D' where infoid in (%1)"),
          QStringLiteral("update mail set hasdelete='D' where id in (select mailid from info where id in (%1))"),
          QStringLiteral("update info set hasdelete='D' where id in (%1)")})
        if (!sql::execForIds(db, s, ids)) return false;
    return true;
}

} // namespace

bool MoveNodeToBin(Database& db, const QString& id, bool withSubtree) {
    const qint64 nid = id.trimmed().toLongLong();
    Transaction tx(db);
    if (!tx.ok()) return false;
    // Writers that add below the node or move it wait for this one, and then see it in the bin.
    if (!LockNodeRows(db, {nid}, true)) return false;
    const QString path = GetChildPath(db, id);
    if (path.isEmpty()) return false;
    if (withSubtree && path != QStringLiteral("/")) {
        const Params p{{QStringLiteral(":pfx"), dialect::prefixPattern(db.dialect(), path)}};
        const QString below =
            QStringLiteral(" and ") + sql::live() + QStringLiteral(" and ") +
            dialect::prefixCondition(db.dialect(), QStringLiteral("fullpath"), QStringLiteral(":pfx"));
        // Attachments and mail rows first: they are selected through their nodes' live state.
        if (!db.exec(QStringLiteral("update accessories set hasdelete='Y' where ") + sql::live() +
                         QStringLiteral(" and infoid in (select id from info where 1=1") + below + u')',
                     p) ||
            !db.exec(QStringLiteral("update mail set hasdelete='Y' where ") + sql::live() +
                         QStringLiteral(" and id in (select mailid from info where 1=1") + below + u')',
                     p) ||
            !db.exec(QStringLiteral("update info set hasdelete='Y' where 1=1") + below, p))
            return false;
    }
    const Params p{{QStringLiteral(":id"), nid}};
    if (!db.exec(QStringLiteral("update accessories set hasdelete='Y' where infoid=:id and ") + sql::live(), p) ||
        !db.exec(QStringLiteral("update mail set hasdelete='Y' where ") + sql::live() +
                     QStringLiteral(" and id in (select mailid from info where id=:id)"),
                 p) ||
        !db.exec(QStringLiteral("update info set hasdelete='Y' where id=:id and ") + kNotPurged, p))
        return false;
    return tx.commit();
}

bool MoveNodesToBin(Database& db, const QList<qint64>& ids) {
    return runForIds(db, ids,
                     {QStringLiteral("update accessories set hasdelete='Y' where infoid in (%1) and ") + sql::live(),
                      QStringLiteral("update mail set hasdelete='Y' where id in (select mailid from info where id in "
                                     "(%1)) and ") +
                          sql::live(),
                      QStringLiteral("update info set hasdelete='Y' where id in (%1) and ") + kNotPurged});
}

bool RestoreNodes(Database& db, const QList<qint64>& ids) {
    // Only rows in the bin come back: nothing leaves the purged state.
    return runForIds(db, ids,
                     {QStringLiteral("update info set hasdelete='N' where id in (%1) and hasdelete='Y'"),
                      QStringLiteral("update mail set hasdelete='N' where id in (select mailid from info where id in "
                                     "(%1)) and hasdelete='Y'"),
                      QStringLiteral("update accessories set hasdelete='N' where infoid in (%1) and hasdelete='Y'")});
}

QList<qint64> RestoreParents(Database& db, const QList<qint64>& ids) {
    QList<qint64> top;
    Transaction tx(db);
    if (!tx.ok()) return top;
    if (!sql::execForIds(
            db,
            QStringLiteral("update info set haschild='Y' where id in (select parentnode from info where id "
                           "in (%1))"),
            ids))
        return top;
    for (qsizetype at = 0; at < ids.size(); at += sql::kIdChunk) {
        Params p;
        const QString list = sql::inList(ids.mid(at, sql::kIdChunk), p);
        Query q(db, QStringLiteral("select id from info where parentnode=0 and id in (%1) order by id").arg(list), p);
        while (q.next())
            top << q.integer(0);
    }
    if (!tx.commit()) top.clear();
    return top;
}

bool PurgeNodes(Database& db, const QList<qint64>& ids) {
    if (ids.isEmpty()) return true;
    Transaction tx(db);
    if (!tx.ok() || !LockNodeRows(db, ids, true)) return false;
    // Only rows in the bin are purged, each with what lies below it: a live node, or a child left
    // behind by purging only its folder, would be lost at the next maintenance.
    bool ok = false;
    const QList<qint64> rows = binSubtrees(db, ids, &ok);
    return ok && purgeRows(db, rows) && tx.commit();
}

bool EmptyRecycleBin(Database& db) {
    Transaction tx(db);
    if (!tx.ok()) return false;
    QList<qint64> top;
    {
        Query q(db, QStringLiteral("select id from info where hasdelete='Y'"));
        if (!q.isActive()) return false;
        while (q.next())
            top << q.integer(0);
    }
    bool ok = false;
    const QList<qint64> rows = binSubtrees(db, top, &ok);
    // Attachments and mail rows in the bin whose node is not (left by older builds) go too.
    return ok && purgeRows(db, rows) &&
           db.exec(QStringLiteral("update accessories set hasdelete='D' where hasdelete='Y'")) &&
           db.exec(QStringLiteral("update mail set hasdelete='D' where hasdelete='Y'")) && tx.commit();
}

int CountBinNodes(Database& db) {
    return int(db.scalar(QStringLiteral("select count(*) from info where hasdelete='Y'")).toLongLong());
}

QList<FileListRow> ListBinNodes(Database& db) {
    QList<FileListRow> out;
    Query q(db, QStringLiteral("select id,caption,filesize,fullname,fontcolor,readtype,hasdelete,actor,key_word,"
                               "haschild,createdate,modifydate,sorttype,inbox,mailtype from info where hasdelete='Y' "
                               "order by id"));
    while (q.next())
        out << ReadFileListColumns(q);
    return out;
}

bool PurgeDeleted(Database& db) {
    Transaction tx(db);
    if (!tx.ok() || !db.exec(QStringLiteral("delete from accessories where hasdelete='D'")) ||
        !db.exec(QStringLiteral("delete from mail where hasdelete='D'")) ||
        !db.exec(QStringLiteral("delete from info where hasdelete='D'")))
        return false;
    return tx.commit();
}

bool CompactDatabase(Database& main, const Progress& progress) {
    // Compaction cannot run inside a transaction; the caller's open one must not be ended here.
    if (!main.isOpen() || main.transactionDepth() > 0) return false;
    progress.begin(GetString(40405), 0);
    QString error;
    bool ok = false;
    if (main.dialect() == Dialect::Sqlite) {
        // In place: VACUUM takes the file's own write lock, so every other connection keeps working
        // on the same file, and it is atomic, so a crash leaves the file as it was. Other connections
        // that keep writing past the busy timeout make it fail without a change.
        ok = main.backend()->execRaw(QStringLiteral("VACUUM"), error);
        // Give the space back: the compacted pages went through the log. Readers may hold it; then
        // it is truncated at a later checkpoint.
        if (ok) main.backend()->execRaw(QStringLiteral("PRAGMA wal_checkpoint(TRUNCATE)"), error);
    } else {
        // The server compacts on its own; this only reclaims what purged rows left and refreshes the
        // planner's statistics.
        ok = main.backend()->execRaw(QStringLiteral("VACUUM (ANALYZE) info, accessories, mail, userinfo, userbookmark"),
                                     error);
    }
    if (!ok) main.setError(error);
    progress.end();
    return ok;
}

MaintenanceResult RunMaintenance(Database& db, bool clearDeleted, bool repairPaths, const Progress& progress) {
    MaintenanceResult r;
    bool ok = true;
    if (clearDeleted) ok = r.purged = PurgeDeleted(db);
    if (ok) ok = r.compacted = CompactDatabase(db, progress);
    if (ok && repairPaths) ok = r.repaired = RebuildPaths(db, progress) && RebuildSearchIndex(db);
    r.ok = ok;
    r.messageIdent = ok ? 40333 : 40334;
    return r;
}

} // namespace zel
