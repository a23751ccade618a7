// Start-up of the desktop program with a remembered login: from the process start to the main window
// shown with the knowledge base open (the login timer's 200 ms included) and its start page loaded.
//
//   startup_bench --kb FILE [--runs N]
//
// FILE is a knowledge base with the administrator "admin" and an empty password, such as the one
// `store_bench --build-only FILE` makes (about 100,000 nodes). Each run starts `zel --check-start` in
// a fresh home folder whose catalogue lists FILE and whose settings remember the login; the first run
// also warms the file cache and is reported apart.
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <algorithm>
#include <cstdio>

#include "platform/Paths.h"
#include "shell/RuntimeSettings.h"
#include "store/Catalogue.h"
#include "store/KnowledgeBase.h"
#include "store/Nodes.h"

using namespace zel;

namespace {

struct Run {
    double wall = 0;  // process start to exit, ms
    double shown = 0; // as the program reports them, ms since its start
    double session = 0;
    double ready = 0;
};

bool runOnce(const QString& home, Run* out) {
    QProcess p;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    if (!env.contains(QStringLiteral("QT_QPA_PLATFORM")))
        env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    p.setProcessEnvironment(env);
    QElapsedTimer t;
    t.start();
    p.start(QStringLiteral(ZEL_PATH), {QStringLiteral("--home"), home, QStringLiteral("--check-start")});
    if (!p.waitForFinished(120000) || p.exitCode() != 0) {
        fprintf(stderr, "zel failed: %s\n", p.readAllStandardOutput().constData());
        return false;
    }
    out->wall = double(t.nsecsElapsed()) / 1e6;
    const QString text = QString::fromUtf8(p.readAllStandardOutput());
    auto number = [&](const char* label) {
        const QRegularExpression re(QString::fromLatin1(label) + QStringLiteral(": (\\d+) ms"));
        const auto m = re.match(text);
        return m.hasMatch() ? m.captured(1).toDouble() : -1.0;
    };
    out->shown = number("window shown");
    out->session = number("session open");
    out->ready = number("started in");
    return text.contains(QStringLiteral("knowledge base: Bench"));
}

double median(QList<double> v) {
    std::sort(v.begin(), v.end());
    return v.isEmpty() ? 0 : v[v.size() / 2];
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments();
    auto option = [&](const QString& name, const QString& fallback) {
        const qsizetype i = args.indexOf(name);
        return i >= 0 && i + 1 < args.size() ? args[i + 1] : fallback;
    };
    const QFileInfo kb(option(QStringLiteral("--kb"), QString()));
    const int runs = qMax(1, option(QStringLiteral("--runs"), QStringLiteral("5")).toInt());
    if (!kb.isFile()) {
        fprintf(stderr, "usage: startup_bench --kb FILE [--runs N]   (make FILE with store_bench --build-only FILE)\n");
        return 2;
    }
    QTemporaryDir home;
    setHomeFolder(home.path());
    Catalogue catalogue;
    catalogue.LoadCatalogue(catalogueFilePath());
    catalogue.entries() << CatalogueEntry::make(0, QStringLiteral("Bench"), kb.absolutePath() + u'/', kb.fileName(),
                                                QString(), QString());
    TRuntimeReg& reg = RuntimeSettings();
    reg.catalogueName = QStringLiteral("Bench");
    reg.userCode = QStringLiteral("admin");
    reg.rememberLogin = true;
    reg.showProperty = true;
    reg.windowState = 1;
    reg.width = 1200;
    reg.height = 800;
    if (!catalogue.SaveCatalogue() || !SaveSettings()) {
        fprintf(stderr, "cannot write the home folder\n");
        return 1;
    }
    int nodes = -1;
    {
        Database db;
        if (db.open(BuildConnectionString(catalogue.entries()[0]))) nodes = CountLiveNodes(db);
    }
    printf("knowledge base: %s, %d live nodes, %.1f MB\n", qPrintable(kb.absoluteFilePath()), nodes,
           double(kb.size()) / 1e6);
    Run first;
    if (!runOnce(home.path(), &first)) return 1;
    printf(
        "  first run (cold cache): window shown %.0f ms, session open %.0f ms, start page %.0f ms, process %.0f ms\n",
        first.shown, first.session, first.ready, first.wall);
    QList<double> shown, session, ready, wall;
    for (int i = 0; i < runs; ++i) {
        Run r;
        if (!runOnce(home.path(), &r)) return 1;
        shown << r.shown;
        session << r.session;
        ready << r.ready;
        wall << r.wall;
    }
    printf("  median of %d runs:\n", runs);
    printf("    main window shown                          %8.0f ms\n", median(shown));
    printf("    knowledge base open (login timer included) %8.0f ms\n", median(session));
    printf("    start page loaded, all of the above        %8.0f ms\n", median(ready));
    printf("    whole process including shutdown          %8.0f ms\n", median(wall));
    return 0;
}
