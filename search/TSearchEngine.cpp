#include "search/TSearchEngine.h"

#include "platform/Database.h"
#include "platform/Dialect.h"
#include "search/SearchIndex.h"
#include "search/SearchText.h"
#include "store/Content.h"
#include "store/Nodes.h"
#include "store/Sql.h"

#include <QDeadlineTimer>
#include <QElapsedTimer>
#include <QThread>
#include <QtConcurrent/QtConcurrentMap>
#include <algorithm>
#include <vector>

namespace zel {

namespace {

// Above this share of the rows in range the index only adds work: one plain pass reads them all.
constexpr double kIndexShare = 0.4;
// Candidate rows fetched per statement.
constexpr int kChunk = 100;
// Rows matched together: enough to keep every core busy, few enough that a stop is quick.
constexpr int kBatch = 64;
constexpr qsizetype kBatchBytes = 4 << 20;

// Dates come as text: turning them into local date-times costs a time-zone lookup each, and the
// result entries only show them.
const QString kColumns = QStringLiteral(
    "id,caption,key_word,fullname,cast(createdate as varchar(40)),cast(modifydate as varchar(40)),fullpath");

struct Condition {
    QString sql;
    Params params;
};

Condition buildCondition(Database& db, const TSearchCriteria& c) {
    Condition out;
    const Dialect d = db.dialect();
    if (c.restrictToSubtree) {
        // An id without a row gives an empty prefix, which every row satisfies.
        const QString prefix = GetChildPath(db, c.subtreeRoot);
        out.sql += QStringLiteral(" and ") +
                   dialect::prefixCondition(d, QStringLiteral("fullpath"), QStringLiteral(":subtree"));
        out.params.emplace_back(QStringLiteral(":subtree"), dialect::prefixPattern(d, prefix));
    }
    auto range = [&](const QString& column, const QDate& begin, const QDate& end) {
        const QString b = QStringLiteral(":%1_from").arg(column), e = QStringLiteral(":%1_to").arg(column);
        out.sql += QStringLiteral(" and %1>%2 and %1<%3").arg(column, b, e);
        out.params.emplace_back(b, QDateTime(begin, QTime(0, 0)));
        out.params.emplace_back(e, QDateTime(end.addDays(1), QTime(0, 0)));
    };
    if (c.restrictByModified) range(QStringLiteral("modifydate"), c.modifiedBegin, c.modifiedEnd);
    if (c.restrictByCreated) range(QStringLiteral("createdate"), c.createdBegin, c.createdEnd);
    const QString owner = c.owner.trimmed();
    if (!owner.isEmpty()) {
        out.sql +=
            QStringLiteral(" and ") + dialect::ciLikeCondition(d, QStringLiteral("actor"), QStringLiteral(":owner"));
        out.params.emplace_back(QStringLiteral(":owner"), dialect::containsPattern(owner));
    }
    return out;
}

// Protected nodes whose password was not given: they and their subtrees stay out of the results.
QSet<qint64> lockedNodes(Database& db, const QSet<qint64>& unlocked) {
    QSet<qint64> out;
    Query q(db, QStringLiteral("select id from info where d_password>''"));
    while (q.next()) {
        const qint64 id = q.integer(0);
        if (!unlocked.contains(id)) out.insert(id);
    }
    return out;
}

// "yyyy-MM-dd HH:mm:ss" as both databases give it, without a time zone.
QDateTime plainDateTime(const QVariant& v) {
    const QString s = v.toString();
    if (s.size() < 19) return dbDateTime(v);
    auto num = [&](int at, int len) { return QStringView(s).mid(at, len).toInt(); };
    return QDateTime(QDate(num(0, 4), num(5, 2), num(8, 2)), QTime(num(11, 2), num(14, 2), num(17, 2)), Qt::UTC);
}

bool isLocked(const QSet<qint64>& locked, qint64 id, const QString& fullPath) {
    if (locked.contains(id)) return true;
    for (const QStringView part : QStringView(fullPath).split(u'/', Qt::SkipEmptyParts))
        if (locked.contains(part.toLongLong())) return true;
    return false;
}

} // namespace

TSearchEngine::TSearchEngine(QString connectionString, TSearchCriteria criteria, QObject* parent)
    : QObject(parent), connString_(std::move(connectionString)), criteria_(std::move(criteria)) {}

TSearchEngine::~TSearchEngine() {
    stop();
    if (thread_) {
        thread_->wait();
        delete thread_;
    }
}

void TSearchEngine::start() {
    if (thread_) return;
    thread_ = QThread::create([this] { run(); });
    thread_->start();
}

bool TSearchEngine::isRunning() const {
    return thread_ && thread_->isRunning();
}

bool TSearchEngine::wait(unsigned long ms) {
    return !thread_ || thread_->wait(ms);
}

void TSearchEngine::run() {
    QElapsedTimer timer;
    timer.start();
    stats_ = TSearchStats{};
    const TSearchCriteria& c = criteria_;
    auto finish = [&] {
        stats_.totalMs = timer.elapsed();
        emit searchFinished(stats_.results, stats_.stopped);
    };

    Database db;
    if (!db.open(connString_)) {
        stats_.failed = true;
        finish();
        return;
    }
    const SearchWords words = SplitSearchWords(c.text, c.matchCase);
    const Condition cond = buildCondition(db, c);
    const QString where = QStringLiteral(" from info Where ") + sql::live() + cond.sql;

    // Content searches that name a word the index can serve read only the candidate rows, unless they
    // are a large share of the knowledge base.
    std::optional<QList<qint64>> candidates;
    qint64 tailFrom = -1; // with a partly built index: rows past this id are read by the plain pass
    if (c.includeContent && c.method == TSearchCriteria::Method::Auto &&
        std::any_of(words.include.begin(), words.include.end(), [&](const QString& w) {
            return IndexCanServe(db.dialect(), c.matchCase ? FoldCase(w) : w, c.includeFullName);
        })) {
        // A first build of a large index takes minutes: each search gives it a little time and uses what
        // is built so far.
        const bool ready = EnsureSearchIndex(db, &stop_, QDeadlineTimer(c.indexBuildBudgetMs));
        const qint64 upto = ready ? -1 : SearchIndexBuiltUpTo(db);
        if (!stop_.load() && (ready || upto > 0)) {
            QStringList folded;
            for (const QString& w : words.include)
                folded << (c.matchCase ? FoldCase(w) : w);
            const qint64 rows = SearchIndexRowCount(db);
            const qint64 limit = std::max<qint64>(1, qint64(double(rows) * kIndexShare));
            candidates = SearchIndexCandidates(db, folded, c.includeFullName, limit);
            if (candidates && qint64(candidates->size()) >= limit) candidates.reset();
            if (candidates && !ready) {
                candidates->removeIf([&](qint64 id) { return id > upto; });
                tailFrom = upto;
            }
        }
        if (stop_.load()) {
            stats_.stopped = true;
            finish();
            return;
        }
    }
    // The plain pass counts the rows in range first, for its progress; so does the tail of a partly built
    // index.
    if (!candidates || tailFrom >= 0) {
        bool ok = false;
        Params params = cond.params;
        QString sql = QStringLiteral("select count(id)") + where;
        if (tailFrom >= 0) {
            sql += QStringLiteral(" and id>:tail");
            params.emplace_back(QStringLiteral(":tail"), tailFrom);
        }
        const QVariant count = db.scalar(sql, params, &ok);
        if (!ok) {
            stats_.failed = true;
            finish();
            return;
        }
        stats_.rangeRows = count.toLongLong();
    }
    stats_.usedIndex = candidates.has_value();

    const QSet<qint64> locked = lockedNodes(db, c.unlockedDocuments);
    const qint64 total =
        candidates ? qint64(candidates->size()) + (tailFrom >= 0 ? stats_.rangeRows : 0) : stats_.rangeRows;
    const bool showProgress = total > 100;
    const qint64 step = total / 25;
    if (showProgress) {
        emit progressVisible(true);
        emit progressPosition(0);
    }

    QString page;
    int number = 1, fill = 0, position = 0;
    qint64 rowCounter = 0;
    bool scanSignalled = false;
    auto flush = [&] {
        if (page.isEmpty()) return;
        if (stats_.pages == 0) stats_.firstPageMs = timer.elapsed();
        ++stats_.pages;
        emit pageFlushed(page);
        page.clear();
    };
    // Rows are read in batches; expanding, decoding and matching them is the costly part and runs on
    // every core, while results are numbered and published in row order here.
    struct Row {
        qint64 id = 0;
        QString caption, keywords, fullName, created, modified, fullPath;
        QByteArray stored;
        bool matched = false;
        QString excerpt;
    };
    std::vector<Row> batch;
    batch.reserve(kBatch);
    auto match = [&](Row& r) {
        if (!locked.isEmpty() && isLocked(locked, r.id, r.fullPath)) return;
        QString content = c.includeContent ? DecodeStoredContent(r.stored) : QString();
        r.stored = QByteArray();
        if (!c.matchCase) content = FoldCase(std::move(content));
        const QString haystack =
            BuildHaystack(r.fullName, r.caption, r.keywords, QString(), c.includeFullName, c.matchCase) + content;
        r.matched = MatchesWords(haystack, words);
        if (r.matched) r.excerpt = BuildExcerpt(content, words.include);
    };
    // Returns false when the search is to stop.
    auto publish = [&]() {
        if (batch.size() > 1)
            QtConcurrent::blockingMap(batch, match);
        else if (!batch.empty())
            match(batch.front());
        for (Row& r : batch) {
            ++stats_.rowsRead;
            if (r.matched) {
                SearchResultEntry e;
                e.number = number;
                e.id = r.id;
                e.caption = r.caption;
                e.fullName = r.fullName;
                e.keywords = r.keywords;
                e.created = plainDateTime(r.created);
                e.modified = plainDateTime(r.modified);
                e.excerpt = std::move(r.excerpt);
                page += ResultEntryHtml(e);
                emit resultFound(number, r.id, r.caption, r.fullName + r.caption + QStringLiteral(".htm"));
                ++number;
                ++stats_.results;
                if (++fill == 10) {
                    flush();
                    fill = 0;
                }
            }
            if (stop_.load()) {
                stats_.stopped = true;
                return false;
            }
            if (++rowCounter == step) {
                if (showProgress) emit progressPosition(position += 4);
                rowCounter = 0;
            }
        }
        batch.clear();
        return true;
    };
    auto readAll = [&](Query& q) {
        if (!q.isActive()) return false;
        if (!scanSignalled) {
            scanSignalled = true;
            emit scanStarted();
        }
        qsizetype bytes = 0;
        while (q.next()) {
            Row& r = batch.emplace_back();
            r.id = q.integer(0);
            r.caption = q.text(1);
            r.keywords = q.text(2);
            r.fullName = q.text(3);
            r.created = q.text(4);
            r.modified = q.text(5);
            r.fullPath = q.text(6);
            if (c.includeContent) r.stored = q.value(7).toByteArray();
            bytes += r.stored.size();
            // Without content a row costs little: match one at a time so a stop ends at once.
            if ((c.includeContent && int(batch.size()) < kBatch && bytes < kBatchBytes)) continue;
            if (!publish()) return false;
            bytes = 0;
        }
        return publish();
    };

    const QString select =
        QStringLiteral("select ") + kColumns + (c.includeContent ? QStringLiteral(",content") : QString()) + where;
    // One streaming pass over the rows in range, all of them or those past an id.
    auto scan = [&](qint64 pastId) {
        Query q(db);
        q.setStreaming(true);
        q.prepare(select + (pastId >= 0 ? QStringLiteral(" and id>:tail") : QString()) +
                  QStringLiteral(" order by id"));
        for (const auto& [k, v] : cond.params)
            q.bind(k, v);
        if (pastId >= 0) q.bind(QStringLiteral(":tail"), pastId);
        q.exec();
        return readAll(q);
    };
    if (!candidates) {
        scan(-1);
    } else {
        // Fixed-size id lists keep one statement text, so it is prepared once; short chunks repeat an id.
        QString in;
        for (int i = 0; i < kChunk; ++i)
            in += (i ? QStringLiteral(",:c") : QStringLiteral(":c")) + QString::number(i);
        const QString sql = select + QStringLiteral(" and id in (") + in + QStringLiteral(") order by id");
        bool go = true;
        for (qsizetype at = 0; go && at < candidates->size(); at += kChunk) {
            Query q(db);
            q.prepare(sql);
            for (const auto& [k, v] : cond.params)
                q.bind(k, v);
            for (int i = 0; i < kChunk; ++i)
                q.bind(QStringLiteral(":c") + QString::number(i),
                       candidates->at(std::min<qsizetype>(at + i, candidates->size() - 1)));
            q.exec();
            go = readAll(q);
        }
        if (go && tailFrom >= 0) scan(tailFrom);
    }
    flush();
    if (showProgress) emit progressVisible(false);
    finish();
}

} // namespace zel
