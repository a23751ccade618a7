// Search benchmark: builds a knowledge base of generated HTML documents with a skewed vocabulary,
// times content searches through the index and by the plain scan, and grep -rlF over the same
// documents written out as files.
//
//   search_bench [--dir DIR] [--docs N] [--cli PATH] [--pg HOST:PORT] [--keep] [--existing] [--background]
//
// DIR (default /tmp/zel-search-bench) is removed at the end unless --keep is given.
// --background: the index of the fresh knowledge base is built by the background builder, as after the
// first opening in the program, while searches and edits go on; prints when it is complete and how long
// the builder takes to stop.
#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QThread>
#include <algorithm>
#include <cstdio>
#include <random>
#include <sys/resource.h>

#include "platform/Database.h"
#include "platform/Paths.h"
#include "search/SearchIndex.h"
#include "search/TSearchEngine.h"
#include "search/TSearchIndexBuilder.h"
#include "store/Catalogue.h"
#include "store/Compression.h"
#include "store/KnowledgeBase.h"
#include "store/Nodes.h"
#include "store/Users.h"

using namespace zel;

namespace {

void out(const QString& s) {
    const QByteArray b = (s + u'\n').toUtf8();
    fwrite(b.constData(), 1, size_t(b.size()), stdout);
    fflush(stdout);
}

// A Zipf-like vocabulary: a few common English words first, then generated ones.
class Vocabulary {
public:
    explicit Vocabulary(std::mt19937& rng) {
        const char* common[] = {"the", "of",   "and",  "to",   "in", "is",   "that",  "for",
                                "it",  "as",   "with", "was",  "on", "be",   "by",    "this",
                                "are", "from", "or",   "have", "an", "they", "which", "one"};
        for (const char* w : common)
            words_ << QString::fromLatin1(w);
        std::uniform_int_distribution<int> len(3, 10), letter(0, 25);
        while (words_.size() < 30000) {
            QString w;
            const int n = len(rng);
            for (int i = 0; i < n; ++i)
                w += QChar(u'a' + letter(rng));
            words_ << w;
        }
        double sum = 0;
        for (qsizetype i = 0; i < words_.size(); ++i) {
            sum += 1.0 / double(i + 1);
            cumulative_.push_back(sum);
        }
        total_ = sum;
    }
    const QString& pick(std::mt19937& rng) {
        const double r = std::uniform_real_distribution<double>(0, total_)(rng);
        const auto it = std::lower_bound(cumulative_.begin(), cumulative_.end(), r);
        return words_[std::min<qsizetype>(it - cumulative_.begin(), words_.size() - 1)];
    }

private:
    QStringList words_;
    std::vector<double> cumulative_;
    double total_ = 0;
};

struct Case {
    const char* label;
    QString text;
    QString grepWord;
};

qint64 median(std::vector<qint64> v) {
    std::sort(v.begin(), v.end());
    return v.empty() ? -1 : v[v.size() / 2];
}

struct Timing {
    qint64 firstMs = -1, totalMs = -1;
    int results = 0;
    bool usedIndex = false;
};

Timing timeSearch(const QString& conn, const QString& text, TSearchCriteria::Method method, int runs) {
    std::vector<qint64> first, total;
    Timing t;
    for (int i = 0; i < runs; ++i) {
        TSearchCriteria c;
        c.text = text;
        c.includeContent = true;
        c.method = method;
        TSearchEngine e(conn, c);
        e.run();
        first.push_back(e.stats().firstPageMs);
        total.push_back(e.stats().totalMs);
        t.results = e.stats().results;
        t.usedIndex = e.stats().usedIndex;
    }
    t.firstMs = median(first);
    t.totalMs = median(total);
    return t;
}

qint64 timeProcess(const QString& program, const QStringList& args, int runs, QString* output = nullptr) {
    std::vector<qint64> ms;
    for (int i = 0; i < runs; ++i) {
        QProcess p;
        QElapsedTimer t;
        t.start();
        p.start(program, args);
        p.waitForFinished(-1);
        ms.push_back(t.elapsed());
        if (output) *output = QString::fromUtf8(p.readAllStandardOutput());
    }
    return median(ms);
}

double processCpuSeconds() {
    rusage u{};
    getrusage(RUSAGE_SELF, &u);
    return double(u.ru_utime.tv_sec + u.ru_stime.tv_sec) + double(u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

// Writes the generated corpus into the knowledge base and as files under dir/files.
bool makeCorpus(Database& db, const QString& dir, int docs, const QString& pg, qint64* htmlBytesOut = nullptr) {
    QElapsedTimer timer;
    // Corpus: folders of documents; "quixotry" in 5 documents, "lanthanum" in about 10%.
    std::mt19937 rng(4711);
    Vocabulary vocab(rng);
    timer.start();
    QList<qint64> folders;
    qint64 htmlBytes = 0;
    const int folderCount = std::max(1, docs / 100);
    std::uniform_int_distribution<int> docPick(0, docs - 1);
    QSet<int> rare;
    while (rare.size() < std::min(5, docs))
        rare.insert(docPick(rng));
    db.begin();
    for (int f = 0; f < folderCount; ++f) {
        Tinfoproperty rec;
        rec.caption = vocab.pick(rng) + u' ' + QString::number(f);
        folders << InsertNode(db, rec, QStringLiteral("0")).toLongLong();
    }
    std::uniform_int_distribution<int> folderPick(0, folderCount - 1), paraLen(30, 90), chance(0, 99);
    for (int d = 0; d < docs; ++d) {
        Tinfoproperty rec;
        rec.caption = vocab.pick(rng) + u' ' + vocab.pick(rng) + u' ' + QString::number(d);
        QString html =
            QStringLiteral("<html><head><title>") + rec.caption + QStringLiteral("</title></head><body>\r\n");
        const bool tenth = chance(rng) < 10;
        int words = 0;
        while (html.size() < 7000) {
            html += QStringLiteral("<p>");
            const int n = paraLen(rng);
            for (int i = 0; i < n; ++i) {
                if (i) html += u' ';
                html += vocab.pick(rng);
                ++words;
                if (tenth && words == 300) html += QStringLiteral(" lanthanum");
                if (rare.contains(d) && words == 500) html += QStringLiteral(" quixotry");
            }
            html += QStringLiteral("</p>\r\n");
        }
        html += QStringLiteral("</body></html>\r\n");
        rec.content = html;
        const qint64 id = InsertNode(db, rec, QString::number(folders[folderPick(rng)])).toLongLong();
        const QByteArray utf8 = html.toUtf8();
        htmlBytes += utf8.size();
        const QString sub = dir + QStringLiteral("/files/") + QString::number(id / 1000);
        QDir().mkpath(sub);
        QFile file(sub + u'/' + QString::number(id) + QStringLiteral(".htm"));
        if (file.open(QIODevice::WriteOnly)) file.write(utf8);
        if (d % 1000 == 999) {
            db.commit();
            db.begin();
        }
    }
    db.commit();
    db.exec(QStringLiteral("update info set haschild='Y' where parentnode=0"));
    const qint64 fileBytes =
        pg.isEmpty() ? QFileInfo(dir + QStringLiteral("/data/bench.skm")).size()
                     : db.scalar(QStringLiteral("select pg_database_size(current_database())")).toLongLong();
    out(QStringLiteral("corpus: %1 documents, %2 MB of HTML as UTF-8 files, knowledge base %3 MB, made in %4 s")
            .arg(docs)
            .arg(double(htmlBytes) / 1e6, 0, 'f', 1)
            .arg(double(fileBytes) / 1e6, 0, 'f', 1)
            .arg(double(timer.elapsed()) / 1000.0, 0, 'f', 1));
    if (htmlBytesOut) *htmlBytesOut = htmlBytes;
    return true;
}

// The index of a fresh knowledge base built in the background while a user searches and edits: one
// search and one edit every second. Once, after five seconds, the builder is stopped (as at logout) and
// started again.
bool backgroundBuild(const QString& conn, int docs, bool idle) {
    Database db;
    if (!db.open(conn) || !DropSearchIndex(db)) return false;
    QElapsedTimer timer;
    timer.start();
    std::atomic<bool> ready{false}, failed{false};
    std::atomic<qint64> done{0};
    const double cpuAtStart = processCpuSeconds();
    TSearchIndexBuilder builder(conn);
    builder.setIdlePriority(idle);
    QObject::connect(
        &builder, &TSearchIndexBuilder::indexReady, &builder, [&] { ready = true; }, Qt::DirectConnection);
    QObject::connect(
        &builder, &TSearchIndexBuilder::failed, &builder, [&] { failed = true; }, Qt::DirectConnection);
    QObject::connect(
        &builder, &TSearchIndexBuilder::progress, &builder, [&](qint64 d, qint64) { done = d; }, Qt::DirectConnection);
    builder.start();
    std::mt19937 rng(99);
    std::uniform_int_distribution<int> pick(1, docs);
    std::vector<qint64> searchMs;
    int edits = 0, editFailures = 0, differences = 0;
    qint64 stopMs = -1, doneAtStop = 0;
    while (!ready && !failed) {
        QThread::msleep(1000);
        if (stopMs < 0 && timer.elapsed() > 5000) {
            QElapsedTimer t;
            t.start();
            builder.stop();
            stopMs = t.elapsed();
            doneAtStop = done;
            builder.start();
        }
        // A search as the program makes it while the builder runs: no build of its own.
        TSearchCriteria c;
        c.text = QStringLiteral("quixotry");
        c.includeContent = true;
        c.indexBuildBudgetMs = 0;
        TSearchEngine e(conn, c);
        e.run();
        searchMs.push_back(e.stats().totalMs);
        if (e.stats().results != 5) ++differences;
        // An edit of a row the builder may be reading (a new caption keeps the rare word's count).
        const QString id = QString::number(pick(rng));
        ++edits;
        if (!RenameNode(db, QStringLiteral("edited %1").arg(edits), id)) ++editFailures;
    }
    const qint64 completeMs = timer.elapsed();
    const double cpuSeconds = processCpuSeconds() - cpuAtStart;
    builder.stop();
    if (failed) {
        out(QStringLiteral("background build failed"));
        return false;
    }
    std::vector<qint64> sorted = searchMs;
    std::sort(sorted.begin(), sorted.end());
    out(QStringLiteral("background build (%1 priority): index complete %2 s after opening (%3 documents)")
            .arg(idle ? QStringLiteral("idle") : QStringLiteral("normal"))
            .arg(double(completeMs) / 1000.0, 0, 'f', 1)
            .arg(docs));
    // On a machine shared with other work the wall time says little; the processor time is what the
    // build costs (with the searches and edits below).
    out(QStringLiteral("  processor time of the process meanwhile: %1 s").arg(cpuSeconds, 0, 'f', 1));
    out(QStringLiteral("  meanwhile %1 searches for the rare word: median %2 ms, slowest %3 ms, %4 with another "
                       "result count; %5 edits, %6 failed")
            .arg(searchMs.size())
            .arg(median(searchMs))
            .arg(sorted.empty() ? -1 : sorted.back())
            .arg(differences)
            .arg(edits)
            .arg(editFailures));
    out(QStringLiteral("  stop() of the builder at 5 s returned after %1 ms (%2 rows built by then); it went on "
                       "from there")
            .arg(stopMs)
            .arg(doneAtStop));
    return true;
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments();
    auto option = [&](const char* name, const QString& fallback) {
        const qsizetype i = args.indexOf(QString::fromLatin1(name));
        return i >= 0 && i + 1 < args.size() ? args[i + 1] : fallback;
    };
    const QString dir = QDir(option("--dir", QStringLiteral("/tmp/zel-search-bench"))).absolutePath();
    const int docs = option("--docs", QStringLiteral("50000")).toInt();
    const QString cli = option("--cli", app.applicationDirPath() + QStringLiteral("/../zel-cli"));
    // --existing: time the searches again over a corpus left by --keep.
    const bool existing = args.contains(QStringLiteral("--existing"));
    const bool keep = existing || args.contains(QStringLiteral("--keep"));
    const bool background = args.contains(QStringLiteral("--background"));

    if (!existing) {
        QDir(dir).removeRecursively();
        QDir().mkpath(dir + QStringLiteral("/files"));
    }
    setHomeFolder(dir + QStringLiteral("/home"));
    ensureHomeFolder();
    Catalogue catalogue;
    catalogue.LoadCatalogue(catalogueFilePath());
    // --pg HOST:PORT: the knowledge base lives in the database zel_bench on that server (user postgres).
    const QString pg = option("--pg", QString());
    const CatalogueEntry entry = pg.isEmpty()
                                     ? CatalogueEntry::make(0, QStringLiteral("bench"), dir + QStringLiteral("/data/"),
                                                            QStringLiteral("bench.skm"), QString(), QString())
                                     : CatalogueEntry::make(1, QStringLiteral("bench"), pg, QStringLiteral("zel_bench"),
                                                            QStringLiteral("postgres"), QString());
    if (!pg.isEmpty() && !existing) {
        Database server;
        if (TryConnect(server, 1, pg, QString(), QStringLiteral("postgres"), QString()))
            server.exec(QStringLiteral("drop database if exists zel_bench with (force)"));
    }
    QString error;
    if (!existing && !NewKnowledgeBase(catalogue, entry, QStringLiteral("admin"), QStringLiteral("bench"), &error)) {
        out(QStringLiteral("cannot create the knowledge base: ") + error);
        return 1;
    }
    const QString conn = BuildConnectionString(entry);
    Database db;
    if (!db.open(conn)) {
        out(QStringLiteral("cannot open: ") + db.lastError());
        return 1;
    }
    CurrentUser().name = QStringLiteral("bench");

    QElapsedTimer timer;
    if (background) {
        // With --existing, the corpus left by --keep (its index is dropped and built again).
        if (!existing && !makeCorpus(db, dir, docs, pg)) return 1;
        const int count = db.scalar(QStringLiteral("select count(*) from info where parentnode<>0")).toInt();
        const bool ok = backgroundBuild(conn, count, !args.contains(QStringLiteral("--normal-priority")));
        db.close();
        if (!keep) QDir(dir).removeRecursively();
        return ok ? 0 : 1;
    }
    if (!existing) {
        qint64 htmlBytes = 0;
        if (!makeCorpus(db, dir, docs, pg, &htmlBytes)) return 1;

        // The index, as the first search would build it.
        timer.restart();
        if (!EnsureSearchIndex(db)) {
            out(QStringLiteral("index build failed: ") + db.lastError());
            return 1;
        }
        const qint64 buildMs = timer.elapsed();
        const qint64 indexBytes = SearchIndexBytes(db);
        out(QStringLiteral("index: built in %1 s (%2 MB/s of text), %3 MB = %4 x the UTF-8 text")
                .arg(double(buildMs) / 1000.0, 0, 'f', 1)
                .arg(double(htmlBytes) / 1e6 / (double(buildMs) / 1000.0), 0, 'f', 1)
                .arg(double(indexBytes) / 1e6, 0, 'f', 1)
                .arg(double(indexBytes) / double(htmlBytes), 0, 'f', 2));
    }

    // What zlib allows: reading and inflating every stored document, nothing else.
    {
        std::vector<qint64> ms;
        for (int run = 0; run < 3; ++run) {
            timer.restart();
            qint64 bytes = 0;
            Query q(db);
            q.setStreaming(true);
            q.prepare(QStringLiteral("select content from info order by id"));
            q.exec();
            while (q.next())
                bytes += DecompressStream(q.value(0).toByteArray()).size();
            ms.push_back(timer.elapsed());
            if (run == 0) out(QStringLiteral("inflated UTF-16 text: %1 MB").arg(double(bytes) / 1e6, 0, 'f', 1));
        }
        out(QStringLiteral("floor: reading and inflating every document takes %1 ms (median of 3)").arg(median(ms)));
    }
    db.close();

    auto grep = [&](const QString& word) {
        const QString files = dir + QStringLiteral("/files");
        return QFileInfo::exists(files) ? timeProcess(QStringLiteral("grep"), {QStringLiteral("-rlF"), word, files}, 3)
                                        : qint64(-1);
    };
    const Case cases[] = {
        {"rare word (5 documents)", QStringLiteral("quixotry"), QStringLiteral("quixotry")},
        {"word in ~10%", QStringLiteral("lanthanum"), QStringLiteral("lanthanum")},
        {"word in every document", QStringLiteral("the"), QStringLiteral("the")},
        {"two words (every + rare)", QStringLiteral("the quixotry"), QStringLiteral("quixotry")},
        {"two words (every + 10%)", QStringLiteral("the lanthanum"), QStringLiteral("lanthanum")},
        {"word and exclude word", QStringLiteral("lanthanum -quixotry"), QStringLiteral("lanthanum")},
    };
    out(QStringLiteral("\nsearch (median of 3; scan median of 2)   results  index: first/end ms   scan: first/end ms   "
                       "grep -rlF ms"));
    for (const Case& c : cases) {
        const Timing idx = timeSearch(conn, c.text, TSearchCriteria::Method::Auto, 3);
        const Timing scan = timeSearch(conn, c.text, TSearchCriteria::Method::Scan, 2);
        const qint64 grepMs = grep(c.grepWord);
        out(QStringLiteral("%1 %2 %3 %4/%5%6 %7/%8 %9")
                .arg(QString::fromLatin1(c.label).leftJustified(38))
                .arg(idx.results, 8)
                .arg(idx.results == scan.results ? QStringLiteral(" ") : QStringLiteral("!"))
                .arg(idx.firstMs, 8)
                .arg(idx.totalMs)
                .arg(idx.usedIndex ? QStringLiteral(" (index)") : QStringLiteral(" (scan) "))
                .arg(scan.firstMs, 10)
                .arg(scan.totalMs)
                .arg(grepMs, 12));
    }

    // zel-cli end to end (process start, login, search, output) against grep for the rare word.
    if (QFile::exists(cli)) {
        QString cliOut;
        const qint64 cliMs = timeProcess(cli,
                                         {QStringLiteral("--home"), dir + QStringLiteral("/home"), QStringLiteral("-k"),
                                          QStringLiteral("bench"), QStringLiteral("-u"), QStringLiteral("admin"),
                                          QStringLiteral("-p"), QStringLiteral("bench"), QStringLiteral("search"),
                                          QStringLiteral("--content"), QStringLiteral("quixotry")},
                                         3, &cliOut);
        const qint64 grepMs = grep(QStringLiteral("quixotry"));
        out(QStringLiteral("\nzel-cli search --content quixotry: %1 ms end to end (%2 rows); grep -rlF: %3 ms")
                .arg(cliMs)
                .arg(cliOut.count(u'\n'))
                .arg(grepMs));
    } else {
        out(QStringLiteral("\nzel-cli not found at ") + cli);
    }

    // Stop: a plain scan for a word in every document, stopped after 300 ms.
    {
        TSearchCriteria c;
        c.text = QStringLiteral("the");
        c.includeContent = true;
        c.method = TSearchCriteria::Method::Scan;
        TSearchEngine e(conn, c);
        e.start();
        QThread::msleep(300);
        QElapsedTimer t;
        t.start();
        e.stop();
        e.wait();
        out(QStringLiteral("stop: the running scan ended %1 ms after stop() (%2 results by then)")
                .arg(t.elapsed())
                .arg(e.stats().results));
    }

    if (!keep) QDir(dir).removeRecursively();
    return 0;
}
