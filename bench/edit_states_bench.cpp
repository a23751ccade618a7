// Command states in a 1 MB document with the real WebEngine offscreen: the time from a caret move in
// the editor until the main window's buttons show the states at the new caret.
// Usage: edit_states_bench [--moves N]
#include <QApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QWebEnginePage>
#include <QWebEngineScript>
#include <QWebEngineView>
#include <algorithm>
#include <cstdio>
#include <unistd.h>

#include "editor/LinkUrl.h"
#include "editor/ui/TDocumentPane.h"
#include "editor/ui/TEditCommands.h"
#include "editor/ui/TZelNSHandler.h"
#include "platform/Database.h"
#include "shell/ui/TFrmMain.h"
#include "store/Catalogue.h"
#include "store/Content.h"
#include "store/Nodes.h"
#include "store/Schema.h"

using namespace zel;

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    if (geteuid() == 0) qputenv("QTWEBENGINE_DISABLE_SANDBOX", "1");
    RegisterLinkScheme();
    QCoreApplication::setAttribute(Qt::AA_ShareOpenGLContexts);
    QApplication app(argc, argv);
    int moves = 200;
    for (int i = 1; i + 1 < argc; ++i)
        if (QByteArray(argv[i]) == "--moves") moves = std::max(1, atoi(argv[i + 1]));

    QTemporaryDir tmp;
    Database db;
    QFile(tmp.path() + QStringLiteral("/bench.skm")).open(QIODevice::WriteOnly); // an empty file is a new base
    if (!db.open(BuildConnectionString(0, tmp.path() + u'/', QStringLiteral("bench.skm"), QString(), QString())) ||
        !CreateSchema(db, QStringLiteral("admin"), QString()) || !UpgradeSchema(db)) {
        std::fprintf(stderr, "cannot create the knowledge base: %s\n", qPrintable(db.lastError()));
        return 1;
    }
    Tinfoproperty rec;
    rec.caption = QStringLiteral("Big");
    const QString big = InsertNode(db, rec, QStringLiteral("0"));
    QString html = QStringLiteral("<html><body>");
    for (int i = 0; html.size() < 1000000; ++i)
        html += QStringLiteral("<p>Paragraph %1 with <b>bold</b>, <i>italic</i>, <font size=\"5\">large</font> and "
                               "<a href=\"#s\">a link</a>; the quick brown fox jumps over the lazy dog.</p>")
                    .arg(i);
    html += QStringLiteral("</body></html>");
    WriteDocumentText(db, big, html);

    TFrmMain frame;
    auto* pane =
        new TDocumentPane(frame.documentTabs(), frame.viewBrowser(), frame.editPage(), frame.sourcePage(), &frame);
    pane->setDatabase(&db);
    TEditCommands* commands = AttachEditCommands(frame, pane, nullptr);
    emit frame.sessionOpened(db, QStringLiteral("bench"));
    // The document tabs on their own, shown: a shown page runs as in the program.
    QTabWidget* tabs = frame.documentTabs();
    tabs->setParent(nullptr);
    tabs->resize(1280, 900);
    tabs->show();
    int loads = 0, reports = 0;
    QObject::connect(pane, &TDocumentPane::documentLoaded, [&](bool) { ++loads; });
    QObject::connect(commands, &TEditCommands::statesApplied, [&] { ++reports; });
    pane->openNode(big, DocumentUrlForNode(db, big), true);
    QElapsedTimer wait;
    wait.start();
    while (loads == 0 && wait.elapsed() < 120000)
        QApplication::processEvents(QEventLoop::AllEvents, 5);
    const int paragraphs = pane->run(pane->editor()->page(), QStringLiteral("document.body.children.length")).toInt();

    std::vector<double> times, scriptTimes;
    for (int m = 0; m < moves; ++m) {
        const int p = (m * 7919) % paragraphs;
        // Reports of the previous move are all in before the next one starts.
        QElapsedTimer drain;
        drain.start();
        while (drain.elapsed() < 20)
            QApplication::processEvents(QEventLoop::AllEvents, 2);
        const int before = reports;
        QElapsedTimer t;
        t.start();
        // The caret moves into paragraph p (alternately into its bold and its large text).
        pane->editor()->page()->runJavaScript(
            QStringLiteral("(function(){var e=document.body.children[%1].children[%2].firstChild;"
                           "getSelection().collapse(e,2);})()")
                .arg(p)
                .arg(m % 2 ? 0 : 2),
            QWebEngineScript::ApplicationWorld);
        while (reports == before && t.elapsed() < 10000)
            QApplication::processEvents(QEventLoop::AllEvents, 1);
        times.push_back(t.nsecsElapsed() / 1e6);
    }
    const double scriptMs = pane->run(pane->editor()->page(), QStringLiteral("(function(){var t=performance.now();"
                                                                             "for(var i=0;i<50;++i)zel.states();"
                                                                             "return (performance.now()-t)/50;})()"))
                                .toDouble();
    std::sort(times.begin(), times.end());
    std::printf("document: %.2f MB of HTML, %d paragraphs\n", html.toUtf8().size() / 1048576.0, paragraphs);
    std::printf("caret move to updated command states: min %.1f ms, median %.1f ms, 95th %.1f ms, max %.1f ms "
                "(%d moves)\n",
                times.front(), times[times.size() / 2], times[times.size() * 95 / 100], times.back(), moves);
    std::printf("state query in the page alone: %.2f ms\n", scriptMs);
    delete tabs;
    return 0;
}
