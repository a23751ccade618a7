#include "store/RecycleBin.h"

#include <QFile>
#include <QFileInfo>

#include "platform/Dialect.h"
#include "platform/SqliteFile.h"
#include "search/SearchIndex.h"
#include "shell/Strings.h"
#include "store/Sql.h"

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

bool removeIfExists(const QString& path) {
    return !QFileInfo::exists(path) || QFile::remove(path);
}

} // namespace

bool MoveNodeToBin(Database& db, const QString& id, bool withSubtree) {
    const qint64 nid = id.trimmed().toLongLong();
    Transaction tx(db);
    if (!tx.ok()) return false;
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
    return runForIds(db, ids,
                     {QStringLiteral("update info set hasdelete='D' where id in (%1)"),
                      QStringLiteral("update mail set hasdelete='D' where id in (select mailid from info where id in "
                                     "(%1))"),
                      QStringLiteral("update accessories set hasdelete='D' where infoid in (%1)")});
}

bool EmptyRecycleBin(Database& db) {
    Transaction tx(db);
    return tx.ok() && db.exec(QStringLiteral("update accessories set hasdelete='D' where hasdelete='Y'")) &&
           db.exec(QStringLiteral("update info set hasdelete='D' where hasdelete='Y'")) &&
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
    // Server databases are never compacted; an open transaction would be lost by closing.
    if (main.dialect() != Dialect::Sqlite || main.transactionDepth() > 0) return false;
    const QString file = main.filePath();
    const QString conn = main.connectionString();
    if (file.isEmpty()) return false;
    const QString folder = QFileInfo(file).absolutePath() + u'/';
    const QString temp = folder + QStringLiteral("smtp_cr_0856_ind.mdb");
    const QString backup = folder + QStringLiteral("smtp_cr_0856_old.mdb");

    main.close();
    progress.begin(GetString(40405), 0);
    auto swap = [&]() -> bool {
        // A write-ahead log left behind means another connection is still open: swapping the file
        // under it would lose its changes.
        const QFileInfo wal(file + QStringLiteral("-wal"));
        if (wal.exists() && wal.size() > 0) return false;
        if (!removeIfExists(temp)) return false;
        if (!sqliteVacuumInto(file, temp)) {
            QFile::remove(temp);
            return false;
        }
        if (!removeIfExists(backup)) {
            QFile::remove(temp);
            return false;
        }
        // Empty log files of the old file must not be taken for the new file's.
        removeIfExists(file + QStringLiteral("-wal"));
        removeIfExists(file + QStringLiteral("-shm"));
        if (!QFile::rename(file, backup)) {
            QFile::remove(temp);
            return false;
        }
        if (!QFile::rename(temp, file)) {
            // Put the original back under its own name.
            QFile::rename(backup, file);
            QFile::remove(temp);
            return false;
        }
        QFile::remove(backup);
        return true;
    };
    const bool swapped = swap();
    progress.end();
    const bool reopened = main.open(conn);
    return swapped && reopened;
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
