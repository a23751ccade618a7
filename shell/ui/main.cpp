#include "platform/Paths.h"
#include "shell/RuntimeSettings.h"
#include "shell/ui/TFrmMain.h"
#include "store/KnowledgeBase.h"

#include <QApplication>
#include <QCommandLineParser>
#include <QDir>
#include <QTimer>
#include <QWebEngineView>
#include <cstdio>
#include <unistd.h>

int main(int argc, char** argv) {
    // Chromium refuses its sandbox as root; the program shows only its own content.
    if (geteuid() == 0) qputenv("QTWEBENGINE_DISABLE_SANDBOX", "1");
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("ZEL Lite Edition"));

    QCommandLineParser parser;
    parser.addHelpOption();
    const QCommandLineOption home(QStringLiteral("home"), QStringLiteral("Home folder for the program's files."),
                                  QStringLiteral("DIR"));
    const QCommandLineOption check(QStringLiteral("check-start"),
                                   QStringLiteral("Start, report the window and the page, and quit."));
    const QCommandLineOption shot(QStringLiteral("screenshot"),
                                  QStringLiteral("With --check-start: save a picture of the window."),
                                  QStringLiteral("FILE"));
    parser.addOption(home);
    parser.addOption(check);
    parser.addOption(shot);
    parser.process(app);
    if (parser.isSet(home)) zel::setHomeFolder(parser.value(home));
    zel::ensureHomeFolder();
    QDir().mkpath(zel::tempFolder());

    zel::LoadSettings();
    zel::MainData().loadCatalogue();

    zel::TFrmMain window;
    const QString opened = window.openStartKnowledgeBase();
    if (parser.isSet(check)) {
        QObject::connect(&window, &zel::TFrmMain::pageLoaded, &app, [&](bool ok) {
            std::printf("window: %s\nwebview: %s\nknowledge base: %s\n", qPrintable(window.windowTitle()),
                        ok ? "loaded" : "failed", qPrintable(opened.isEmpty() ? QStringLiteral("-") : opened));
            std::fflush(stdout);
            if (parser.isSet(shot)) {
                // Give the page a moment to paint before taking the picture.
                QTimer::singleShot(500, &app, [&, ok] {
                    window.grab().save(parser.value(shot));
                    app.exit(ok && window.isVisible() ? 0 : 1);
                });
                return;
            }
            app.exit(ok && window.isVisible() ? 0 : 1);
        });
        QTimer::singleShot(60000, &app, [&] { app.exit(3); });
    }
    window.view()->setHtml(QStringLiteral("<html><body><h1>ZEL Lite Edition</h1></body></html>"));
    window.show();
    const int rc = app.exec();
    zel::MainData().acGlint.close();
    QDir(zel::tempFolder()).removeRecursively();
    return rc;
}
