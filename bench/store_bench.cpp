// Builds a knowledge base of about 100,000 nodes and times the store operations on it.
//
//   store_bench [--sqlite-dir DIR] [--pg HOST:PORT] [--pg-user USER] [--skip-sqlite] [--quick] [--tiny-documents]
//   store_bench --build-only FILE     (only builds the knowledge base into FILE and keeps it)
//
// Tree: ten top folders with folders five more levels down and documents at level six; one folder
// with 10,000 documents ("Big"); one folder with ten folders of 1,000 documents ("Heavy"). Documents
// are mostly 2-10 KB of HTML, a few hundred of 200 KB to 1 MB; every hundredth carries a ".jpg".
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <algorithm>
#include <cstdio>

#include "platform/Database.h"
#include "platform/SqliteFile.h"
#include "store/Catalogue.h"
#include "store/Content.h"
#include "store/KnowledgeBase.h"
#include "store/Nodes.h"
#include "store/RecycleBin.h"
#include "store/Schema.h"
#include "store/Users.h"

using namespace zel;

namespace {

QRandomGenerator rng(20261211);

// A long run of HTML paragraphs of made-up words; documents are slices of it.
QString makeCorpus(qsizetype chars) {
    static const char* syllables[] = {"ka", "lo", "mi",  "ne",  "ru",  "sa",  "ti",  "vo",  "ze", "qu", "an", "el",
                                      "or", "ux", "ber", "dan", "fel", "gor", "hul", "jin", "ké", "lü", "ñe", "ça"};
    QString s;
    s.reserve(chars + 200);
    while (s.size() < chars) {
        s += QStringLiteral("<p>");
        const int words = 20 + int(rng.bounded(60));
        for (int w = 0; w < words; ++w) {
            const int n = 1 + int(rng.bounded(4));
            for (int i = 0; i < n; ++i)
                s += QString::fromUtf8(syllables[rng.bounded(int(std::size(syllables)))]);
            s += u' ';
        }
        s += QStringLiteral("</p>\n");
    }
    return s;
}

struct Bench {
    Bench(Database& d, QString c) : db(d), corpus(std::move(c)) {}
    Database& db;
    QString corpus;
    bool quick = false;         // only the Big and Heavy folders, for trying changes out
    bool tinyDocuments = false; // 50-character documents: what rows without their content would cost
    int inserted = 0;
    int bigDocs = 0;
    int pictures = 0;
    QString big, heavy, copySource, target;
    QStringList deepPaths;

    QString document(int size) {
        if (tinyDocuments) size = 50;
        const qsizetype at = rng.bounded(int(corpus.size() - size - 1));
        return QStringLiteral("<html><body>\n") + corpus.mid(at, size) + QStringLiteral("\n</body></html>\n");
    }

    QString addNode(const QString& parent, const QString& caption, bool folder) {
        Tinfoproperty rec;
        rec.caption = caption;
        if (!folder) {
            const bool large = rng.bounded(330) == 0 && bigDocs < 300;
            if (large) ++bigDocs;
            rec.content = document(large ? 200000 + int(rng.bounded(800000)) : 2000 + int(rng.bounded(8000)));
        }
        const QString id = InsertNode(db, rec, parent);
        if (id.isEmpty()) {
            fprintf(stderr, "insert failed: %s\n", qPrintable(db.lastError()));
            exit(1);
        }
        ++inserted;
        if (!folder && inserted % 100 == 0) {
            QByteArray jpg(10000 + int(rng.bounded(40000)), Qt::Uninitialized);
            for (char& c : jpg)
                c = char(rng.generate());
            if (SaveAttachmentFromStream(db, jpg, id, QStringLiteral("picture.jpg")).isEmpty()) exit(1);
            ++pictures;
        }
        return id;
    }

    // Folders below parent down to level 6, where documents sit.
    void fill(const QString& parent, const QString& namePath, int level, Transaction*& tx) {
        static const int fanOut[] = {0, 10, 4, 4, 3, 2};
        if (level == 6) {
            for (int i = 0; i < 82; ++i)
                addNode(parent, QStringLiteral("doc %1").arg(i), false);
            if (deepPaths.size() < 50) deepPaths << namePath + QStringLiteral("doc 7");
            return;
        }
        for (int i = 0; i < fanOut[level]; ++i) {
            const QString caption = QStringLiteral("Folder %1.%2").arg(level).arg(i);
            const QString id = addNode(parent, caption, true);
            fill(id, namePath + caption + u'/', level + 1, tx);
            RefreshHasChild(db, id);
            if (inserted > 2000 && level >= 4) { // keep transactions to a few thousand rows
                tx->commit();
                delete tx;
                tx = new Transaction(db);
            }
        }
    }

