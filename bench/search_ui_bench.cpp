// The search panel in the main window (offscreen, real WebEngine) on a knowledge base left by
// `search_bench --keep`: from Enter in the search box to the first result page shown in the result view,
// and the longest stall of the window's thread while searches run.
//
//   QT_QPA_PLATFORM=offscreen build/bench/search_ui_bench --dir /tmp/zel-search-bench [--pg HOST:PORT]
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QElapsedTimer>
#include <QLineEdit>
#include <QTabWidget>
#include <QTimer>
#include <QTreeWidget>
#include <QWebEnginePage>
#include <QWebEngineView>
#include <algorithm>
#include <cstdio>
#include <unistd.h>

#include "editor/ui/DocumentBinding.h"
#include "editor/ui/TZelNSHandler.h"
#include "platform/Database.h"
#include "platform/Paths.h"
#include "search/TSearchSession.h"
#include "search/ui/TSearchPanel.h"
#include "shell/ui/TFrmMain.h"
#include "store/Catalogue.h"
#include "store/Schema.h"
#include "store/Users.h"
#include "tree/ui/TreeBinding.h"

using namespace zel;

namespace {

void out(const QString& s) {
    std::printf("%s\n", s.toLocal8Bit().constData());
    std::fflush(stdout);
}

bool waitFor(const std::function<bool()>& done, int ms) {
    QElapsedTimer t;
    t.start();
    while (!done() && t.elapsed() < ms)
        QApplication::processEvents(QEventLoop::AllEvents, 5);
    return done();
}

} // namespace

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    if (geteuid() == 0) qputenv("QTWEBENGINE_DISABLE_SANDBOX", "1");
    RegisterLinkScheme();
    QCoreApplication::setAttribute(Qt::AA_ShareOpenGLContexts);
    QApplication app(argc, argv);
    const QStringList args = app.arguments();
    auto option = [&](const char* name, const QString& fallback) {
        const qsizetype i = args.indexOf(QString::fromLatin1(name));
        return i >= 0 && i + 1 < args.size() ? args[i + 1] : fallback;
    };
    const QString dir = QDir(option("--dir", QStringLiteral("/tmp/zel-search-bench"))).absolutePath();
    const QString pg = option("--pg", QString());
    const int rounds = option("--rounds", QStringLiteral("5")).toInt();
    setHomeFolder(dir + QStringLiteral("/home-ui"));
    ensureHomeFolder();
    const CatalogueEntry entry = pg.isEmpty()
                                     ? CatalogueEntry::make(0, QStringLiteral("bench"), dir + QStringLiteral("/data/"),
                                                            QStringLiteral("bench.skm"), QString(), QString())
                                     : CatalogueEntry::make(1, QStringLiteral("bench"), pg, QStringLiteral("zel_bench"),
                                                            QStringLiteral("postgres"), QString());
    Database db;
    if (!db.open(BuildConnectionString(entry))) {
        out(QStringLiteral("cannot open the knowledge base of search_bench --keep: ") + db.lastError());
        return 1;
    }
    LoadSystemFolders(db);
    LoadUserSettings(db, QStringLiteral("admin"));

    TFrmMain frame;
    frame.setConfirmExit(false);
    TTreePanel* tree = AttachKnowledgeTree(frame, false);
    TDocumentPane* pane = AttachDocuments(frame, *tree);
    TSearchPanel* panel = AttachSearch(frame, *tree, pane);
    emit frame.sessionOpened(db, QStringLiteral("bench"));
    frame.indexTabs()->setEnabled(true);
    frame.documentTabs()->setEnabled(true);

    // The window's thread: the longest gap between two ticks of a 5 ms timer.
    QElapsedTimer tick;
    qint64 longest = 0;
    QTimer beat;
    beat.setInterval(5);
    QObject::connect(&beat, &QTimer::timeout, [&] {
        if (tick.isValid())
            longest = std::max(longest, tick.restart());
        else
            tick.start();
    });

    // Wait for the background build so the figure is the one of a ready index.
    bool ready = false;
    QObject::connect(panel->session()->indexBuilder(), &TSearchIndexBuilder::indexReady, [&] { ready = true; });
    QElapsedTimer buildTime;
    buildTime.start();
    waitFor([&] { return ready; }, 30 * 60 * 1000);
    out(QStringLiteral("index ready after %1 ms of the session").arg(buildTime.elapsed()));

    QWebEnginePage* page = panel->SearchEdit->page();
    struct Case {
        const char* name;
        QString text;
        bool content;
    };
    const Case cases[] = {
        {"rare word, content", QStringLiteral("quixotry"), true},
        {"word in every document, content", QStringLiteral("the"), true},
    };
    // Answers of the view may come after their round: they write to variables that outlive the rounds.
    bool shown = false, empty = false;
    int asked = 0, answered = 0;
    for (const Case& c : cases) {
        QList<qint64> firstPage, total, stalls;
        for (int r = 0; r < rounds; ++r) {
            panel->chkContent->setChecked(c.content);
            panel->edtSearch->setEditText(c.text);
            shown = false;
            // The result view is asked for its text while the search runs; the first answer with a
            // numbered entry is the first page on show.
            asked = answered = 0;
            auto ask = [&] {
                if (shown || asked > answered) return;
                ++asked;
                page->toPlainText([&](const QString& text) {
                    ++answered;
                    if (text.contains(QStringLiteral("1: "))) shown = true;
                });
            };
            // Start from an empty view, so an answer cannot come from the page of the round before.
            page->setHtml(QString());
            empty = false;
            waitFor(
                [&] {
                    page->toPlainText([&](const QString& text) { empty = text.trimmed().isEmpty(); });
                    return empty && !page->isLoading();
                },
                10000);
            longest = 0;
            tick.invalidate();
            beat.start();
            QElapsedTimer t;
            t.start();
            emit panel->edtSearch->lineEdit()->returnPressed();
            if (!waitFor(
                    [&] {
                        ask();
                        return shown || (!panel->searching() && panel->pages().count() == 0);
                    },
                    120000))
                out(QStringLiteral("no first page after 2 minutes: searching %1, pages %2, results %3")
                        .arg(panel->searching())
                        .arg(panel->pages().count())
                        .arg(panel->TvSearch->topLevelItemCount()));
            if (!shown) {
                bool got = false;
                page->toPlainText([&](const QString& text) {
                    out(QStringLiteral("the result view shows: ") + text.left(120).simplified());
                    got = true;
                });
                waitFor([&] { return got; }, 10000);
            }
            firstPage << (shown ? t.elapsed() : -1);
            waitFor([&] { return !panel->searching(); }, 600000);
            total << t.elapsed();
            beat.stop();
            stalls << longest;
        }
        std::sort(firstPage.begin(), firstPage.end());
        std::sort(total.begin(), total.end());
        std::sort(stalls.begin(), stalls.end());
        out(QStringLiteral("%1: first page shown median %2 ms (best %3), search ended median %4 ms, "
                           "longest stall of the window's thread %5 ms (median of rounds %6 ms), %7 results")
                .arg(QString::fromLatin1(c.name))
                .arg(firstPage[firstPage.size() / 2])
                .arg(firstPage.first())
                .arg(total[total.size() / 2])
                .arg(stalls.last())
                .arg(stalls[stalls.size() / 2])
                .arg(panel->TvSearch->topLevelItemCount()));
    }
    emit frame.sessionClosing();
    return 0;
}
