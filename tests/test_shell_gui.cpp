// The application shell with its real widgets under the offscreen platform, on real knowledge bases:
// first start, remembered login, login failures, language change, the second instance, the dialogs.
#include <gtest/gtest.h>

#include "platform/Paths.h"
#include "shell/Resources.h"
#include "shell/RuntimeSettings.h"
#include "shell/SingleInstance.h"
#include "shell/Strings.h"
#include "shell/TcnResourceManager.h"
#include "shell/ui/Commands.h"
#include "shell/ui/TBookmarkPage.h"
#include "shell/ui/TFrmBaseProperty.h"
#include "shell/ui/TFrmDataLink.h"
#include "shell/ui/TFrmFirstRun.h"
#include "shell/ui/TFrmLogin.h"
#include "shell/ui/TFrmMain.h"
#include "shell/ui/TFrmSetDataBase.h"
#include "shell/ui/TFrmUser.h"
#include "shell/ui/TFrmWelcome.h"
#include "shell/ui/TfrmPassword.h"
#include "shell/ui/TfrmUserSet.h"
#include "store/KnowledgeBase.h"
#include "store/Nodes.h"
#include "store/PasswordHash.h"
#include "store/Schema.h"
#include "store/Users.h"
#include "support/TestKb.h"

#include <QAbstractButton>
#include <QActionGroup>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDateTime>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMessageBox>
#include <QProcess>
#include <QSpinBox>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QThread>
#include <QTimer>
#include <QToolBar>
#include <QTreeWidget>
#include <functional>
#include <unistd.h>

using namespace zel;

