// The knowledge tree on a knowledge base of about 100,000 nodes: how long expanding a folder of
// 10,000 documents takes until they show, and how long selecting a node takes until its document
// shows in a web view. Runs the real widgets (use QT_QPA_PLATFORM=offscreen without a display).
//
//   tree_bench [--sqlite-dir DIR] [--pg HOST:PORT] [--pg-user USER] [--skip-sqlite] [--quick]
//              [--keep FILE.skm] [--kb FILE.skm]
//
// --keep builds the SQLite knowledge base into FILE and keeps it; --kb measures an existing one made
// so (its folder "Big" is found by name) without building.
//
// Tree: ten top folders with folders down to level six holding documents, a folder "Big" with
// 10,000 documents and a folder "Heavy" with ten folders of 1,000 documents. Documents are 2-10 KB
// of HTML. --quick builds only Big and Heavy.
#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFileInfo>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QTimer>
#include <QWebEngineView>
#include <algorithm>
#include <cstdio>
#include <unistd.h>

#include "platform/Database.h"
#include "platform/SqliteFile.h"
#include "store/Catalogue.h"
#include "store/Content.h"
#include "store/KnowledgeBase.h"
#include "store/Nodes.h"
#include "store/Schema.h"
#include "store/Users.h"
#include "tree/ui/TTreePanel.h"
#include "tree/ui/TvMain.h"

using namespace zel;

namespace {

QRandomGenerator rng(20261211);

QString makeCorpus(qsizetype chars) {
    static const char* syllables[] = {"ka", "lo", "mi", "ne", "ru", "sa", "ti", "vo", "ze", "qu", "an", "el"};
    QString s;
    s.reserve(chars + 200);
    while (s.size() < chars) {
        s += QStringLiteral("<p>");
        const int words = 20 + int(rng.bounded(60));
        for (int w = 0; w < words; ++w) {
            const int n = 1 + int(rng.bounded(4));
            for (int i = 0; i < n; ++i)
                s += QString::fromLatin1(syllables[rng.bounded(int(std::size(syllables)))]);
            s += u' ';
        }
        s += QStringLiteral("</p>\n");
    }
    return s;
}

struct Builder {
    explicit Builder(Database& d) : db(d) {}
    Database& db;
    QString corpus = makeCorpus(400000);
    int inserted = 0;
    QString big;
    std::unique_ptr<Transaction> tx;

    QString addNode(const QString& parent, const QString& caption, bool folder, int sort) {
        Tinfoproperty rec;
        rec.caption = caption;
        rec.sortNumber = sort;
        if (!folder) {
            const int size = 2000 + int(rng.bounded(8000));
            rec.content = QStringLiteral("<html><body>\n") +
                          corpus.mid(rng.bounded(int(corpus.size() - size - 1)), size) +
                          QStringLiteral("\n</body></html>\n");
        }
        const QString id = InsertNode(db, rec, parent);
        if (id.isEmpty()) {
            fprintf(stderr, "insert failed: %s\n", qPrintable(db.lastError()));
            exit(1);
        }
        if (++inserted % 2000 == 0) {
            tx->commit();
            tx = std::make_unique<Transaction>(db);
        }
        return id;
    }

    void fill(const QString& parent, int level) {
        static const int fanOut[] = {0, 10, 4, 4, 3, 2};
        if (level == 6) {
            for (int i = 0; i < 82; ++i)
                addNode(parent, QStringLiteral("doc %1").arg(i), false, i + 1);
            return;
        }
        for (int i = 0; i < fanOut[level]; ++i) {
            const QString id = addNode(parent, QStringLiteral("Folder %1.%2").arg(level).arg(i), true, i + 1);
            fill(id, level + 1);
            RefreshHasChild(db, id);
        }
    }