    double build() {
        CurrentUser().name = QStringLiteral("bench");
        QElapsedTimer t;
        t.start();
        auto* tx = new Transaction(db);
        if (!quick) fill(QStringLiteral("0"), QStringLiteral("/"), 1, tx);
        big = addNode(QStringLiteral("0"), QStringLiteral("Big"), true);
        for (int i = 0; i < 10000; ++i) {
            addNode(big, QStringLiteral("item %1").arg(i), false);
            if (i % 2000 == 1999) {
                tx->commit();
                delete tx;
                tx = new Transaction(db);
            }
        }
        RefreshHasChild(db, big);
        heavy = addNode(QStringLiteral("0"), QStringLiteral("Heavy"), true);
        for (int f = 0; f < 10; ++f) {
            const QString folder = addNode(heavy, QStringLiteral("part %1").arg(f), true);
            if (f == 0) copySource = folder;
            for (int i = 0; i < 1000; ++i)
                addNode(folder, QStringLiteral("note %1").arg(i), false);
            RefreshHasChild(db, folder);
            tx->commit();
            delete tx;
            tx = new Transaction(db);
        }
        RefreshHasChild(db, heavy);
        target = addNode(QStringLiteral("0"), QStringLiteral("Target"), true);
        tx->commit();
        delete tx;
        return inserted / (double(t.nsecsElapsed()) / 1e9);
    }
};

QString mark(bool ok) {
    return ok ? QString() : QStringLiteral(" FAILED");
}

double ms(const QElapsedTimer& t) {
    return double(t.nsecsElapsed()) / 1e6;
}

double median(QList<double> v) {
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

void line(const char* what, double value, const char* unit) {
    printf("  %-52s %10.1f %s\n", what, value, unit);
}

void run(Database& db, const char* name) {
    printf("%s\n", name);
    Bench b{db, makeCorpus(1200000)};
    b.quick = QCoreApplication::arguments().contains(QStringLiteral("--quick"));
    b.tinyDocuments = QCoreApplication::arguments().contains(QStringLiteral("--tiny-documents"));
    const double rate = b.build();
    printf("  knowledge base: %d nodes (%d of 200 KB-1 MB, %d with a picture)\n", b.inserted, b.bigDocs, b.pictures);
    line("insert (InsertNode, nodes per second)", rate, "nodes/s");

    QList<double> times;
    qsizetype listed = 0;
    for (int i = 0; i < 5; ++i) {
        QElapsedTimer t;
        t.start();
        listed = ListChildren(db, b.big).size();
        times << ms(t);
    }
    line(qPrintable(QStringLiteral("list the children of Big (%1 rows), median of 5").arg(listed)), median(times),
         "ms");

    times.clear();
    int found = 0;
    for (const QString& p : b.deepPaths) {
        QElapsedTimer t;
        t.start();
        if (FindNodeByName(db, p) != QStringLiteral("0")) ++found;
        times << ms(t);
    }
    if (!times.isEmpty())
        line(qPrintable(
                 QStringLiteral("FindNodeByName at depth 6 (%1/%2 found), median").arg(found).arg(b.deepPaths.size())),
             median(times), "ms");

    const int descendants = CountSubtree(db, b.heavy);
    {
        QElapsedTimer t;
        t.start();
        const bool ok = RenameNode(db, QStringLiteral("Heavy renamed"), b.heavy);
        line(qPrintable(QStringLiteral("rename a folder with %1 descendants%2").arg(descendants).arg(mark(ok))), ms(t),
             "ms");
    }
    {
        QElapsedTimer t;
        t.start();
        const int sort = MoveNode(db, b.target, b.heavy);
        line(qPrintable(QStringLiteral("move a folder with %1 descendants%2").arg(descendants).arg(mark(sort))), ms(t),
             "ms");
        MoveNode(db, QStringLiteral("0"), b.heavy);
    }
    {
        const int size = CountSubtree(db, b.copySource) + 1;
        QElapsedTimer t;
        t.start();
        const QString copy = CopySubtree(db, true, b.target, b.copySource);
        line(qPrintable(QStringLiteral("copy a %1-node subtree%2").arg(size).arg(mark(!copy.isEmpty()))), ms(t), "ms");
    }
    {
        b.tinyDocuments = false; // this one is 1 MB in any case
        const QString doc = b.addNode(b.target, QStringLiteral("one megabyte"), false);
        const QString text = b.document(1000000);
        QElapsedTimer t;
        t.start();
        const bool ok = WriteDocumentText(db, doc, text);
        line(ok ? "write a 1 MB document" : "write a 1 MB document FAILED", ms(t), "ms");
        t.restart();
        const QByteArray back = ReadDocumentContent(db, doc);
        line(back.size() >= 1000000 ? "read a 1 MB document" : "read a 1 MB document FAILED", ms(t), "ms");
    }
    {
        QList<qint64> ids{b.heavy.toLongLong()};
        {
            Query q(db,
                    QStringLiteral("select id from info where parentnode in (select id from info where "
                                   "parentnode=:h) or parentnode=:h"),
                    {{QStringLiteral(":h"), b.heavy.toLongLong()}});
            while (q.next())
                ids << q.integer(0);
        }
        QElapsedTimer t;
        t.start();
        const bool binned = MoveNodeToBin(db, b.heavy, true);
        line(qPrintable(QStringLiteral("move a %1-node subtree to the bin%2").arg(ids.size()).arg(mark(binned))), ms(t),
             "ms");
        t.restart();
        const bool restored = RestoreNodes(db, ids);
        line(qPrintable(QStringLiteral("restore those %1 nodes%2").arg(ids.size()).arg(mark(restored))), ms(t), "ms");
    }
    fflush(stdout);
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments();
    auto option = [&](const QString& name, const QString& fallback) {
        const qsizetype i = args.indexOf(name);
        return i >= 0 && i + 1 < args.size() ? args[i + 1] : fallback;
    };
    if (const QString keep = option(QStringLiteral("--build-only"), QString()); !keep.isEmpty()) {
        // The same knowledge base kept for other benchmarks (start-up).
        const QFileInfo info(keep);
        Database db;
        if (info.exists() || !createSqliteFile(info.absoluteFilePath()) ||
            !db.open(BuildConnectionString(0, info.absolutePath() + u'/', info.fileName(), QString(), QString())) ||
            !CreateSchema(db, QStringLiteral("admin"), QString())) {
            fprintf(stderr, "cannot make %s (it must not exist yet): %s\n", qPrintable(keep),
                    qPrintable(db.lastError()));
            return 1;
        }
        Bench b{db, makeCorpus(1200000)};
        const double rate = b.build();
        printf("built %s: %d nodes, %.0f nodes/s\n", qPrintable(info.absoluteFilePath()), b.inserted, rate);
        return 0;
    }
    const QString pg = option(QStringLiteral("--pg"), qEnvironmentVariable("ZEL_TEST_PG"));
    const QString pgUser = option(QStringLiteral("--pg-user"), QStringLiteral("postgres"));

    if (!args.contains(QStringLiteral("--skip-sqlite"))) {
        QTemporaryDir tmp(option(QStringLiteral("--sqlite-dir"), QDir::tempPath()) +
                          QStringLiteral("/zel-bench-XXXXXX"));
        const QString file = tmp.path() + QStringLiteral("/bench.skm");
        Database db;
        if (!createSqliteFile(file) ||
            !db.open(BuildConnectionString(0, tmp.path() + u'/', QStringLiteral("bench.skm"), QString(), QString())) ||
            !CreateSchema(db, QStringLiteral("admin"), QString())) {
            fprintf(stderr, "cannot make the SQLite knowledge base: %s\n", qPrintable(db.lastError()));
            return 1;
        }
        run(db, "SQLite");
    }
    if (!pg.isEmpty()) {
        const QString name = QStringLiteral("zel_bench_%1").arg(QCoreApplication::applicationPid());
        Database server;
        if (!TryConnect(server, 1, pg, QString(), pgUser, QString()) || !CreateServerDatabase(server, name)) {
            fprintf(stderr, "cannot make the PostgreSQL database: %s\n", qPrintable(server.lastError()));
            return 1;
        }
        {
            Database db;
            if (!db.open(BuildConnectionString(1, pg, name, QString(), pgUser)) ||
                !CreateSchema(db, QStringLiteral("admin"), QString())) {
                fprintf(stderr, "cannot open the PostgreSQL database: %s\n", qPrintable(db.lastError()));
                return 1;
            }
            run(db, "PostgreSQL");
        }
        server.exec(QStringLiteral("drop database if exists ") + name + QStringLiteral(" with (force)"));
    } else {
        printf("PostgreSQL: skipped (give --pg HOST:PORT or set ZEL_TEST_PG)\n");
    }
    return 0;
}
