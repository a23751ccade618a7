#include "editor/ui/DocumentBinding.h"
#include "editor/ui/TEditCommands.h"
#include "editor/ui/TZelNSHandler.h"
#include "platform/Paths.h"
#include "search/ui/TSearchPanel.h"
#include "shell/Resources.h"
#include "shell/RuntimeSettings.h"
#include "shell/SingleInstance.h"
#include "shell/Strings.h"
#include "shell/TcnResourceManager.h"
#include "shell/ui/TFrmFirstRun.h"
#include "shell/ui/TFrmMain.h"
#include "store/KnowledgeBase.h"
#include "tree/ui/TreeBinding.h"

#include <QApplication>
#include <QCommandLineParser>
#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QPainter>
#include <QSplashScreen>
#include <QTimer>
#include <cstdio>
#include <unistd.h>

namespace {

bool languageFileExists(const QString& name) {
    return QFileInfo(zel::TcnResourceManager::languageFolder() + name).isFile();
}

QString systemLanguage() {
    return zel::ResourceManager().ChooseLanguageBySystem();
}

QPixmap productPicture() {
    QPixmap pm(420, 180);
    pm.fill(QColor(0x2B, 0x4F, 0x8F));
    QPainter p(&pm);
    p.setPen(Qt::white);
    QFont f = QApplication::font();
    f.setPixelSize(40);
    f.setBold(true);
    p.setFont(f);
    p.drawText(pm.rect().adjusted(0, -20, 0, -20), Qt::AlignCenter, QStringLiteral("ZEL"));
    f.setPixelSize(16);
    f.setBold(false);
    p.setFont(f);
    p.drawText(pm.rect().adjusted(0, 60, 0, 0), Qt::AlignCenter, QStringLiteral("Lite Edition"));
    return pm;
}

} // namespace

int main(int argc, char** argv) {
    // Chromium refuses its sandbox as root; the program shows only its own content.
    if (geteuid() == 0) qputenv("QTWEBENGINE_DISABLE_SANDBOX", "1");
    QElapsedTimer started;
    started.start();
    // The engine learns the "link" scheme before the application object exists.
    zel::RegisterLinkScheme();
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("ZEL Lite Edition"));

    QCommandLineParser parser;
    parser.addHelpOption();
    const QCommandLineOption home(QStringLiteral("home"), QStringLiteral("Home folder for the program's files."),
                                  QStringLiteral("DIR"));
    const QCommandLineOption check(
        QStringLiteral("check-start"),
        QStringLiteral("Start (answering the first-run wizard with its defaults), report the window, the page and "
                       "the knowledge base, and quit."));
    const QCommandLineOption shot(QStringLiteral("screenshot"),
                                  QStringLiteral("Start as --check-start and save a picture of the main window."),
                                  QStringLiteral("FILE"));
    parser.addOption(home);
    parser.addOption(check);
    parser.addOption(shot);
    parser.process(app);
    if (parser.isSet(home)) zel::setHomeFolder(parser.value(home));
    zel::ensureHomeFolder();
    QDir().mkpath(zel::tempFolder());

    // A second start raises the running program and ends.
    zel::SingleInstance instance(zel::homeFolder());
    if (!instance.listen()) {
        std::fprintf(stderr, "zel: already running for %s; raised it\n", qPrintable(zel::homeFolder()));
        return 0;
    }

    zel::ResourceManager();
    zel::LoadSettings(&languageFileExists, &systemLanguage);
    const QString languagePath = zel::TcnResourceManager::languageFolder() + zel::RuntimeSettings().language;
    const bool languageLoaded = zel::ResourceManager().LoadLanguage(languagePath);
    zel::MainData().loadCatalogue();

    QSplashScreen splash(productPicture());
    splash.setObjectName(QStringLiteral("FrmSplash"));
    const bool checking = parser.isSet(check) || parser.isSet(shot);
    if (!checking) {
        splash.show();
        app.processEvents();
    }

    zel::TFrmMain window;
    zel::TTreePanel* tree = zel::AttachKnowledgeTree(window, false);
    zel::TDocumentPane* pane = zel::AttachDocuments(window, *tree);
    zel::AttachEditCommands(window, pane, tree);
    zel::AttachSearch(window, *tree, pane);
    QObject::connect(&instance, &zel::SingleInstance::restoreRequested, &window, &zel::TFrmMain::WMRestApp);
    splash.close();
    window.showAtStart();
    const qint64 shownAt = started.elapsed();
    qint64 sessionAt = -1;
    QObject::connect(&window, &zel::TFrmMain::sessionOpened, &app,
                     [&](zel::Database&, const QString&) { sessionAt = started.elapsed(); });

    if (!languageLoaded) window.reportLanguageProblem(languagePath);

    if (checking) {
        window.setConfirmExit(false);
        // The first-run wizard, when it comes, is answered with its defaults.
        auto* driver = new QTimer(&window);
        QObject::connect(driver, &QTimer::timeout, &window, [] {
            if (auto* wizard = qobject_cast<zel::TFrmFirstRun*>(QApplication::activeModalWidget()))
                wizard->btnNextClick();
        });
        driver->start(100);
        bool pageOk = false, pageDone = false, sessionDone = false;
        auto report = [&](int what, bool ok) {
            if (what == 0) {
                pageDone = true;
                pageOk = ok;
            } else {
                sessionDone = true;
            }
            if (!pageDone || !sessionDone) return;
            std::printf("window: %s\nwebview: %s\nknowledge base: %s\nwindow shown: %lld ms\nsession open: %lld "
                        "ms\nstarted in: %lld ms\n",
                        qPrintable(window.windowTitle()), pageOk ? "loaded" : "failed",
                        qPrintable(window.sessionOpen() ? window.catalogueName() : QStringLiteral("-")),
                        static_cast<long long>(shownAt), static_cast<long long>(sessionAt),
                        static_cast<long long>(started.elapsed()));
            std::fflush(stdout);
            const bool good = pageOk && window.isVisible() && window.sessionOpen();
            if (parser.isSet(shot)) {
                // A picture for the documentation: a common desktop size rather than the virtual screen's.
                window.showNormal();
                window.resize(1180, 740);
                // Give the page a moment to paint before taking the picture.
                QTimer::singleShot(800, &app, [&, good] {
                    window.grab().save(parser.value(shot));
                    window.close();
                    app.exit(good ? 0 : 1);
                });
                return;
            }
            window.close();
            app.exit(good ? 0 : 1);
        };
        QObject::connect(&window, &zel::TFrmMain::startPageLoaded, &app, [&report](bool ok) { report(0, ok); });
        QObject::connect(&window, &zel::TFrmMain::sessionOpened, &app,
                         [&report](zel::Database&, const QString&) { report(1, true); });
        // A start that opens no knowledge base (login dialog) is reported too.
        QTimer::singleShot(30000, &app, [&] {
            std::printf("window: %s\nknowledge base: -\n", qPrintable(window.windowTitle()));
            app.exit(3);
        });
    }
    const int rc = app.exec();
    return rc;
}