    void build(bool quick) {
        CurrentUser().name = QStringLiteral("bench");
        tx = std::make_unique<Transaction>(db);
        if (!quick) fill(QStringLiteral("0"), 1);
        big = addNode(QStringLiteral("0"), QStringLiteral("Big"), true, 100);
        for (int i = 0; i < 10000; ++i)
            addNode(big, QStringLiteral("item %1").arg(i, 5, 10, QLatin1Char('0')), false, i + 1);
        RefreshHasChild(db, big);
        const QString heavy = addNode(QStringLiteral("0"), QStringLiteral("Heavy"), true, 101);
        for (int f = 0; f < 10; ++f) {
            const QString folder = addNode(heavy, QStringLiteral("part %1").arg(f), true, f + 1);
            for (int i = 0; i < 1000; ++i)
                addNode(folder, QStringLiteral("note %1").arg(i), false, i + 1);
            RefreshHasChild(db, folder);
        }
        RefreshHasChild(db, heavy);
        tx->commit();
        tx.reset();
    }
};

double ms(const QElapsedTimer& t) {
    return double(t.nsecsElapsed()) / 1e6;
}

double median(QList<double> v) {
    std::sort(v.begin(), v.end());
    return v.isEmpty() ? 0 : v[v.size() / 2];
}

void line(const QString& what, double value, const char* unit) {
    printf("  %-60s %10.1f %s\n", qPrintable(what), value, unit);
}

// Lets the window paint what changed.
void settle(QWidget* w) {
    QApplication::processEvents();
    w->repaint();
    QApplication::processEvents();
}

void run(Database& db, const char* name, bool quick, bool build = true) {
    printf("%s\n", name);
    Builder b(db);
    QElapsedTimer t;
    t.start();
    if (build) {
        b.build(quick);
        printf("  knowledge base: %d nodes built in %.0f s\n", CountLiveNodes(db), ms(t) / 1000);
    } else {
        b.big = FindNodeByName(db, QStringLiteral("/Big"));
        printf("  knowledge base: %d nodes\n", CountLiveNodes(db));
    }
    LoadSystemFolders(db);

    TTreePanel panel;
    QWebEngineView view;
    panel.resize(400, 800);
    view.resize(800, 800);
    panel.show();
    view.show();
    // The document pane's read-only view: the node's stored HTML.
    bool loaded = false;
    QObject::connect(&view, &QWebEngineView::loadFinished, [&](bool) { loaded = true; });
    QElapsedTimer readTimer;
    QList<double> readTimes;
    QObject::connect(&panel, &TTreePanel::nodeOpened, [&](const QString& id, const QString&) {
        if (id.toLongLong() <= 0) return;
        const QByteArray html = ReadDocumentContent(db, id);
        readTimes << ms(readTimer);
        view.setHtml(QString::fromUtf8(html));
    });
    auto waitLoaded = [&] {
        QElapsedTimer guard;
        guard.start();
        while (!loaded && guard.elapsed() < 30000)
            QApplication::processEvents(QEventLoop::AllEvents, 5);
    };

    t.restart();
    panel.openSession(&db, QStringLiteral("Bench"));
    settle(&panel);
    line(QStringLiteral("open the session (root, top level, first document)"), ms(t), "ms");
    waitLoaded(); // the web engine's first start is not part of the figures

    TvMain* tv = panel.tree();
    QTreeWidgetItem* big = tv->findItem(b.big);
    QList<double> expand;
    int shown = 0;
    for (int i = 0; i < 5; ++i) {
        big->setExpanded(false);
        settle(&panel);
        t.restart();
        big->setExpanded(true);
        settle(&panel);
        expand << ms(t);
        shown = big->childCount();
    }
    line(QStringLiteral("expand a folder of %1 documents until shown, median of 5").arg(shown), median(expand), "ms");
    QList<double> listing;
    for (int i = 0; i < 5; ++i) {
        t.restart();
        ListChildren(db, b.big);
        listing << ms(t);
    }
    line(QStringLiteral("  of which the store's listing, median of 5"), median(listing), "ms");
    QList<double> sorting;
    for (int i = 0; i < 5; ++i) {
        t.restart();
        tv->sortChildrenOf(big);
        sorting << ms(t);
    }
    line(QStringLiteral("  of which sorting the items, median of 5"), median(sorting), "ms");
    line(QStringLiteral("  slowest of the 5"), *std::max_element(expand.begin(), expand.end()), "ms");

    QList<double> select;
    readTimes.clear();
    for (int i = 0; i < 20; ++i) {
        QTreeWidgetItem* item = big->child(int(rng.bounded(big->childCount())));
        loaded = false;
        readTimer.start();
        t.restart();
        tv->setCurrentItem(item);
        panel.openItem(item);
        waitLoaded();
        select << ms(t);
    }
    line(QStringLiteral("select a document until its page has loaded, median of 20"), median(select), "ms");
    line(QStringLiteral("  slowest of the 20"), *std::max_element(select.begin(), select.end()), "ms");
    line(QStringLiteral("  of which selection and store read, median"), median(readTimes), "ms");
    fflush(stdout);
}

} // namespace

