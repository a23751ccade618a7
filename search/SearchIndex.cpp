#include "search/SearchIndex.h"

#include "platform/Dialect.h"
#include "search/SearchText.h"
#include "store/Content.h"

#include <QElapsedTimer>
#include <QHash>
#include <QMap>
#include <QSet>
#include <algorithm>
#include <limits>

namespace zel {

namespace {

// Bump when the indexed texts change: an index of another format is dropped and built again.
const QString kFormat = QStringLiteral("2");
constexpr int kBuildBatch = 200;
// Work per batch of the build or of catching up, before its transaction commits.
constexpr qint64 kBatchMs = 40;
// Changes taken from zel_search_dirty per transaction.
constexpr int kDrainBatch = 500;
// Serialises the index writers of every connection on PostgreSQL (a build batch or a catch-up batch
// reads rows and writes their entries; two of them interleaved could leave an older text behind).
constexpr qint64 kPgLockKey = 0x7a656c5f73726368; // "zel_srch"
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

// PostgreSQL keeps words, not trigrams: per row the numbers of the distinct words of the body and of the
// head (runs of letters and digits of the folded text), each array with a GIN index, and every word with
// its number in zel_search_word, whose trigram index finds the words containing a piece of a search word.
// A search word found in a row is split by the same rule into pieces, and each piece lies inside one of
// that row's words: so the rows holding a word that contains every piece are a superset of the rows
// containing the search word, found without reading a single text. Words are far fewer than trigrams,
// which keeps the index small.

bool wordChar(QChar c) {
    // A surrogate never splits a word, so characters outside the basic plane stay whole.
    return c.isLetterOrNumber() || c.isSurrogate();
}

// Longer words are kept as overlapping parts of kWordMax characters every kWordStep characters; then
// every run of up to kPieceMax characters of such a word lies inside one part.
constexpr int kWordMax = 64, kWordStep = 32, kPieceMax = kWordMax - kWordStep + 1;

void addWords(const QString& text, QSet<QString>& out) {
    const qsizetype n = text.size();
    qsizetype i = 0;
    while (i < n) {
        while (i < n && !wordChar(text[i]))
            ++i;
        const qsizetype from = i;
        while (i < n && wordChar(text[i]))
            ++i;
        if (i == from) continue;
        if (i - from <= kWordMax) {
            out.insert(text.mid(from, i - from));
            continue;
        }
        const QList<uint> cps = text.mid(from, i - from).toUcs4();
        for (qsizetype at = 0;; at += kWordStep) {
            const qsizetype len = std::min<qsizetype>(kWordMax, cps.size() - at);
            out.insert(QString::fromUcs4(reinterpret_cast<const char32_t*>(cps.constData() + at), len));
            if (at + kWordMax >= cps.size()) break;
        }
    }
}

// The pieces of a folded search word the word index can look up: runs of word characters of at least
// three characters, cut to kPieceMax.
QStringList wordPieces(const QString& foldedWord) {
    QStringList out;
    QSet<QString> pieces;
    addWords(foldedWord, pieces);
    for (const QString& p : pieces) {
        QList<uint> cps = p.toUcs4();
        if (cps.size() < 3) continue;
        if (cps.size() > kPieceMax) cps.resize(kPieceMax);
        out << QString::fromUcs4(reinterpret_cast<const char32_t*>(cps.constData()), cps.size());
    }
    std::sort(out.begin(), out.end());
    out.erase(std::unique(out.begin(), out.end()), out.end());
    return out;
}

// An array literal for a bound parameter cast to text[]: words hold only letters, digits and
// surrogates, and quoting each keeps a word such as "null" a word.
QString textArray(const QSet<QString>& words) {
    QStringList sorted(words.begin(), words.end());
    std::sort(sorted.begin(), sorted.end());
    QString s = QStringLiteral("{");
    for (qsizetype i = 0; i < sorted.size(); ++i) {
        if (i) s += u',';
        s += u'"' + sorted[i] + u'"';
    }
    return s + u'}';
}

QString idArray(const QList<qint64>& ids) {
    QString s = QStringLiteral("{");
    for (qsizetype i = 0; i < ids.size(); ++i) {
        if (i) s += u',';
        s += QString::number(ids[i]);
    }
    return s + u'}';
}

// Rows hold the numbers of their words (four bytes each, whatever the word's length); the numbers are
// looked up, and new words numbered, once per batch in finish().
class PgWriter {
public:
    explicit PgWriter(Database& db) : db_(db) {}
    bool put(qint64 id, const RowTexts& t) {
        Entry e{id, true, t.lead, {}, {}};
        addWords(t.body, e.words);
        addWords(t.head, e.heads);
        vocabulary_.unite(e.words);
        vocabulary_.unite(e.heads);
        entries_ << std::move(e);
        return true;
    }
    bool setHead(qint64 id, const QString& head) {
        Entry e{id, false, {}, {}, {}};
        addWords(head, e.heads);
        vocabulary_.unite(e.heads);
        entries_ << std::move(e);
        return true;
    }
    bool remove(qint64 id) {
        return db_.exec(QStringLiteral("delete from zel_search_doc where id=:id"), {{QStringLiteral(":id"), id}});
    }
    // Words no row holds any more stay in the vocabulary: they only cost a look-up that finds no row.
    bool finish() {
        if (entries_.isEmpty()) return true;
        const Params words{{QStringLiteral(":w"), textArray(vocabulary_)}};
        // Only the new words, so that numbers are not spent on words already there.
        if (!db_.exec(QStringLiteral("insert into zel_search_word (word) select w from unnest(cast(:w as text[])) w "
                                     "where not exists (select 1 from zel_search_word x where x.word=w)"),
                      words))
            return false;
        QHash<QString, qint64> numbers;
        numbers.reserve(vocabulary_.size());
        {
            Query q(db_, QStringLiteral("select word,wid from zel_search_word where word=any(cast(:w as text[]))"),
                    words);
            if (!q.isActive()) return false;
            while (q.next())
                numbers.insert(q.text(0), q.integer(1));
        }
        auto array = [&](const QSet<QString>& set) {
            QList<qint64> ids;
            ids.reserve(set.size());
            for (const QString& w : set)
                ids << numbers.value(w);
            std::sort(ids.begin(), ids.end());
            return idArray(ids);
        };
        for (const Entry& e : entries_) {
            const bool ok =
                e.whole ? db_.exec(QStringLiteral("insert into zel_search_doc (id,lead,words,heads) values (:id,:lead,"
                                                  "cast(:w as integer[]),cast(:h as integer[])) on conflict (id) do "
                                                  "update set lead=excluded.lead,words=excluded.words,"
                                                  "heads=excluded.heads"),
                                   {{QStringLiteral(":id"), e.id},
                                    {QStringLiteral(":lead"), e.lead},
                                    {QStringLiteral(":w"), array(e.words)},
                                    {QStringLiteral(":h"), array(e.heads)}})
                        : db_.exec(QStringLiteral("update zel_search_doc set heads=cast(:h as integer[]) where id=:id"),
                                   {{QStringLiteral(":h"), array(e.heads)}, {QStringLiteral(":id"), e.id}});
            if (!ok) return false;
        }
        entries_.clear();
        vocabulary_.clear();
        return true;
    }

private:
    struct Entry {
        qint64 id;
        bool whole; // false: the head only
        QString lead;
        QSet<QString> words, heads;
    };
    Database& db_;
    QList<Entry> entries_;
    QSet<QString> vocabulary_;
};

// Both writers behind one face.
class Writer {
public:
    explicit Writer(Database& db) {
        if (isSqlite(db))
            sqlite_.emplace(db);
        else
            pg_.emplace(db);
    }
    bool put(qint64 id, const RowTexts& t) { return sqlite_ ? sqlite_->put(id, t) : pg_->put(id, t); }
    bool setHead(qint64 id, const QString& head) {
        return sqlite_ ? sqlite_->setHead(id, head) : pg_->setHead(id, head);
    }
    bool remove(qint64 id) { return sqlite_ ? sqlite_->remove(id) : pg_->remove(id); }
    bool finish() { return sqlite_ ? sqlite_->finish() : pg_->finish(); }

private:
    std::optional<SqliteWriter> sqlite_;
    std::optional<PgWriter> pg_;
};

// Taken first in every transaction that writes index entries.
bool lockIndex(Database& db) {
    if (isSqlite(db)) return true; // a write transaction of SQLite is exclusive already
    return db.exec(QStringLiteral("select pg_advisory_xact_lock(:k)"), {{QStringLiteral(":k"), kPgLockKey}});
}

struct SourceRow {
    qint64 id;
    QString fullName, caption, keywords;
    QByteArray content;
};

bool readRows(Query& q, QList<SourceRow>& out) {
    if (!q.isActive()) return false;
    while (q.next())
        out << SourceRow{q.integer(0), q.text(1), q.text(2), q.text(3), q.value(4).toByteArray()};
    return true;
}

// The database itself notes every change of what the index covers, whoever writes: one row per changed
// row of info in zel_search_dirty, "what" 1 when only the full name changed (a move or a rename above it:
// the head is enough), 2 otherwise. The index catches up on these rows before it answers a search.
QStringList changeRecorder(Dialect d) {
    if (d == Dialect::Sqlite)
        return {QStringLiteral("create table zel_search_dirty (seq integer primary key, id integer, what integer)"),
                QStringLiteral("create trigger zel_search_added after insert on info begin insert into "
                               "zel_search_dirty (id,what) values (new.id,2); end"),
                QStringLiteral("create trigger zel_search_removed after delete on info begin insert into "
                               "zel_search_dirty (id,what) values (old.id,2); end"),
                QStringLiteral("create trigger zel_search_renumbered after update of id on info when old.id<>new.id "
                               "begin insert into zel_search_dirty (id,what) values (old.id,2); "
                               "insert into zel_search_dirty (id,what) values (new.id,2); end"),
                QStringLiteral("create trigger zel_search_changed after update of caption,key_word,content,fullname "
                               "on info when old.id=new.id and (old.caption is not new.caption or old.key_word is not "
                               "new.key_word or old.content is not new.content or old.fullname is not new.fullname) "
                               "begin insert into zel_search_dirty (id,what) values (new.id,case when old.caption is "
                               "new.caption and old.key_word is new.key_word and old.content is new.content then 1 "
                               "else 2 end); end")};
    // Rows are taken by their seq, never by id alone: a writer whose transaction is still open holds a
    // seq below the last one seen, and its change must not be dropped with the others.
    return {
        QStringLiteral("create table zel_search_dirty (seq bigserial primary key, id bigint, what integer)"),
        QStringLiteral("create or replace function zel_search_note() returns trigger language plpgsql as $$ begin "
                       "if tg_op in ('DELETE','UPDATE') and (tg_op='DELETE' or old.id<>new.id) then "
                       "insert into zel_search_dirty (id,what) values (old.id,2); end if; "
                       "if tg_op='INSERT' or (tg_op='UPDATE' and old.id<>new.id) then "
                       "insert into zel_search_dirty (id,what) values (new.id,2); "
                       "elsif tg_op='UPDATE' then "
                       "if old.caption is distinct from new.caption or old.key_word is distinct from new.key_word or "
                       "old.content is distinct from new.content then "
                       "insert into zel_search_dirty (id,what) values (new.id,2); "
                       "elsif old.fullname is distinct from new.fullname then "
                       "insert into zel_search_dirty (id,what) values (new.id,1); end if; end if; "
                       "return null; end $$"),
        QStringLiteral("create trigger zel_search_note after insert or delete or update of "
                       "id,caption,key_word,content,fullname on info for each row execute function "
                       "zel_search_note()")};
}

QStringList dropChangeRecorder(Dialect d) {
    if (d == Dialect::Sqlite)
        return {QStringLiteral("drop trigger if exists zel_search_added"),
                QStringLiteral("drop trigger if exists zel_search_removed"),
                QStringLiteral("drop trigger if exists zel_search_renumbered"),
                QStringLiteral("drop trigger if exists zel_search_changed"),
                QStringLiteral("drop table if exists zel_search_dirty")};
    return {QStringLiteral("drop trigger if exists zel_search_note on info"),
            QStringLiteral("drop function if exists zel_search_note()"),
            QStringLiteral("drop table if exists zel_search_dirty")};
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
        // The word arrays go out of line, so that counting rows through the GIN indexes reads small rows.
        statements << QStringLiteral("create extension if not exists pg_trgm")
                   << QStringLiteral("create table zel_search_doc (id bigint primary key, lead text, words "
                                     "integer[], heads integer[]) with (toast_tuple_target=128)")
                   << QStringLiteral("create index zel_search_doc_words on zel_search_doc using gin (words)")
                   << QStringLiteral("create index zel_search_doc_heads on zel_search_doc using gin (heads)")
                   << QStringLiteral("create table zel_search_word (wid integer generated always as identity "
                                     "primary key, word text not null unique)")
                   << QStringLiteral("create index zel_search_word_trgm on zel_search_word using gin (word "
                                     "gin_trgm_ops)");
    }
    statements << changeRecorder(db.dialect());
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
// Builds the rows past "upto" in batches of their own transactions, each cut after kBatchMs of work so
// that a writer (the user saving a document) never waits long for the index. A row changed while its
// batch runs gets a note, which is taken once the batch is committed.
bool buildRest(Database& db, const std::atomic<bool>* stop, const QDeadlineTimer& deadline, bool oneBatch) {
    const QString select = QStringLiteral("select id,fullname,caption,key_word,content from info where id>:upto "
                                          "order by id limit %1")
                               .arg(kBuildBatch);
    for (bool first = true;; first = false) {
        if ((stop && stop->load()) || (deadline.hasExpired() && !(first && oneBatch))) return false;
        Transaction tx(db);
        if (!tx.ok() || !lockIndex(db)) return false;
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
        QElapsedTimer work;
        work.start();
        Writer w(db);
        qint64 last = upto;
        for (const SourceRow& r : rows) {
            // A stop rolls the batch back, so that nobody waits for the rest of it.
            if ((stop && stop->load()) || !w.put(r.id, textsOf(r.fullName, r.caption, r.keywords, r.content)))
                return false;
            last = r.id;
            if (work.elapsed() >= kBatchMs) break;
        }
        if (!w.finish() || !setMeta(db, QStringLiteral("upto"), QString::number(last)) || !tx.commit()) return false;
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
        // word is one piece (wordPieces): the rows holding a word that contains it.
        p.emplace_back(QStringLiteral(":q"), dialect::containsPattern(word));
        const QString words = QStringLiteral("array(select wid from zel_search_word where word like :q escape '\\')");
        sql << QStringLiteral("select id from zel_search_doc where words && ") + words +
                   (includeFullName ? QStringLiteral(" or heads && ") + words : QString()) +
                   QStringLiteral(" limit :n");
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

// Brings the entries of the rows noted in zel_search_dirty up to date, oldest notes first, in batches of
// their own transactions. While the first build is under way, rows past the built part are left to it.
// Returns true when no note is left; false when stopped, past the deadline or on failure.
bool drainChanges(Database& db, const std::atomic<bool>* stop, const QDeadlineTimer& deadline) {
    for (;;) {
        if ((stop && stop->load()) || deadline.hasExpired()) return false;
        Transaction tx(db);
        if (!tx.ok() || !lockIndex(db)) return false;
        const qint64 upto =
            readyState(db) ? std::numeric_limits<qint64>::max() : meta(db, QStringLiteral("upto")).toLongLong();
        struct Noted {
            int what = 0; // 2 when anything but the full name changed
            QList<qint64> seqs;
        };
        QMap<qint64, Noted> noted;
        {
            Query q(db,
                    QStringLiteral("select seq,id,what from zel_search_dirty order by seq limit %1").arg(kDrainBatch));
            if (!q.isActive()) return false;
            while (q.next()) {
                Noted& n = noted[q.integer(1)];
                n.seqs << q.integer(0);
                n.what = std::max(n.what, int(q.integer(2)));
            }
        }
        if (noted.isEmpty()) return tx.commit();
        QElapsedTimer work;
        work.start();
        QList<qint64> taken;
        Writer w(db);
        for (auto it = noted.cbegin(); it != noted.cend(); ++it) {
            if (work.elapsed() >= kBatchMs) break;
            if (stop && stop->load()) return false;
            const qint64 id = it.key();
            taken << it->seqs;
            if (id > upto) continue; // the build reads it when it gets there
            if (it->what == 1) {
                // Only the full name: the head from the new full name and the stored lead.
                Query q(db,
                        QStringLiteral("select i.fullname,d.lead from info i join zel_search_doc d on d.id=i.id "
                                       "where i.id=:id"),
                        {{QStringLiteral(":id"), id}});
                if (!q.isActive()) return false;
                if (q.next()) {
                    if (!w.setHead(id, FoldCase(q.text(0)) + q.text(1))) return false;
                    continue;
                }
            }
            QList<SourceRow> rows;
            {
                Query q(db, QStringLiteral("select id,fullname,caption,key_word,content from info where id=:id"),
                        {{QStringLiteral(":id"), id}});
                if (!readRows(q, rows)) return false;
            }
            if (!(rows.isEmpty()
                      ? w.remove(id)
                      : w.put(id, textsOf(rows[0].fullName, rows[0].caption, rows[0].keywords, rows[0].content))))
                return false;
        }
        if (!w.finish()) return false;
        if (isSqlite(db)) {
            for (qint64 seq : taken)
                if (!db.exec(QStringLiteral("delete from zel_search_dirty where seq=:s"),
                             {{QStringLiteral(":s"), seq}}))
                    return false;
        } else if (!db.exec(QStringLiteral("delete from zel_search_dirty where seq=any(cast(:s as bigint[]))"),
                            {{QStringLiteral(":s"), idArray(taken)}})) {
            return false;
        }
        if (!tx.commit()) return false;
    }
}

// Ids of the rows with changes the index has not caught up on; nothing when there are limit or more.
std::optional<QList<qint64>> pendingIds(Database& db, qint64 limit) {
    QList<qint64> out;
    Query q(db, QStringLiteral("select distinct id from zel_search_dirty order by id limit :n"),
            {{QStringLiteral(":n"), limit}});
    if (!q.isActive()) return std::nullopt;
    while (q.next())
        out << q.integer(0);
    if (qint64(out.size()) >= limit) return std::nullopt;
    return out;
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
    for (const QString& s : dropChangeRecorder(db.dialect()))
        if (!db.exec(s)) return false;
    for (const char* t : {"zel_search_head", "zel_search_body", "zel_search_word", "zel_search_doc", "zel_search_meta"})
        if (!db.exec(QStringLiteral("drop table if exists ") + QLatin1String(t))) return false;
    return tx.commit();
}

bool EnsureSearchIndex(Database& db, const std::atomic<bool>* stop, const QDeadlineTimer& deadline, bool oneBatch) {
    const bool exists = SearchIndexExists(db);
    if (exists) {
        // The usual case in one round trip, without a write transaction: complete, current, and nothing to
        // catch up on.
        Query q(db, QStringLiteral("select (select v from zel_search_meta where k='format'),(select v from "
                                   "zel_search_meta where k='state'),(select count(*) from (select 1 from "
                                   "zel_search_dirty limit 1) n)"));
        if (q.next() && q.text(0) == kFormat && q.text(1) == QStringLiteral("ready") && q.integer(2) == 0) return true;
    }
    if (exists) {
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
    const auto interrupted = [&] { return (stop && stop->load()) || deadline.hasExpired(); };
    // Notes left behind are not lost: searches treat their rows as candidates until they are taken.
    if (!drainChanges(db, stop, deadline) && !interrupted() && !(DropSearchIndex(db) && createTables(db))) return false;
    if (readyState(db)) return true;
    if (buildRest(db, stop, deadline, oneBatch)) return true;
    if (interrupted()) return false; // kept; the next call goes on from here
    // An index that cannot be completed (damaged tables) is made again from scratch, once.
    return DropSearchIndex(db) && createTables(db) && buildRest(db, stop, deadline, oneBatch);
}

qint64 SearchIndexBuiltUpTo(Database& db) {
    if (!SearchIndexExists(db) || readyState(db)) return -1;
    return meta(db, QStringLiteral("upto")).toLongLong();
}

bool CatchUpSearchIndex(Database& db, const std::atomic<bool>* stop, const QDeadlineTimer& deadline) {
    return SearchIndexExists(db) && drainChanges(db, stop, deadline);
}

qint64 SearchIndexPendingChanges(Database& db) {
    if (!SearchIndexExists(db)) return 0;
    return db.scalar(QStringLiteral("select count(*) from zel_search_dirty")).toLongLong();
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
                                       "c.relname in ('zel_search_doc','zel_search_word','zel_search_meta',"
                                       "'zel_search_dirty')"),
                        {}, &ok);
    return ok ? v.toLongLong() : -1;
}

qint64 SearchIndexRowCount(Database& db) {
    return db.scalar(QStringLiteral("select count(*) from zel_search_doc")).toLongLong();
}

bool IndexCanServe(Dialect d, const QString& foldedWord, bool includeFullName) {
    // Half a surrogate pair matches as it stands in the text, but the index only knows whole characters.
    for (qsizetype i = 0; i < foldedWord.size(); ++i) {
        const QChar c = foldedWord[i];
        if (c.isHighSurrogate() && i + 1 < foldedWord.size() && foldedWord[i + 1].isLowSurrogate())
            ++i;
        else if (c.isSurrogate())
            return false;
    }
    if (d == Dialect::Sqlite ? foldedWord.toUcs4().size() < 3 : wordPieces(foldedWord).isEmpty()) return false;
    // A word that starts in the full name reaches at most its length - 1 characters past it.
    return !includeFullName || foldedWord.size() - 1 <= kLeadLength;
}

std::optional<QList<qint64>> SearchIndexCandidates(Database& db, const QStringList& foldedWords, bool includeFullName,
                                                   qint64 limit) {
    std::optional<QList<qint64>> result;
    // Rows changed since the index last caught up are candidates whatever their entries say. They are
    // read before the entries: a row taken off the notes meanwhile has its new entry by then. (A pass over
    // the small table of notes, however many notes were taken from it lately, is the fast way.)
    const std::optional<QList<qint64>> pending = pendingIds(db, limit);
    if (!pending) return std::nullopt;
    // The planner does not know that a pass over the table of entries costs more than the GIN indexes.
    std::optional<Transaction> tx;
    if (!isSqlite(db)) {
        tx.emplace(db);
        if (!tx->ok() || !db.exec(QStringLiteral("set local enable_seqscan=off"))) return std::nullopt;
    }
    // PostgreSQL looks up pieces of words; a row containing the word holds every piece.
    QStringList order;
    for (const QString& w : foldedWords) {
        if (!IndexCanServe(db.dialect(), w, includeFullName)) continue;
        if (isSqlite(db))
            order << w;
        else
            order << wordPieces(w);
    }
    // Longer words tend to be rarer: try them first, and stop asking once the candidates are few, since
    // the exact matcher checks the other words on those rows anyway.
    std::stable_sort(order.begin(), order.end(),
                     [](const QString& a, const QString& b) { return a.size() > b.size(); });
    for (const QString& w : order) {
        if (result && result->size() <= kFewCandidates) break;
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
    if (result && !pending->isEmpty()) {
        QList<qint64> all;
        std::set_union(result->begin(), result->end(), pending->begin(), pending->end(), std::back_inserter(all));
        result = std::move(all);
    }
    return result;
}

} // namespace zel