namespace {

bool waitUntil(const std::function<bool()>& done, int ms = 20000) {
    QElapsedTimer t;
    t.start();
    while (!done()) {
        if (t.elapsed() > ms) return false;
        QApplication::processEvents(QEventLoop::AllEvents, 20);
        QThread::msleep(5);
    }
    return true;
}

// Answers whatever modal window comes up: message boxes are recorded and answered (Yes or No), other
// dialogs go to onDialog.
class ModalDriver {
public:
    ModalDriver() {
        QObject::connect(&timer_, &QTimer::timeout, [this] { poll(); });
        timer_.start(15);
    }
    QStringList messages;
    bool answerYes = true;
    std::function<void(QWidget*)> onDialog;

private:
    void poll() {
        QWidget* w = QApplication::activeModalWidget();
        if (auto* box = qobject_cast<QMessageBox*>(w)) {
            if (box->property("zelAnswered").toBool()) return;
            box->setProperty("zelAnswered", true);
            messages << box->text();
            for (QAbstractButton* b : box->buttons()) {
                const auto role = box->buttonRole(b);
                const bool yes = role == QMessageBox::YesRole || role == QMessageBox::AcceptRole;
                if (yes == answerYes || box->buttons().size() == 1) {
                    b->click();
                    return;
                }
            }
            return;
        }
        // The handler may open a message box of its own: it runs outside this timer's slot, which
        // cannot fire again while it is still running.
        if (w && onDialog && !busy_) {
            busy_ = true;
            QTimer::singleShot(0, w, [this, w] {
                if (onDialog && QApplication::activeModalWidget() == w) onDialog(w);
                busy_ = false;
            });
        }
    }
    QTimer timer_;
    bool busy_ = false;
};

template <typename T> T* child(QWidget* parent, const char* name) {
    T* w = parent->findChild<T*>(QString::fromLatin1(name));
    EXPECT_NE(w, nullptr) << name;
    return w;
}

void setText(QWidget* parent, const char* name, const QString& text) {
    if (auto* e = child<QLineEdit>(parent, name)) e->setText(text);
}

// Every control a screen reader meets has a name.
void expectAccessible(QWidget* root) {
    for (QWidget* w : root->findChildren<QWidget*>()) {
        if (!w->isVisibleTo(root)) continue;
        const bool control = qobject_cast<QAbstractButton*>(w) || qobject_cast<QLineEdit*>(w) ||
                             qobject_cast<QComboBox*>(w) || qobject_cast<QTabWidget*>(w) ||
                             qobject_cast<QTreeWidget*>(w);
        if (!control || w->inherits("QToolButton") || w->parent()->inherits("QComboBox") ||
            w->objectName() == QStringLiteral("qt_spinbox_lineedit"))
            continue;
        EXPECT_FALSE(w->accessibleName().isEmpty())
            << root->objectName().toStdString() << ": " << w->metaObject()->className() << " "
            << w->objectName().toStdString();
    }
}

class ShellGuiTest : public ::testing::Test {
protected:
    void SetUp() override {
        setHomeFolder(home_.path());
        RuntimeSettings() = TRuntimeReg{};
        CurrentUser() = TuserReg{};
        SetLanguageStrings({});
        MainData().acGlint.close();
        MainData().catalogue = Catalogue{};
        MainData().loadCatalogue();
    }
    void TearDown() override {
        MainData().acGlint.close();
        SetLanguageStrings({});
        qApp->setStyleSheet(QString());
        setHomeFolder(QString());
    }
    QString homePath(const QString& rel) const { return home_.path() + u'/' + rel; }
    // The default knowledge base with the administrator's password, listed in the catalogue.
    void makeDefaultKnowledgeBase(const QString& password) {
        ASSERT_TRUE(CreateDefaultKnowledgeBase(MainData().catalogue, QStringLiteral("admin"), password));
    }
    QTemporaryDir home_;
};

TEST_F(ShellGuiTest, FirstStartRunsTheWizardAndOpensTheDefaultKnowledgeBase) {
    LoadSettings();
    ASSERT_TRUE(MainData().catalogue.entries().isEmpty());
    ModalDriver driver;
    QStringList dialogs;
    driver.onDialog = [&](QWidget* d) {
        if (auto* wizard = qobject_cast<TFrmFirstRun*>(d)) {
            dialogs << QString::number(wizard->step());
            wizard->btnNextClick(); // welcome, intro, administrator ("admin", empty), mail (empty), finish
        } else {
            dialogs << QString::fromLatin1(d->metaObject()->className());
            d->close();
        }
    };
    {
        TFrmMain w;
        w.setConfirmExit(false);
        w.showAtStart();
        ASSERT_TRUE(waitUntil([&] { return w.sessionOpen(); })) << dialogs.join(u',').toStdString();
        EXPECT_EQ(dialogs, (QStringList{QStringLiteral("0"), QStringLiteral("1"), QStringLiteral("2"),
                                        QStringLiteral("3"), QStringLiteral("4")}));
        EXPECT_TRUE(driver.messages.isEmpty()) << driver.messages.join(u'|').toStdString();
        EXPECT_TRUE(QFile::exists(homePath(QStringLiteral("data/DefaultKM.skm"))));
        ASSERT_EQ(MainData().catalogue.entries().size(), 1);
        EXPECT_EQ(MainData().catalogue.entries()[0].nameText(), GetString(40406));
        EXPECT_EQ(w.catalogueName(), GetString(40406));
        EXPECT_EQ(CurrentUser().code, QStringLiteral("admin"));
        EXPECT_EQ(CurrentUser().sortOrder, 6);
        EXPECT_TRUE(RuntimeSettings().rememberLogin);
        EXPECT_TRUE(w.windowState() & Qt::WindowMaximized); // no saved size yet
        EXPECT_FALSE(w.propertyPanelShown());               // reading stopped at the missing "1003"
        EXPECT_EQ(w.treeCaption()->text(), u' ' + GetString(40406));
        EXPECT_EQ(w.statusPanel(4)->text(), GetString(40306) + u':' + CurrentUser().name);
        EXPECT_TRUE(w.command(QStringLiteral("btnUser"))->isEnabled());
        EXPECT_FALSE(w.command(QStringLiteral("btnChild"))->isEnabled()); // the tree's, not bound here
        EXPECT_EQ(QFile::permissions(settingsFilePath()) & 0x0077, QFileDevice::Permissions());
        expectAccessible(&w);
        w.close();
    }
    EXPECT_TRUE(QFile::exists(ToolBarLayoutPath()));

    // The next start logs in with the remembered login, without any dialog.
    RuntimeSettings() = TRuntimeReg{};
    LoadSettings();
    EXPECT_TRUE(RuntimeSettings().rememberLogin);
    EXPECT_EQ(RuntimeSettings().userCode, QStringLiteral("admin"));
    EXPECT_EQ(RuntimeSettings().catalogueName, GetString(40406));
    MainData().acGlint.close();
    dialogs.clear();
    TFrmMain again;
    again.setConfirmExit(false);
    again.showAtStart();
    ASSERT_TRUE(waitUntil([&] { return again.sessionOpen(); }));
    EXPECT_TRUE(dialogs.isEmpty()) << dialogs.join(u',').toStdString();
    EXPECT_TRUE(again.windowState() & Qt::WindowMaximized); // left maximised
    again.close();
}

TEST_F(ShellGuiTest, RememberedLoginOfAMovedFileFallsBackToTheLoginDialog) {
    makeDefaultKnowledgeBase(QStringLiteral("pw"));
    TRuntimeReg& reg = RuntimeSettings();
    reg.catalogueName = GetString(40406);
    reg.userCode = QStringLiteral("admin");
    reg.password = QStringLiteral("pw");
    reg.rememberLogin = true;
    ASSERT_TRUE(QDir().rename(homePath(QStringLiteral("data")), homePath(QStringLiteral("moved"))));
    ModalDriver driver;
    QString prefilledName, prefilledUser, prefilledPassword;
    bool sawLogin = false;
    driver.onDialog = [&](QWidget* d) {
        auto* login = qobject_cast<TFrmLogin*>(d);
        if (!login) return;
        sawLogin = true;
        prefilledName = child<QLineEdit>(login, "edtDataBase")->text();
        prefilledUser = child<QLineEdit>(login, "edtUser")->text();
        prefilledPassword = child<QLineEdit>(login, "edtPassword")->text();
        login->reject();
    };
    TFrmMain w;
    w.setConfirmExit(false);
    w.showAtStart();
    ASSERT_TRUE(waitUntil([&] { return sawLogin; }));
    EXPECT_TRUE(driver.messages.isEmpty()) << driver.messages.join(u'|').toStdString();
    EXPECT_EQ(prefilledName, GetString(40406));
    EXPECT_EQ(prefilledUser, QStringLiteral("admin"));
    EXPECT_EQ(prefilledPassword, QStringLiteral("pw"));
    waitUntil([] { return QApplication::activeModalWidget() == nullptr; });
    EXPECT_FALSE(w.sessionOpen());
    EXPECT_EQ(w.treeCaption()->text(), GetString(40307));
    EXPECT_FALSE(w.command(QStringLiteral("btnUser"))->isEnabled());
    w.close();
}

TEST_F(ShellGuiTest, ThreeWrongPasswordsCloseTheLoginDialog) {
    makeDefaultKnowledgeBase(QStringLiteral("secret"));
    RuntimeSettings().catalogueName = GetString(40406);
    RuntimeSettings().userCode = QStringLiteral("admin");
    ModalDriver driver;
    int attempts = 0;
    driver.onDialog = [&](QWidget* d) {
        auto* login = qobject_cast<TFrmLogin*>(d);
        if (!login) return;
        child<QLineEdit>(login, "edtPassword")->setText(QStringLiteral("Secret")); // letter case counts
        ++attempts;
        login->btnOKClick();
    };
    TFrmMain w;
    w.setConfirmExit(false);
    EXPECT_FALSE(w.runLoginDialog());
    EXPECT_EQ(attempts, 3);
    ASSERT_EQ(driver.messages.size(), 3);
    for (const QString& m : driver.messages)
        EXPECT_EQ(m, QStringLiteral("admin") + GetString(40407));
    EXPECT_FALSE(w.sessionOpen());

    // The right password opens the session.
    driver.onDialog = [&](QWidget* d) {
        if (auto* login = qobject_cast<TFrmLogin*>(d)) {
            child<QLineEdit>(login, "edtPassword")->setText(QStringLiteral("secret"));
            login->btnOKClick();
        }
    };
    EXPECT_TRUE(w.runLoginDialog());
    EXPECT_TRUE(w.sessionOpen());
    EXPECT_EQ(CurrentUser().code, QStringLiteral("admin"));
    w.close();
}

TEST_F(ShellGuiTest, LanguageChangeRelabelsTheMainWindow) {
    TFrmMain w;
    w.setConfirmExit(false);
    const QStringList files = ResourceManager().languageFiles();
    const int german = int(files.indexOf(QDir(programDirectory()).filePath(QStringLiteral("language/german.lng"))));
    const int english = int(files.indexOf(QDir(programDirectory()).filePath(QStringLiteral("language/english.lng"))));
    ASSERT_GE(german, 0) << files.join(u',').toStdString();
    ASSERT_GE(english, 0);
    EXPECT_EQ(w.command(QStringLiteral("btnSave"))->text(), QStringLiteral("&Save"));
    w.changeLanguage(german);
    EXPECT_EQ(RuntimeSettings().language, QStringLiteral("german.lng"));
    EXPECT_EQ(w.command(QStringLiteral("btnSave"))->text(), QStringLiteral("&Speichern"));
    EXPECT_EQ(w.menu(QStringLiteral("siFile"))->title(), QStringLiteral("&Datei"));
    EXPECT_EQ(w.menu(QStringLiteral("siFile"))->accessibleName(), QStringLiteral("Datei"));
    EXPECT_EQ(w.indexTabs()->tabText(0), QStringLiteral("Inhalt"));
    EXPECT_EQ(w.documentTabs()->tabText(4), QStringLiteral("Suchergebnis"));
    EXPECT_EQ(w.propertyTabs()->tabText(2), QStringLiteral("Anhänge"));
    EXPECT_EQ(w.toolBar(2)->windowTitle(), QStringLiteral("Navigation"));
    EXPECT_EQ(w.formatBox(QStringLiteral("cbFontName"))->accessibleName(), QStringLiteral("Schriftart"));
    EXPECT_EQ(w.treeCaption()->text(), QStringLiteral("Keine Wissensdatenbank geöffnet"));
    // Every command takes its caption from the language in force.
    for (const CommandDef& def : CommandTable()) {
        QAction* a = w.command(QString::fromUtf16(def.name));
        ASSERT_NE(a, nullptr);
        EXPECT_EQ(a->text(), GetString(def.captionIdent)) << a->objectName().toStdString();
        EXPECT_FALSE(a->text().isEmpty()) << a->objectName().toStdString();
    }
    EXPECT_TRUE(w.languageGroup()->actions().at(german)->isChecked());
    w.changeLanguage(english);
    EXPECT_EQ(w.command(QStringLiteral("btnSave"))->text(), QStringLiteral("&Save"));
    EXPECT_EQ(w.menu(QStringLiteral("siFile"))->title(), QStringLiteral("&File"));
}

TEST_F(ShellGuiTest, MalformedLanguageFileLeavesEnglishAndTellsOnce) {
    QTemporaryDir resources;
    const QString language = resources.path() + QStringLiteral("/broken.lng");
    QFile f(language);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write("ident\tcaption\r\n40022\tSichern\r\nnot a number\tx\r\n40024\tDrucken\r\n");
    f.close();
    EXPECT_FALSE(ResourceManager().LoadLanguage(language));
    TFrmMain w;
    w.setConfirmExit(false);
    QWidget* box = w.reportLanguageProblem(language);
    EXPECT_TRUE(box->isVisible());
    EXPECT_FALSE(box->isModal()); // the start goes on
    EXPECT_TRUE(static_cast<QMessageBox*>(box)->text().contains(language));
    EXPECT_EQ(w.command(QStringLiteral("btnSave"))->text(), QStringLiteral("Sichern")); // read before the bad line
    EXPECT_EQ(w.command(QStringLiteral("btnPrint"))->text(), QStringLiteral("&Print")); // built-in
}

TEST_F(ShellGuiTest, GeometryRulesAndSkinMenu) {
    TRuntimeReg& reg = RuntimeSettings();
    reg.width = 15; // too narrow: maximised, the bounds still applied (the height is above 20)
    reg.height = 600;
    reg.left = 30;
    reg.top = 40;
    reg.skinFile = QStringLiteral("<CancelSkin>");
    TFrmMain w;
    w.setConfirmExit(false);
    w.showAtStart();
    EXPECT_TRUE(w.windowState() & Qt::WindowMaximized);
    EXPECT_TRUE(qApp->styleSheet().isEmpty()); // a removed skin stays removed
    // The skin menu lists the shipped skins; choosing one applies it and remembers its path.
    QStringList skins;
    for (QAction* a : w.skinGroup()->actions())
        skins << a->text();
    EXPECT_TRUE(skins.contains(QStringLiteral("xp_blue.xskn")));
    EXPECT_TRUE(skins.contains(QStringLiteral("dark.xskn")));
    for (QAction* a : w.skinGroup()->actions())
        if (a->text() == QStringLiteral("dark.xskn")) a->trigger();
    EXPECT_EQ(reg.skinFile, programDirectory() + QStringLiteral("skins/dark.xskn"));
    EXPECT_FALSE(qApp->styleSheet().isEmpty());
    w.command(QStringLiteral("btnRemoveSkin"))->trigger();
    EXPECT_EQ(reg.skinFile, QStringLiteral("<CancelSkin>"));
    EXPECT_TRUE(qApp->styleSheet().isEmpty());
    // Hidden tool bars are saved as hidden and come back hidden.
    w.command(QStringLiteral("btnFormattb"))->trigger();
    EXPECT_FALSE(w.toolBar(1)->isVisibleTo(&w));
    w.setPropertyPanelShown(true);
    EXPECT_TRUE(reg.showProperty);
    w.close();
    EXPECT_TRUE(QFile::exists(ToolBarLayoutPath()));
    // Saved back: maximised, with the normal bounds it was given.
    EXPECT_EQ(reg.windowState, 1);
    EXPECT_EQ(reg.top, 40);
    EXPECT_EQ(reg.left, 30);
    EXPECT_EQ(reg.height, 600);
}

TEST_F(ShellGuiTest, SecondInstanceRaisesTheFirstAndExits) {
    SingleInstance first(homeFolder());
    ASSERT_TRUE(first.listen());
    TFrmMain w;
    w.setConfirmExit(false);
    QObject::connect(&first, &SingleInstance::restoreRequested, &w, &TFrmMain::WMRestApp);
    // Only the frame is under test: the first-run wizard that the login timer brings is closed.
    ModalDriver driver;
    driver.onDialog = [](QWidget* d) { d->close(); };
    w.show();
    w.showMinimized();
    ASSERT_TRUE(waitUntil([&] { return w.isMinimized(); }, 5000));
    QProcess second;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    second.setProcessEnvironment(env);
    second.start(QStringLiteral(ZEL_PATH), {QStringLiteral("--home"), home_.path()});
    ASSERT_TRUE(second.waitForStarted());
    ASSERT_TRUE(waitUntil([&] { return second.state() == QProcess::NotRunning; }, 60000));
    EXPECT_EQ(second.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(second.exitCode(), 0);
    EXPECT_TRUE(second.readAllStandardError().contains("already running"));
    EXPECT_FALSE(w.isMinimized());
    w.close();
}

struct DataLinkCase {
    const char* name;
    int type;
    const char* kbName;
    const char* server; // "" keeps the default folder; "-" empties it
    const char* database;
    const char* dbPassword;
    const char* dbConfirm;
    const char* admin;
    const char* adminPassword;
    const char* adminConfirm;
    int expected; // ident of the first message, 0 none
};

class DataLinkCheckTest : public ShellGuiTest, public ::testing::WithParamInterface<DataLinkCase> {};

TEST_P(DataLinkCheckTest, RunsTheChecksInOrder) {
    const DataLinkCase& c = GetParam();
    MainData().catalogue.entries() << CatalogueEntry::make(0, QStringLiteral("Taken"), home_.path(),
                                                           QStringLiteral("t.skm"), QString(), QString());
    ModalDriver driver;
    TFrmDataLink d(TFrmDataLink::Create);
    d.setServerType(c.type);
    setText(&d, "edtName", QString::fromUtf8(c.kbName));
    const QString server = QString::fromUtf8(c.server);
    if (server == QStringLiteral("-"))
        setText(&d, "edtServer", QString());
    else if (!server.isEmpty())
        setText(&d, "edtServer", server);
    setText(&d, "edtDataBase", QString::fromUtf8(c.database));
    setText(&d, "edtPassword", QString::fromUtf8(c.dbPassword));
    setText(&d, "edtConfirm", QString::fromUtf8(c.dbConfirm));
    setText(&d, "edtAdmin", QString::fromUtf8(c.admin));
    setText(&d, "edtAdminPassword", QString::fromUtf8(c.adminPassword));
    setText(&d, "edtAdminConfirm", QString::fromUtf8(c.adminConfirm));
    const bool ok = d.checkInput();
    EXPECT_EQ(ok, c.expected == 0);
    if (c.expected == 0) {
        EXPECT_TRUE(driver.messages.isEmpty());
    } else {
        ASSERT_EQ(driver.messages.size(), 1);
        EXPECT_EQ(driver.messages[0], GetString(c.expected));
    }
}

INSTANTIATE_TEST_SUITE_P(
    Cases, DataLinkCheckTest,
    ::testing::Values(DataLinkCase{"blank_name", 0, "  ", "", "", "", "", "", "", "", 40715},
                      DataLinkCase{"name_over_50_bytes", 0,
                                   "\xC3\xA4\xC3\xA4\xC3\xA4\xC3\xA4\xC3\xA4\xC3\xA4\xC3\xA4\xC3\xA4\xC3\xA4"
                                   "\xC3\xA4\xC3\xA4\xC3\xA4\xC3\xA4\xC3\xA4\xC3\xA4\xC3\xA4\xC3\xA4\xC3\xA4"
                                   "\xC3\xA4\xC3\xA4\xC3\xA4\xC3\xA4\xC3\xA4\xC3\xA4\xC3\xA4\xC3\xA4",
                                   "", "db", "", "", "admin", "", "", 40751},
                      DataLinkCase{"name_taken", 0, " Taken ", "", "db", "", "", "admin", "", "", 40716},
                      DataLinkCase{"server_blank", 1, "Team", "-", "db", "", "", "admin", "", "", 40717},
                      DataLinkCase{"database_blank", 0, "Notes", "", " ", "", "", "admin", "", "", 40718},
                      DataLinkCase{"admin_blank", 0, "Notes", "", "db", "", "", " ", "", "", 40611},
                      DataLinkCase{"admin_confirm", 0, "Notes", "", "db", "", "", "admin", "a", "b", 40720},
                      DataLinkCase{"db_password_confirm", 0, "Notes", "", "db", "x", "y", "admin", "", "", 40719},
                      DataLinkCase{"server_unreachable", 1, "Team", "127.0.0.1:1", "db", "", "", "admin", "", "",
                                   40714},
                      DataLinkCase{"all_good", 0, "Notes", "", "db", "", "", "admin", "p", "p", 0}),
    [](const ::testing::TestParamInfo<DataLinkCase>& i) { return std::string(i.param.name); });

TEST_F(ShellGuiTest, EditingAnEntryKeepsItsOwnName) {
    MainData().catalogue.entries() << CatalogueEntry::make(0, QStringLiteral("Notes"), home_.path(),
                                                           QStringLiteral("n.skm"), QString(), QString());
    ModalDriver driver;
    TFrmDataLink d(TFrmDataLink::Edit);
    d.setEntry(MainData().catalogue.entries()[0]);
    EXPECT_TRUE(d.checkInput());
    EXPECT_TRUE(driver.messages.isEmpty());
    expectAccessible(&d);
}

class NewKnowledgeBaseTest : public ShellGuiTest, public ::testing::WithParamInterface<Dialect> {};

TEST_P(NewKnowledgeBaseTest, CreatesListsAndOpens) {
    if (GetParam() == Dialect::Postgres && !test::postgresAvailable()) {
        if (!qEnvironmentVariable("CI").isEmpty()) FAIL() << "ZEL_TEST_PG is not set under CI";
        GTEST_SKIP() << "no PostgreSQL test server";
    }
    const QString database = QStringLiteral("zel_ui_%1").arg(QDateTime::currentMSecsSinceEpoch());
    ModalDriver driver;
    TFrmDataLink d(TFrmDataLink::Create);
    d.setServerType(GetParam() == Dialect::Sqlite ? 0 : 1);
    setText(&d, "edtName", QStringLiteral("Second \u00E9"));
    if (GetParam() == Dialect::Postgres) {
        setText(&d, "edtServer", test::postgresServer());
        setText(&d, "edtUser", test::postgresUser());
    }
    setText(&d, "edtDataBase", database);
    setText(&d, "edtAdmin", QStringLiteral("boss"));
    setText(&d, "edtAdminPassword", QStringLiteral("pw"));
    setText(&d, "edtAdminConfirm", QStringLiteral("pw"));
    ASSERT_TRUE(d.checkInput()) << driver.messages.join(u'|').toStdString();
    const bool created = d.createKnowledgeBase();
    if (GetParam() == Dialect::Postgres) test::ScratchDb::dropServerDatabase(database.toLower());
    ASSERT_TRUE(created) << driver.messages.join(u'|').toStdString();
    EXPECT_EQ(driver.messages, QStringList{GetString(40707)});
    // Listed in the catalogue file, which another process reads.
    Catalogue reread;
    ASSERT_TRUE(reread.LoadCatalogue(catalogueFilePath()));
    const int index = reread.FindCatalogueEntry(QStringLiteral("Second \u00E9"));
    ASSERT_GE(index, 0);
    if (GetParam() == Dialect::Sqlite) {
        EXPECT_EQ(reread.entries()[index].databaseText(), database + QStringLiteral(".skm"));
        EXPECT_TRUE(QFile::exists(defaultDataFolder() + database + QStringLiteral(".skm")));
        const OpenResult r =
            OpenKnowledgeBase(MainData().acGlint, MainData().catalogue, QStringLiteral("Second \u00E9"),
                              QStringLiteral("boss"), true, true, false, QStringLiteral("pw"));
        EXPECT_TRUE(r.ok());
        TFrmBaseProperty property(QStringLiteral("Second \u00E9"));
        EXPECT_EQ(property.typeText(), GetString(40554));
        EXPECT_EQ(property.nodeCount(), CountLiveNodes(MainData().acGlint));
        EXPECT_GE(property.folderCount(), 0);
    }
}

INSTANTIATE_TEST_SUITE_P(Db, NewKnowledgeBaseTest, ::testing::Values(Dialect::Sqlite, Dialect::Postgres),
                         test::dialectName);

TEST_F(ShellGuiTest, CatalogueManagerPicksAddsAndDeletes) {
    makeDefaultKnowledgeBase(QString());
    ModalDriver driver;
    {
        TFrmSetDataBase pick(true, QString());
        pick.tree()->setCurrentItem(pick.tree()->topLevelItem(0)); // a group, not an entry
        pick.btnOKClick();
        EXPECT_EQ(driver.messages, QStringList{GetString(40548)});
        pick.tree()->setCurrentItem(pick.tree()->topLevelItem(0)->child(0));
        pick.btnOKClick();
        EXPECT_EQ(pick.chosenName(), GetString(40406));
        expectAccessible(&pick);
    }
    driver.messages.clear();
    driver.onDialog = [&](QWidget* d) {
        if (auto* link = qobject_cast<TFrmDataLink*>(d)) {
            setText(link, "edtName", QStringLiteral("Copy"));
            setText(link, "edtDataBase", QStringLiteral("DefaultKM.skm"));
            link->btnOKClick();
        }
    };
    TFrmSetDataBase manage(false, GetString(40406));
    manage.btnAddClick();
    ASSERT_EQ(MainData().catalogue.entries().size(), 2);
    Catalogue reread;
    reread.LoadCatalogue(catalogueFilePath());
    EXPECT_GE(reread.FindCatalogueEntry(QStringLiteral("Copy")), 0);
    EXPECT_EQ(manage.tree()->currentItem()->text(0), QStringLiteral("Copy"));
    driver.answerYes = false;
    manage.btnDeleteClick();
    EXPECT_EQ(MainData().catalogue.entries().size(), 2);
    driver.answerYes = true;
    manage.btnDeleteClick();
    EXPECT_EQ(driver.messages, (QStringList{GetString(40549), GetString(40549)}));
    reread.LoadCatalogue(catalogueFilePath());
    EXPECT_LT(reread.FindCatalogueEntry(QStringLiteral("Copy")), 0);
    EXPECT_EQ(reread.entries().size(), 1);
}

TEST_F(ShellGuiTest, FirstRunWizardChecks) {
    ModalDriver driver;
    TFrmFirstRun wizard;
    wizard.btnNextClick();
    wizard.btnNextClick();
    ASSERT_EQ(wizard.step(), TFrmFirstRun::Administrator);
    setText(&wizard, "edtPassword", QStringLiteral("a"));
    setText(&wizard, "edtConfirm", QStringLiteral("b"));
    setText(&wizard, "edtUser", QString());
    wizard.btnNextClick(); // the confirmation is checked before the user
    setText(&wizard, "edtConfirm", QStringLiteral("a"));
    wizard.btnNextClick();
    EXPECT_EQ(wizard.step(), TFrmFirstRun::Administrator);
    setText(&wizard, "edtUser", QStringLiteral("root"));
    wizard.btnNextClick();
    ASSERT_EQ(wizard.step(), TFrmFirstRun::MailAccount);
    // Each missing field, in order, until all are there.
    const std::pair<const char*, const char*> fill[] = {{"edtSmtpServer", "smtp.example"},
                                                        {"edtDisplayName", "Me"},
                                                        {"edtAddress", "me.example"},
                                                        {"edtAddress", "me@example"},
                                                        {"edtPop3Server", "pop.example"}};
    for (const auto& [field, value] : fill) {
        setText(&wizard, field, QString::fromLatin1(value));
        wizard.btnNextClick();
    }
    EXPECT_EQ(wizard.step(), TFrmFirstRun::Finish);
    EXPECT_EQ(driver.messages, (QStringList{GetString(40686), GetString(41336), GetString(41337), GetString(41338),
                                            GetString(41339), GetString(41340)}));
    const FirstRunValues v = wizard.values();
    EXPECT_EQ(v.adminCode, QStringLiteral("root"));
    EXPECT_EQ(v.adminPassword, QStringLiteral("a"));
    EXPECT_TRUE(v.hasMailAccount());
    expectAccessible(&wizard);
}

TEST_F(ShellGuiTest, UserManagerPasswordAndSettings) {
    makeDefaultKnowledgeBase(QString());
    ASSERT_TRUE(OpenKnowledgeBase(MainData().acGlint, MainData().catalogue, GetString(40406), QStringLiteral("admin"),
                                  true, true, false, QString())
                    .ok());
    Database& db = MainData().acGlint;
    ASSERT_TRUE(UpgradeSchema(db));
    ModalDriver driver;
    TFrmUser users(db);
    expectAccessible(&users);
    // The property dialog's checks in order, then the new user.
    int round = 0;
    driver.onDialog = [&](QWidget* d) {
        auto* p = qobject_cast<TFrmUserProperty*>(d);
        if (!p) return;
        switch (round++) {
        case 0:
            setText(p, "edtCode", QStringLiteral(" "));
            break;
        case 1:
            setText(p, "edtCode", QStringLiteral("bob"));
            setText(p, "edtPassword", QStringLiteral("x"));
            break;
        case 2:
            setText(p, "edtCode", QStringLiteral("ADMIN")); // codes compare without letter case
            setText(p, "edtConfirm", QStringLiteral("x"));
            break;
        default:
            setText(p, "edtCode", QStringLiteral("bob"));
            setText(p, "edtName", QStringLiteral("Bob B."));
            break;
        }
        p->btnOKClick();
    };
    users.btnNewUserClick();
    EXPECT_EQ(driver.messages, (QStringList{GetString(57011), GetString(57012), GetString(57013)}));
    ASSERT_EQ(users.list()->topLevelItemCount(), 2);
    // Another process sees the new user and can log in with its password.
    QProcess cli;
    cli.start(QStringLiteral(ZEL_CLI_PATH),
              {QStringLiteral("--home"), home_.path(), QStringLiteral("-k"), GetString(40406), QStringLiteral("-u"),
               QStringLiteral("bob"), QStringLiteral("-p"), QStringLiteral("x"), QStringLiteral("user"),
               QStringLiteral("list")});
    ASSERT_TRUE(cli.waitForFinished(60000));
    EXPECT_EQ(cli.exitCode(), 0) << cli.readAllStandardError().toStdString();
    EXPECT_TRUE(cli.readAllStandardOutput().contains("bob\tBob B."));

    // The administrator cannot be removed; bob can.
    driver.messages.clear();
    driver.onDialog = nullptr;
    users.list()->setCurrentItem(users.list()->topLevelItem(0));
    ASSERT_EQ(users.list()->currentItem()->text(0), QStringLiteral("admin"));
    users.btnRemoveUserClick();
    users.list()->setCurrentItem(users.list()->topLevelItem(1));
    users.btnRemoveUserClick();
    EXPECT_EQ(driver.messages, (QStringList{GetString(57006), GetString(57007)}));
    EXPECT_EQ(FindUserId(db, QStringLiteral("bob")), 0);
    EXPECT_EQ(users.list()->topLevelItemCount(), 1);

    // Change password: wrong old password, then a confirmation that differs, then success.
    driver.messages.clear();
    round = 0;
    driver.onDialog = [&](QWidget* d) {
        auto* p = qobject_cast<TfrmPassword*>(d);
        if (!p) return;
        setText(p, "edtOldPassword", round == 0 ? QStringLiteral("nope") : QString());
        setText(p, "edtNewPassword", QStringLiteral("new"));
        setText(p, "edtConfirm", round == 1 ? QStringLiteral("other") : QStringLiteral("new"));
        ++round;
        p->btnOKClick();
    };
    EXPECT_TRUE(TfrmPassword::run(nullptr, db));
    EXPECT_EQ(driver.messages, (QStringList{GetString(40407), GetString(40686), GetString(40685)}));
    EXPECT_EQ(LoginCheck(db, QStringLiteral("admin"), QStringLiteral("new"), false), LoginStatus::Ok);
    EXPECT_EQ(LoginCheck(db, QStringLiteral("admin"), QString(), false), LoginStatus::WrongPassword);
}

TEST_F(ShellGuiTest, UserManagementNeedsAnAdministrator) {
    makeDefaultKnowledgeBase(QString());
    {
        Database db;
        ASSERT_TRUE(db.open(BuildConnectionString(MainData().catalogue.entries()[0])));
        TuserReg bob;
        bob.code = QStringLiteral("bob");
        bob.password = QStringLiteral("b");
        ASSERT_NE(AddUser(db, bob), 0);
    }
    RuntimeSettings().catalogueName = GetString(40406);
    RuntimeSettings().userCode = QStringLiteral("bob");
    ModalDriver driver;
    driver.onDialog = [&](QWidget* d) {
        if (auto* login = qobject_cast<TFrmLogin*>(d)) {
            child<QLineEdit>(login, "edtPassword")->setText(QStringLiteral("b"));
            login->btnOKClick();
        }
    };
    TFrmMain w;
    w.setConfirmExit(false);
    ASSERT_TRUE(w.runLoginDialog());
    driver.onDialog = nullptr;
    w.command(QStringLiteral("btnUser"))->trigger();
    EXPECT_EQ(driver.messages, QStringList{GetString(40338)});
    w.close();
}

TEST_F(ShellGuiTest, BookmarksOfTheSessionUser) {
    makeDefaultKnowledgeBase(QString());
    RuntimeSettings().catalogueName = GetString(40406);
    RuntimeSettings().userCode = QStringLiteral("admin");
    ModalDriver driver;
    driver.onDialog = [&](QWidget* d) {
        if (auto* login = qobject_cast<TFrmLogin*>(d)) login->btnOKClick();
    };
    TFrmMain w;
    w.setConfirmExit(false);
    ASSERT_TRUE(w.runLoginDialog());
    Database& db = w.database();
    Tinfoproperty folder;
    folder.caption = QStringLiteral("Projects \"Q\"");
    const QString folderId = InsertNode(db, folder, QStringLiteral("0"));
    Tinfoproperty doc;
    doc.caption = QStringLiteral("Plan");
    const QString docId = InsertNode(db, doc, folderId);
    ASSERT_FALSE(docId.isEmpty());
    TBookmarkPage* page = w.bookmarks();
    EXPECT_EQ(page->list()->topLevelItemCount(), 0);
    w.setCurrentNode(docId, QStringLiteral("Plan"));
    EXPECT_EQ(w.titleLabel()->text(), QStringLiteral("  Plan"));
    page->btnAddBookMarkClick();
    page->btnAddBookMarkClick(); // a node may be bookmarked twice
    ASSERT_EQ(page->list()->topLevelItemCount(), 2);
    EXPECT_EQ(page->list()->topLevelItem(0)->text(1), QStringLiteral("/Projects \"Q\"/Plan.htm"));
    // Show opens another node only.
    QStringList opened;
    QObject::connect(&w, &TFrmMain::openNodeRequested,
                     [&](const QString& url, const QString& id) { opened << url + u'|' + id; });
    page->btnshowBookMarkClick();
    EXPECT_TRUE(opened.isEmpty());
    w.setCurrentNode(folderId, folder.caption);
    page->btnshowBookMarkClick();
    EXPECT_EQ(opened, QStringList{QStringLiteral("link://document/Projects \"Q\"/Plan.htm|") + docId});
    page->btnRemoveBookMarkClick();
    EXPECT_EQ(page->list()->topLevelItemCount(), 1);
    // The list is the user's rows: a new session reads one bookmark back. A login over an open session
    // ends that session first.
    QStringList events;
    QObject::connect(&w, &TFrmMain::sessionClosing, [&] { events << QStringLiteral("closing"); });
    QObject::connect(&w, &TFrmMain::sessionClosed, [&] { events << QStringLiteral("closed"); });
    QObject::connect(&w, &TFrmMain::sessionOpened, [&] { events << QStringLiteral("opened"); });
    ASSERT_TRUE(w.runLoginDialog());
    EXPECT_EQ(events, (QStringList{QStringLiteral("closing"), QStringLiteral("closed"), QStringLiteral("opened")}));
    EXPECT_EQ(w.bookmarks()->list()->topLevelItemCount(), 1);
    w.CloseSession();
    EXPECT_EQ(page->list()->topLevelItemCount(), 0);
    EXPECT_FALSE(w.database().isOpen());
    ASSERT_TRUE(w.runLoginDialog());
    EXPECT_EQ(w.bookmarks()->list()->topLevelItemCount(), 1);
    expectAccessible(page);
    w.close();
}

TEST_F(ShellGuiTest, WelcomeWindowTopicsAndItsCheckBox) {
    makeDefaultKnowledgeBase(QString());
    ASSERT_TRUE(OpenKnowledgeBase(MainData().acGlint, MainData().catalogue, GetString(40406), QStringLiteral("admin"),
                                  true, true, false, QString())
                    .ok());
    LoadUserSettings(MainData().acGlint, QStringLiteral("admin"));
    ASSERT_TRUE(ResourceManager().LoadLanguage(programDirectory() + QStringLiteral("language/english.lng")));
    TFrmWelcome welcome;
    const Topic five = ResourceManager().GetTopic(5);
    ASSERT_TRUE(five.found);
    EXPECT_TRUE(welcome.tipHtml().contains(five.caption.toHtmlEscaped()));
    EXPECT_TRUE(welcome.tipHtml().startsWith(
        QStringLiteral("<!DOCTYPE HTML PUBLIC \"-//W3C//DTD HTML 4.0 Transitional//EN\">")));
    auto* show = welcome.findChild<QCheckBox*>(QStringLiteral("chkShowWelcome"));
    ASSERT_NE(show, nullptr);
    EXPECT_TRUE(show->isChecked()); // a new user's "show welcome" is on
    show->click();
    Database other; // the stored flag, read on a connection of its own
    ASSERT_TRUE(other.open(MainData().acGlint.connectionString()));
    LoadUserSettings(other, QStringLiteral("admin"));
    EXPECT_FALSE(CurrentUser().showWelcome);
    expectAccessible(&welcome);
}

TEST_F(ShellGuiTest, UserSettingsAreStoredAndAnnounced) {
    makeDefaultKnowledgeBase(QString());
    RuntimeSettings().catalogueName = GetString(40406);
    RuntimeSettings().userCode = QStringLiteral("admin");
    ModalDriver driver;
    driver.onDialog = [&](QWidget* d) {
        if (auto* login = qobject_cast<TFrmLogin*>(d)) login->btnOKClick();
    };
    TFrmMain w;
    w.setConfirmExit(false);
    ASSERT_TRUE(w.runLoginDialog());
    Tinfoproperty doc;
    doc.caption = QStringLiteral("Start");
    const QString docId = InsertNode(w.database(), doc, QStringLiteral("0"));
    int announced = 0;
    QObject::connect(&w, &TFrmMain::userSettingsChanged, [&] { ++announced; });
    driver.onDialog = [&](QWidget* d) {
        auto* set = qobject_cast<TfrmUserSet*>(d);
        if (!set) return;
        setText(set, "edtDefaultDocument", QStringLiteral("/start/")); // letter case ignored
        child<QComboBox>(set, "cbSortType")->setCurrentIndex(3);
        child<QSpinBox>(set, "spnMarkTime")->setValue(12);
        child<QCheckBox>(set, "chkAutoMail")->setChecked(false);
        child<QCheckBox>(set, "chkMailAtLogin")->setChecked(false);
        expectAccessible(set);
        set->btnOKClick();
    };
    w.command(QStringLiteral("btnUserSet"))->trigger();
    EXPECT_EQ(announced, 1);
    EXPECT_TRUE(driver.messages.isEmpty()) << driver.messages.join(u'|').toStdString();
    Database other;
    ASSERT_TRUE(other.open(w.database().connectionString()));
    CurrentUser() = TuserReg{};
    ASSERT_EQ(LoginCheck(other, QStringLiteral("admin"), QString(), true), LoginStatus::Ok);
    LoadUserSettings(other, QStringLiteral("admin"));
    EXPECT_EQ(CurrentUser().defaultDocument, docId);
    EXPECT_EQ(CurrentUser().sortOrder, 3);
    EXPECT_EQ(CurrentUser().markTime, 12);
    EXPECT_EQ(CurrentUser().mailInterval, -1);
    EXPECT_FALSE(CurrentUser().mailAtLogin);
    w.close();
}

TEST_F(ShellGuiTest, ExitAsksFirst) {
    ModalDriver driver;
    TFrmMain w;
    w.show();
    driver.answerYes = false;
    w.command(QStringLiteral("btnExit"))->trigger();
    EXPECT_TRUE(w.isVisible());
    driver.answerYes = true;
    w.command(QStringLiteral("btnExit"))->trigger();
    EXPECT_FALSE(w.isVisible());
    EXPECT_EQ(driver.messages, (QStringList{GetString(40323), GetString(40323)}));
    EXPECT_TRUE(QFile::exists(settingsFilePath()));
}

} // namespace

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    if (geteuid() == 0) qputenv("QTWEBENGINE_DISABLE_SANDBOX", "1");
    QApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    setPasswordHashIterations(1000);
    setProgramDirectory(QStringLiteral(ZEL_SOURCE_DIR "/resources"));
    ResourceManager();
    return RUN_ALL_TESTS();
}