int main(int argc, char** argv) {
    if (geteuid() == 0) qputenv("QTWEBENGINE_DISABLE_SANDBOX", "1");
    QApplication app(argc, argv);
    const QStringList args = app.arguments();
    auto option = [&](const QString& name, const QString& fallback) {
        const qsizetype i = args.indexOf(name);
        return i >= 0 && i + 1 < args.size() ? args[i + 1] : fallback;
    };
    const bool quick = args.contains(QStringLiteral("--quick"));
    const QString pg = option(QStringLiteral("--pg"), QString());
    const QString pgUser = option(QStringLiteral("--pg-user"), QStringLiteral("postgres"));

    const QString existing = option(QStringLiteral("--kb"), QString());
    const QString keep = option(QStringLiteral("--keep"), QString());
    if (!existing.isEmpty()) {
        const QFileInfo fi(existing);
        Database db;
        if (!db.open(BuildConnectionString(0, fi.absolutePath() + u'/', fi.fileName(), QString(), QString())) ||
            !UpgradeSchema(db)) {
            fprintf(stderr, "cannot open %s: %s\n", qPrintable(existing), qPrintable(db.lastError()));
            return 1;
        }
        run(db, "SQLite", quick, false);
    } else if (!args.contains(QStringLiteral("--skip-sqlite"))) {
        QTemporaryDir tmp(option(QStringLiteral("--sqlite-dir"), QDir::tempPath()) +
                          QStringLiteral("/zel-tree-bench-XXXXXX"));
        const QFileInfo fi(keep.isEmpty() ? tmp.path() + QStringLiteral("/bench.skm") : keep);
        Database db;
        if (!createSqliteFile(fi.absoluteFilePath()) ||
            !db.open(BuildConnectionString(0, fi.absolutePath() + u'/', fi.fileName(), QString(), QString())) ||
            !CreateSchema(db, QStringLiteral("admin"), QString()) || !UpgradeSchema(db)) {
            fprintf(stderr, "cannot make the SQLite knowledge base: %s\n", qPrintable(db.lastError()));
            return 1;
        }
        run(db, "SQLite", quick);
    }
    if (!pg.isEmpty()) {
        const QString name = QStringLiteral("zel_tree_bench_%1").arg(QCoreApplication::applicationPid());
        Database server;
        if (!TryConnect(server, 1, pg, QString(), pgUser, QString()) || !CreateServerDatabase(server, name)) {
            fprintf(stderr, "cannot make the PostgreSQL database: %s\n", qPrintable(server.lastError()));
            return 1;
        }
        {
            Database db;
            if (!db.open(BuildConnectionString(1, pg, name, QString(), pgUser)) ||
                !CreateSchema(db, QStringLiteral("admin"), QString()) || !UpgradeSchema(db)) {
                fprintf(stderr, "cannot open the PostgreSQL database: %s\n", qPrintable(db.lastError()));
                return 1;
            }
            run(db, "PostgreSQL", quick);
        }
        server.exec(QStringLiteral("drop database if exists ") + name + QStringLiteral(" with (force)"));
    } else {
        printf("PostgreSQL: skipped (give --pg HOST:PORT)\n");
    }
    return 0;
}
