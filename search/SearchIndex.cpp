#include "search/SearchIndex.h"

#include "platform/Dialect.h"
#include "search/SearchText.h"
#include "store/Content.h"
#include "store/IndexHooks.h"

#include <QSet>
#include <algorithm>

namespace zel {

namespace {

// Bump when the indexed texts change: an index of another format is dropped and built again.
const QString kFormat = QStringLiteral("1");
constexpr int kBuildBatch = 500;
// Candidates few enough that narrowing them further by another word costs more than checking them.
constexpr qsizetype kFewCandidates = 200;

bool isSqlite(Database& db) {
    return db.dialect() == Dialect::Sqlite;
}

struct RowTexts {
    QString lead, head, body;
};

RowTexts textsOf(const QString& fullName, const QString& caption, const QString& keywords, const QByteArray& content) {
    RowTexts t;
    t.body = FoldCase(caption + keywords + DecodeStoredContent(content));
    t.lead = t.body.left(kLeadLength);
    t.head = FoldCase(fullName) + t.lead;
    return t;
}

QString meta(Database& db, const QString& key) {
    return db.scalar(QStringLiteral("select v from zel_search_meta where k=:k"), {{QStringLiteral(":k"), key}})
        .toString();
}

bool setMeta(Database& db, const QString& key, const QString& value) {
    const Params p{{QStringLiteral(":k"), key}, {QStringLiteral(":v"), value}};
    if (!db.exec(QStringLiteral("update zel_search_meta set v=:v where k=:k"), p)) return false;
    bool ok = false;
    const QVariant n = db.scalar(QStringLiteral("select count(*) from zel_search_meta where k=:k"), p, &ok);
    if (!ok) return false;
    if (n.toLongLong() > 0) return true;
    return db.exec(QStringLiteral("insert into zel_search_meta (k,v) values (:k,:v)"), p);
}

// SQLite keeps the body texts in a contentless table, which cannot remove a row without its old text.
// A changed row therefore gets a new body row, and the doc table points at the live one; the old one
// stays behind as a dead entry that candidate queries never reach, until the next rebuild.
class SqliteWriter {
public:
    explicit SqliteWriter(Database& db) : db_(db) {
        next_ = meta(db, QStringLiteral("next")).toLongLong();
        dead_ = meta(db, QStringLiteral("dead")).toLongLong();
        if (next_ <= 0) next_ = 1;
    }
    bool put(qint64 id, const RowTexts& t) {
        if (!dropHead(id)) return false;
        const qint64 bodyRow = next_++;
        return db_.exec(QStringLiteral("insert into zel_search_body (rowid,body) values (:r,:b)"),
                        {{QStringLiteral(":r"), bodyRow}, {QStringLiteral(":b"), t.body}}) &&
               db_.exec(QStringLiteral("insert or replace into zel_search_doc (id,body_rowid,lead,head) values "
                                       "(:id,:r,:lead,:head)"),
                        {{QStringLiteral(":id"), id},
                         {QStringLiteral(":r"), bodyRow},
                         {QStringLiteral(":lead"), t.lead},
                         {QStringLiteral(":head"), t.head}}) &&
               addHead(id, t.head);
    }
    bool setHead(qint64 id, const QString& head) {
        return dropHead(id) &&
               db_.exec(QStringLiteral("update zel_search_doc set head=:h where id=:id"),
                        {{QStringLiteral(":h"), head}, {QStringLiteral(":id"), id}}) &&
               addHead(id, head);
    }
    bool remove(qint64 id) {
        return dropHead(id) &&
               db_.exec(QStringLiteral("delete from zel_search_doc where id=:id"), {{QStringLiteral(":id"), id}});
    }
    bool finish() {
        return setMeta(db_, QStringLiteral("next"), QString::number(next_)) &&
               setMeta(db_, QStringLiteral("dead"), QString::number(dead_));
    }

private:
    // Takes the row's head out of the head index (it needs the old text) and counts its body row dead.
    bool dropHead(qint64 id) {
        Query q(db_, QStringLiteral("select head from zel_search_doc where id=:id"), {{QStringLiteral(":id"), id}});
        if (!q.isActive()) return false;
        if (!q.next()) return true;
        const QString old = q.text(0);
        ++dead_;
        return db_.exec(QStringLiteral("insert into zel_search_head (zel_search_head,rowid,head) values "
                                       "('delete',:id,:h)"),
                        {{QStringLiteral(":id"), id}, {QStringLiteral(":h"), old}});
    }
    bool addHead(qint64 id, const QString& head) {
        return db_.exec(QStringLiteral("insert into zel_search_head (rowid,head) values (:id,:h)"),
                        {{QStringLiteral(":id"), id}, {QStringLiteral(":h"), head}});
    }
    Database& db_;
    qint64 next_ = 1;
    qint64 dead_ = 0;
};

bool pgPut(Database& db, qint64 id, const RowTexts& t) {
    return db.exec(QStringLiteral("insert into zel_search_doc (id,lead,head,body) values (:id,:lead,:head,:body) "
                                  "on conflict (id) do update set lead=excluded.lead,head=excluded.head,"
                                  "body=excluded.body"),
                   {{QStringLiteral(":id"), id},
                    {QStringLiteral(":lead"), t.lead},
                    {QStringLiteral(":head"), t.head},
                    {QStringLiteral(":body"), t.body}});
}

struct SourceRow {
    qint64 id;
    QString fullName, caption, keywords;
    QByteArray content;
};

// Indexes the given rows (read from info) on the open transaction. A stop request fails it, so that the
// caller's transaction rolls back and a stopped search does not wait for the whole batch.
bool indexRows(Database& db, const QList<SourceRow>& rows, const std::atomic<bool>* stop = nullptr) {
    if (rows.isEmpty()) return true;
    auto stopped = [&] { return stop && stop->load(); };
    if (!isSqlite(db)) {
        for (const SourceRow& r : rows)
            if (stopped() || !pgPut(db, r.id, textsOf(r.fullName, r.caption, r.keywords, r.content))) return false;
        return true;
    }
    SqliteWriter w(db);
    for (const SourceRow& r : rows)
        if (stopped() || !w.put(r.id, textsOf(r.fullName, r.caption, r.keywords, r.content))) return false;
    return w.finish();
}

bool readRows(Query& q, QList<SourceRow>& out) {
    if (!q.isActive()) return false;
    while (q.next())
        out << SourceRow{q.integer(0), q.text(1), q.text(2), q.text(3), q.value(4).toByteArray()};
    return true;
}

bool createTables(Database& db) {
    QStringList statements;
    statements << QStringLiteral("create table zel_search_meta (k varchar(20) primary key, v varchar(40))");
    if (isSqlite(db)) {
        statements << QStringLiteral("create table zel_search_doc (id integer primary key, body_rowid integer, "
                                     "lead text, head text)")
                   << QStringLiteral("create index zel_search_doc_body on zel_search_doc (body_rowid)")
                   // detail=none keeps the index small; a word becomes the AND of its trigrams, which can
                   // only add candidates, and every candidate is checked anyway.
                   << QStringLiteral("create virtual table zel_search_body using fts5(body, content='', "
                                     "tokenize='trigram case_sensitive 1', detail=none)")
                   << QStringLiteral("create virtual table zel_search_head using fts5(head, "
                                     "content='zel_search_doc', content_rowid='id', "
                                     "tokenize='trigram case_sensitive 1', detail=none)");
    } else {
        statements << QStringLiteral("create extension if not exists pg_trgm")
                   << QStringLiteral("create table zel_search_doc (id bigint primary key, lead text, head text, "
                                     "body text)")
                   << QStringLiteral("create index zel_search_doc_head on zel_search_doc using gin (head "
                                     "gin_trgm_ops)")
                   << QStringLiteral("create index zel_search_doc_body on zel_search_doc using gin (body "
                                     "gin_trgm_ops)");
    }
    Transaction tx(db);
    if (!tx.ok()) return false;
    for (const QString& s : statements)
        if (!db.exec(s)) return false;
    if (!setMeta(db, QStringLiteral("format"), kFormat) ||
        !setMeta(db, QStringLiteral("state"), QStringLiteral("building")) ||
        !setMeta(db, QStringLiteral("upto"), QStringLiteral("0")))
        return false;
    return tx.commit();
}

bool tableExists(Database& db, const QString& name) {
    return db.scalar(dialect::tableExistsQuery(db.dialect()), {{QStringLiteral(":name"), name}}).toLongLong() > 0;
}

// Builds the rows past "upto" in batches. Each batch reads and writes inside one write transaction
// (rows locked on PostgreSQL), so a store operation that changes a row meanwhile is indexed after it.
bool buildRest(Database& db, const std::atomic<bool>* stop, const QDeadlineTimer& deadline) {
    const QString select = QStringLiteral("select id,fullname,caption,key_word,content from info where id>:upto "
                                          "order by id limit %1")
                               .arg(kBuildBatch) +
                           dialect::lockRowsClause(db.dialect());
    for (;;) {
        if ((stop && stop->load()) || deadline.hasExpired()) return false;
        Transaction tx(db);
        if (!tx.ok()) return false;
        const qint64 upto = meta(db, QStringLiteral("upto")).toLongLong();
        QList<SourceRow> rows;
        {
            Query q(db, select, {{QStringLiteral(":upto"), upto}});
            if (!readRows(q, rows)) return false;
        }
        if (rows.isEmpty()) {
            if (!setMeta(db, QStringLiteral("state"), QStringLiteral("ready"))) return false;
            return tx.commit();
        }
        if (!indexRows(db, rows, stop) || !setMeta(db, QStringLiteral("upto"), QString::number(rows.last().id)) ||
            !tx.commit())
            return false;
    }
}

QString ftsTrigramQuery(const QString& word) {
    const QList<uint> cps = word.toUcs4();
    QStringList parts;
    QSet<QString> seen;
    for (qsizetype i = 0; i + 3 <= cps.size(); ++i) {
        const QString tri = QString::fromUcs4(reinterpret_cast<const char32_t*>(cps.constData() + i), 3);
        if (seen.contains(tri)) continue;
        seen.insert(tri);
        QString quoted = tri;
        quoted.replace(u'"', QStringLiteral("\"\""));
        parts << u'"' + quoted + u'"';
    }
    return parts.join(QStringLiteral(" AND "));
}

// Ids of rows whose index texts may contain the word; common is set, and out left incomplete, when there
// are limit rows or more.
bool wordCandidates(Database& db, const QString& word, bool includeFullName, qint64 limit, QList<qint64>& out,
                    bool* common) {
    *common = false;
    QStringList sql;
    Params p{{QStringLiteral(":n"), limit}};
    if (isSqlite(db)) {
        p.emplace_back(QStringLiteral(":q"), ftsTrigramQuery(word));
        // A word too common to narrow anything is told by its body entries alone, before the join.
        const qint64 entries =
            db.scalar(QStringLiteral("select count(*) from (select rowid from zel_search_body where zel_search_body "
                                     "match :q limit :n)"),
                      p)
                .toLongLong();
        if (entries >= limit) {
            *common = true;
            return true;
        }
        sql << QStringLiteral("select d.id from zel_search_body b join zel_search_doc d on d.body_rowid=b.rowid "
                              "where zel_search_body match :q limit :n");
        if (includeFullName)
            sql << QStringLiteral("select rowid from zel_search_head where zel_search_head match :q limit :n");
    } else {
        p.emplace_back(QStringLiteral(":q"), dialect::containsPattern(word));
        sql << QStringLiteral("select id from zel_search_doc where body like :q escape '\\' limit :n");
        if (includeFullName)
            sql << QStringLiteral("select id from zel_search_doc where head like :q escape '\\' limit :n");
    }
    for (const QString& s : sql) {
        Query q(db, s, p);
        if (!q.isActive()) return false;
        while (q.next())
            out << q.integer(0);
    }
    std::sort(out.begin(), out.end());
    out.erase(std::unique(out.begin(), out.end()), out.end());
    *common = qint64(out.size()) >= limit;
    return true;
}

bool readyState(Database& db) {
    return meta(db, QStringLiteral("state")) == QStringLiteral("ready") &&
           meta(db, QStringLiteral("format")) == kFormat;
}

} // namespace

bool SearchIndexExists(Database& db) {
    return tableExists(db, QStringLiteral("zel_search_meta"));
}

bool SearchIndexReady(Database& db) {
    return SearchIndexExists(db) && readyState(db);
}

bool DropSearchIndex(Database& db) {
    Transaction tx(db);
    if (!tx.ok()) return false;
    for (const char* t : {"zel_search_head", "zel_search_body", "zel_search_doc", "zel_search_meta"})
        if (!db.exec(QStringLiteral("drop table if exists ") + QLatin1String(t))) return false;
    return tx.commit();
}

bool EnsureSearchIndex(Database& db, const std::atomic<bool>* stop, const QDeadlineTimer& deadline) {
    if (SearchIndexExists(db)) {
        bool rebuild = meta(db, QStringLiteral("format")) != kFormat;
        if (!rebuild && isSqlite(db)) {
            // Dead body rows only cost space and candidate time; past the live count a rebuild pays.
            const qint64 dead = meta(db, QStringLiteral("dead")).toLongLong();
            const qint64 live = db.scalar(QStringLiteral("select count(*) from zel_search_doc")).toLongLong();
            rebuild = dead > std::max<qint64>(1000, live);
        }
        if (rebuild && !DropSearchIndex(db)) return false;
    }
    if (!SearchIndexExists(db) && !createTables(db)) return false;
    if (readyState(db)) return true;
    const auto interrupted = [&] { return (stop && stop->load()) || deadline.hasExpired(); };
    if (buildRest(db, stop, deadline)) return true;
    if (interrupted()) return false; // kept; the next call goes on from here
    // An index that cannot be completed (damaged tables) is made again from scratch, once.
    return DropSearchIndex(db) && createTables(db) && buildRest(db, stop, deadline);
}

qint64 SearchIndexBuiltUpTo(Database& db) {
    if (!SearchIndexExists(db) || readyState(db)) return -1;
    return meta(db, QStringLiteral("upto")).toLongLong();
}

bool RebuildSearchIndex(Database& db) {
    return DropSearchIndex(db) && EnsureSearchIndex(db);
}

qint64 SearchIndexBytes(Database& db) {
    bool ok = false;
    const QVariant v =
        isSqlite(db)
            ? db.scalar(QStringLiteral("select sum(pgsize) from dbstat where name like 'zel_search%'"), {}, &ok)
            : db.scalar(QStringLiteral("select coalesce(sum(pg_total_relation_size(c.oid)),0) from pg_class c where "
                                       "c.relname in ('zel_search_doc','zel_search_meta')"),
                        {}, &ok);
    return ok ? v.toLongLong() : -1;
}

qint64 SearchIndexRowCount(Database& db) {
    return db.scalar(QStringLiteral("select count(*) from zel_search_doc")).toLongLong();
}

bool IndexCanServe(const QString& foldedWord, bool includeFullName) {
    if (foldedWord.toUcs4().size() < 3) return false;
    // A word that starts in the full name reaches at most its length - 1 characters past it.
    return !includeFullName || foldedWord.size() - 1 <= kLeadLength;
}

std::optional<QList<qint64>> SearchIndexCandidates(Database& db, const QStringList& foldedWords, bool includeFullName,
                                                   qint64 limit) {
    std::optional<QList<qint64>> result;
    // The body texts live out of line, so the planner thinks a sequential pass over the small table is
    // cheap and misses that it reads every text; the trigram index is the fast way.
    std::optional<Transaction> tx;
    if (!isSqlite(db)) {
        tx.emplace(db);
        if (!tx->ok() || !db.exec(QStringLiteral("set local enable_seqscan=off"))) return std::nullopt;
    }
    // Longer words tend to be rarer: try them first, and stop asking once the candidates are few, since
    // the exact matcher checks the other words on those rows anyway.
    QStringList order = foldedWords;
    std::stable_sort(order.begin(), order.end(),
                     [](const QString& a, const QString& b) { return a.size() > b.size(); });
    for (const QString& w : order) {
        if (result && result->size() <= kFewCandidates) break;
        if (!IndexCanServe(w, includeFullName)) continue;
        QList<qint64> ids;
        bool common = false;
        if (!wordCandidates(db, w, includeFullName, limit, ids, &common)) return std::nullopt;
        if (common) continue; // too common to narrow anything
        if (!result) {
            result = std::move(ids);
            continue;
        }
        QList<qint64> both;
        std::set_intersection(result->begin(), result->end(), ids.begin(), ids.end(), std::back_inserter(both));
        result = std::move(both);
    }
    return result;
}

// The store's hooks. Each runs in a savepoint of the store's transaction: an index failure must not
// fail the store operation (on PostgreSQL a failed statement would spoil the whole transaction). A change
// the index missed makes the next search index every row again.

namespace {

template <typename Work> void guarded(Database& db, Work&& work) {
    if (!SearchIndexExists(db)) return;
    {
        Transaction tx(db);
        if (tx.ok() && work() && tx.commit()) return;
    }
    Transaction tx(db);
    if (tx.ok() && setMeta(db, QStringLiteral("state"), QStringLiteral("building")) &&
        setMeta(db, QStringLiteral("upto"), QStringLiteral("0")))
        tx.commit();
}

bool nodesChanged(Database& db, const QList<qint64>& ids) {
    QList<SourceRow> rows;
    QList<qint64> gone;
    for (qint64 id : ids) {
        Query q(db, QStringLiteral("select id,fullname,caption,key_word,content from info where id=:id"),
                {{QStringLiteral(":id"), id}});
        const qsizetype before = rows.size();
        if (!readRows(q, rows)) return false;
        if (rows.size() == before) gone << id;
    }
    if (!indexRows(db, rows)) return false;
    if (gone.isEmpty()) return true;
    if (!isSqlite(db)) {
        for (qint64 id : gone)
            if (!db.exec(QStringLiteral("delete from zel_search_doc where id=:id"), {{QStringLiteral(":id"), id}}))
                return false;
        return true;
    }
    SqliteWriter w(db);
    for (qint64 id : gone)
        if (!w.remove(id)) return false;
    return w.finish();
}

bool subtreeChanged(Database& db, const QString& idPathPrefix) {
    struct Row {
        qint64 id;
        QString head;
    };
    QList<Row> rows;
    {
        Query q(db,
                QStringLiteral("select i.id,i.fullname,d.lead from info i join zel_search_doc d on d.id=i.id where ") +
                    dialect::prefixCondition(db.dialect(), QStringLiteral("i.fullpath"), QStringLiteral(":p")),
                {{QStringLiteral(":p"), dialect::prefixPattern(db.dialect(), idPathPrefix)}});
        if (!q.isActive()) return false;
        while (q.next())
            rows << Row{q.integer(0), FoldCase(q.text(1)) + q.text(2)};
    }
    if (!isSqlite(db)) {
        for (const Row& r : rows)
            if (!db.exec(QStringLiteral("update zel_search_doc set head=:h where id=:id"),
                         {{QStringLiteral(":h"), r.head}, {QStringLiteral(":id"), r.id}}))
                return false;
        return true;
    }
    SqliteWriter w(db);
    for (const Row& r : rows)
        if (!w.setHead(r.id, r.head)) return false;
    return w.finish();
}

bool rowsPurged(Database& db) {
    if (!isSqlite(db))
        return db.exec(
            QStringLiteral("delete from zel_search_doc d where not exists (select 1 from info i where i.id=d.id)"));
    QList<qint64> gone;
    {
        Query q(db, QStringLiteral("select d.id from zel_search_doc d where not exists (select 1 from info i where "
                                   "i.id=d.id)"));
        if (!q.isActive()) return false;
        while (q.next())
            gone << q.integer(0);
    }
    SqliteWriter w(db);
    for (qint64 id : gone)
        if (!w.remove(id)) return false;
    return w.finish();
}

} // namespace

void SearchIndexNodesChanged(Database& db, const QList<qint64>& ids) {
    if (!ids.isEmpty()) guarded(db, [&] { return nodesChanged(db, ids); });
}

void SearchIndexSubtreeChanged(Database& db, const QString& idPathPrefix) {
    if (!idPathPrefix.isEmpty()) guarded(db, [&] { return subtreeChanged(db, idPathPrefix); });
}

void SearchIndexRowsPurged(Database& db) {
    guarded(db, [&] { return rowsPurged(db); });
}

} // namespace zel
