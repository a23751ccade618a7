// The document pane with the real Qt WebEngine offscreen, on both databases: the link scheme feeding
// the viewer and the editor, the views kept in step, saving with picture capture, the save prompt,
// links, and stored pages that must neither run scripts nor reach the network.
#include <QAction>
#include <QApplication>
#include <QBuffer>
#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QImage>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPlainTextEdit>
#include <QProcess>
#include <QTabBar>
#include <QTabWidget>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QVBoxLayout>
#include <QWebEnginePage>
#include <QWebEngineProfile>
#include <QWebEngineView>
#include <deque>
#include <memory>
#include <unistd.h>

#include "StoreFixture.h"
#include "editor/LinkUrl.h"
#include "editor/ui/DocumentBinding.h"
#include "editor/ui/TDocumentPane.h"
#include "editor/ui/TDocumentSettingsPanel.h"
#include "editor/ui/TFrmDocProperty.h"
#include "editor/ui/TFrmFileDownLoad.h"
#include "editor/ui/TZelNSHandler.h"
#include "platform/Paths.h"
#include "shell/Strings.h"
#include "shell/ui/TFrmMain.h"
#include "store/Catalogue.h"
#include "store/Content.h"
#include "store/DocumentUnlocks.h"
#include "store/PasswordHash.h"
#include "store/Schema.h"
#include "store/Users.h"
#include "tree/ui/TTreePanel.h"
#include "tree/ui/TreeAsk.h"
#include "tree/ui/TreeBinding.h"
#include "tree/ui/TvMain.h"
#include <QCheckBox>
#include <QComboBox>
#include <QPushButton>
#include <QSpinBox>

namespace zel::test {
namespace {

bool waitFor(const std::function<bool()>& done, int ms = 20000) {
    QElapsedTimer t;
    t.start();
    while (!done() && t.elapsed() < ms)
        QApplication::processEvents(QEventLoop::AllEvents, 20);
    return done();
}

QByteArray pngBytes(QColor c) {
    QImage img(8, 6, QImage::Format_RGB32);
    img.fill(c);
    QByteArray out;
    QBuffer b(&out);
    b.open(QIODevice::WriteOnly);
    img.save(&b, "PNG");
    return out;
}

// A loopback server that only counts who comes: stored pages must never reach it.
class CountingServer : public QTcpServer {
public:
    CountingServer() {
        listen(QHostAddress::LocalHost, 0);
        connect(this, &QTcpServer::newConnection, this, [this] {
            while (QTcpSocket* s = nextPendingConnection()) {
                ++connections;
                s->close();
            }
        });
    }
    QString url(const QString& path) const {
        return QStringLiteral("http://127.0.0.1:%1/%2").arg(serverPort()).arg(path);
    }
    int connections = 0;
};

class EditorUi : public StoreTest {
protected:
    void SetUp() override {
        StoreTest::SetUp();
        if (IsSkipped() || HasFatalFailure()) return;
        ASSERT_TRUE(UpgradeSchema(db()));
        ResetDocAsk();
        DocAsk().confirm = [this](QWidget*, const QString& text) {
            asked.push_back(text);
            if (answers.empty()) return false;
            const bool a = answers.front();
            answers.pop_front();
            return a;
        };
        DocAsk().inform = [this](QWidget*, const QString& text) { informed.push_back(text); };
        DocAsk().openExternal = [this](const QUrl& u) { external.push_back(u); };
        DocAsk().exec = [this](QDialog* d) {
            auto* dialog = qobject_cast<TFrmFileDownLoad*>(d);
            if (dialog) offeredRows = int(dialog->rows().size());
            return acceptDownloads;
        };
        tabs = std::make_unique<QTabWidget>();
        viewer = new QWebEngineView(tabs.get());
        auto* edit = new QWidget(tabs.get());
        auto* source = new QWidget(tabs.get());
        tabs->addTab(viewer, QStringLiteral("Normal"));
        tabs->addTab(edit, QStringLiteral("Edit"));
        tabs->addTab(source, QStringLiteral("Source"));
        tabs->addTab(new QWidget(tabs.get()), QStringLiteral("Filelist"));
        pane = new TDocumentPane(tabs.get(), viewer, edit, source, tabs.get());
        pane->setDatabase(&db());
        QObject::connect(pane, &TDocumentPane::documentLoaded, [this](bool) { ++loads; });
        tabs->resize(900, 600);
        tabs->show();

        work = add(QStringLiteral("0"), QStringLiteral("Work"));
        notes = add(work, QStringLiteral("My Notes"));
        other = add(work, QStringLiteral("Other"));
    }
    void TearDown() override {
        tabs.reset();
        ResetDocAsk();
        CurrentUser() = TuserReg{};
        StoreTest::TearDown();
    }
    QVariant js(QWebEngineView* v, const QString& script) { return pane->run(v->page(), script); }
    QString text(QWebEngineView* v) {
        return js(v, QStringLiteral("document.body ? document.body.innerText : ''")).toString();
    }
    QString stored(const QString& id) { return QString::fromUtf8(ReadDocumentContent(db(), id)); }
    // Opens and waits until the view has loaded it.
    void open(const QString& id, bool edit = false) {
        const int before = loads;
        pane->openNode(id, DocumentUrlForNode(db(), id), edit);
        ASSERT_TRUE(waitFor([&] { return loads > before; }));
    }
    void toTab(int tab, bool reloads) {
        const int before = loads;
        tabs->setCurrentIndex(tab);
        if (reloads) {
            ASSERT_TRUE(waitFor([&] { return loads > before; }));
        }
    }
    // Types text at the end of the editor's body, as a key press would.
    void typeInEditor(const QString& t) {
        js(pane->editor(), QStringLiteral("var r=document.createRange(); r.selectNodeContents(document.body);"
                                          "r.collapse(false); var s=getSelection(); s.removeAllRanges(); s.addRange(r);"
                                          "document.execCommand('insertText', false, '%1'); true")
                               .arg(t));
    }

    std::unique_ptr<QTabWidget> tabs;
    QWebEngineView* viewer = nullptr;
    TDocumentPane* pane = nullptr;
    int loads = 0;
    std::deque<bool> answers;
    std::vector<QString> asked, informed;
    std::vector<QUrl> external;
    int offeredRows = -1;
    bool acceptDownloads = true;
    QString work, notes, other;
};

TEST_P(EditorUi, EditNormalAndSourceStayInStepWithoutTouchingTheStore) {
    // The page declares another character set; the text is stored as Unicode and shows as written.
    ASSERT_TRUE(WriteDocumentText(db(), notes,
                                  QStringLiteral("<html><head><meta http-equiv=\"Content-Type\" content=\"text/html; "
                                                 "charset=windows-1252\"></head><body><p>first line Café ünï "
                                                 "Ω</p></body></html>")));
    open(notes);
    // Showing documents leaves nothing on disk: no cache, no cookies, no history files.
    EXPECT_TRUE(viewer->page()->profile()->isOffTheRecord());
    EXPECT_TRUE(pane->editor()->page()->profile()->isOffTheRecord());
    EXPECT_EQ(tabs->currentIndex(), int(TabNormal));
    EXPECT_TRUE(text(viewer).contains(QStringLiteral("first line Café ünï Ω")));

    toTab(TabEdit, true);
    EXPECT_EQ(js(pane->editor(), QStringLiteral("document.designMode")).toString(), QStringLiteral("on"));
    typeInEditor(QStringLiteral("EDITED"));
    ASSERT_TRUE(waitFor([&] { return pane->modified(); })) << "the editor's change reaches the program";

    // "Normal" shows the unsaved HTML, served from the editor; the store has not changed.
    toTab(TabNormal, true);
    EXPECT_TRUE(text(viewer).contains(QStringLiteral("EDITED")));
    EXPECT_FALSE(stored(notes).contains(QStringLiteral("EDITED")));

    // "Source" shows the viewer's HTML; editing it reaches the editor.
    toTab(TabSource, false);
    const QString html = pane->source()->toPlainText();
    EXPECT_TRUE(html.contains(QStringLiteral("EDITED")));
    EXPECT_FALSE(html.contains(QStringLiteral("save=")));
    pane->source()->setPlainText(QString(html).replace(QStringLiteral("EDITED"), QStringLiteral("SOURCED")));
    toTab(TabEdit, true);
    EXPECT_TRUE(text(pane->editor()).contains(QStringLiteral("SOURCED")));
    EXPECT_FALSE(stored(notes).contains(QStringLiteral("SOURCED")));

    // Saving stores the document without the helper attributes and clears the flag.
    ASSERT_TRUE(pane->saveDocument());
    EXPECT_FALSE(pane->modified());
    const QString saved = stored(notes);
    EXPECT_TRUE(saved.contains(QStringLiteral("SOURCED")));
    EXPECT_TRUE(saved.contains(QStringLiteral("first line Café ünï Ω")));
    EXPECT_FALSE(saved.contains(QStringLiteral("save=")));
    EXPECT_FALSE(saved.contains(QStringLiteral("contenteditable")));
}

TEST_P(EditorUi, StoredPagesRunNoScriptsAndReachNoNetwork) {
    CountingServer server;
    ASSERT_TRUE(server.isListening());
    const QString page = QStringLiteral("<html><head><meta http-equiv=\"refresh\" content=\"1;url=%1\"></head><body>"
                                        "<p id=\"t\">untouched</p><img src=\"%2\"><iframe src=\"%3\"></iframe>"
                                        "<script>document.getElementById('t').textContent='script ran';</script>"
                                        "<img src=\"x\" onerror=\"document.title='handler ran'\"></body></html>")
                             .arg(server.url(QStringLiteral("refresh")), server.url(QStringLiteral("pic.png")),
                                  server.url(QStringLiteral("frame")));
    ASSERT_TRUE(WriteDocumentText(db(), notes, page));
    open(notes);
    QApplication::processEvents();
    waitFor([] { return false; }, 1500); // give a refresh or late request its chance
    EXPECT_EQ(text(viewer).trimmed(), QStringLiteral("untouched"));
    EXPECT_NE(viewer->title(), QStringLiteral("handler ran"));
    EXPECT_EQ(pane->state().nodeId, notes);
    EXPECT_TRUE(DecodeLinkUrl(viewer->url().toString()).startsWith(QStringLiteral("link://document/Work/My Notes")));
    // A page that refreshes to a local file stays where it is too.
    ASSERT_TRUE(WriteDocumentText(
        db(), other,
        QStringLiteral("<html><head><meta http-equiv=\"refresh\" content=\"0;url=file:///etc/hostname\">"
                       "</head><body>stays</body></html>")));
    open(other);
    waitFor([] { return false; }, 1500);
    EXPECT_EQ(text(viewer).trimmed(), QStringLiteral("stays"));
    EXPECT_EQ(viewer->url().scheme(), QStringLiteral("link"));
    open(notes);
    // The same in the editor.
    toTab(TabEdit, true);
    waitFor([] { return false; }, 500);
    EXPECT_EQ(text(pane->editor()).trimmed(), QStringLiteral("untouched"));
    EXPECT_EQ(server.connections, 0);
}

TEST_P(EditorUi, PicturesAreCapturedOnceAndShownFromTheStore) {
    CountingServer server;
    QTemporaryDir dir;
    const QString local = dir.filePath(QStringLiteral("local pic.png"));
    {
        QFile f(local);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(pngBytes(Qt::red));
    }
    // A web picture present at load is not captured again (and, being remote, not even fetched).
    ASSERT_TRUE(WriteDocumentText(db(), notes,
                                  QStringLiteral("<html><body><p>pics</p><img id=\"old\" src=\"%1\"></body></html>")
                                      .arg(server.url(QStringLiteral("old.png")))));
    open(notes, true);
    EXPECT_EQ(tabs->currentIndex(), int(TabEdit));
    const QString src = QUrl::fromLocalFile(local).toString(QUrl::FullyEncoded);
    js(pane->editor(), QStringLiteral("var r=document.createRange(); r.selectNodeContents(document.body);"
                                      "r.collapse(false); var s=getSelection(); s.removeAllRanges(); s.addRange(r);"
                                      "document.execCommand('insertHTML', false, '<img class=\"new\" src=\"%1\">"
                                      "<p>between</p><img class=\"new\" src=\"%1\">'); true")
                           .arg(src));
    ASSERT_TRUE(waitFor([&] { return pane->modified(); }));

    // Cancel in "Download File" still saves, and leaves the pictures as they are.
    acceptDownloads = false;
    ASSERT_TRUE(pane->saveDocument());
    EXPECT_EQ(offeredRows, 1) << "two pictures with one source make one row; the old one is not offered";
    EXPECT_EQ(CountAttachments(db(), notes), 0);

    acceptDownloads = true;
    offeredRows = -1;
    typeInEditor(QStringLiteral("more"));
    ASSERT_TRUE(waitFor([&] { return pane->modified(); }));
    ASSERT_TRUE(pane->saveDocument());
    EXPECT_EQ(offeredRows, 1);
    ASSERT_EQ(CountAttachments(db(), notes), 1);
    const QString id = FindAttachmentId(db(), notes, QStringLiteral("local pic.png"));
    ASSERT_FALSE(id.isEmpty());
    const QString cid = QString::fromUtf16(kCidPrefix) + id;
    const QString saved = stored(notes);
    EXPECT_EQ(saved.count(cid), 2) << saved.toStdString();
    EXPECT_TRUE(saved.contains(server.url(QStringLiteral("old.png"))));
    EXPECT_FALSE(saved.contains(QStringLiteral("save=")));

    // A further save offers nothing: every picture is stored or was there at load.
    offeredRows = -1;
    typeInEditor(QStringLiteral("again"));
    ASSERT_TRUE(waitFor([&] { return pane->modified(); }));
    ASSERT_TRUE(pane->saveDocument());
    EXPECT_EQ(offeredRows, -1);
    EXPECT_EQ(CountAttachments(db(), notes), 1);

    // Reopened, the viewer draws the pictures from the knowledge base through the link scheme.
    open(other);
    open(notes);
    ASSERT_TRUE(waitFor([&] {
        return js(viewer,
                  QStringLiteral("Array.from(document.querySelectorAll('img.new')).every(i => i.naturalWidth == 8)"))
            .toBool();
    }));
    EXPECT_EQ(js(viewer, QStringLiteral("document.getElementById('old').naturalWidth")).toInt(), 0);
    EXPECT_EQ(server.connections, 0);
}

TEST_P(EditorUi, ASaveTheStoreRefusesKeepsTheDocumentModified) {
    ASSERT_TRUE(WriteDocumentText(db(), notes, QStringLiteral("<html><body><p>kept</p></body></html>")));
    open(notes, true);
    typeInEditor(QStringLiteral("LOST?"));
    ASSERT_TRUE(waitFor([&] { return pane->modified(); }));
    injectUpdateFault(QStringLiteral("info"), notes);
    EXPECT_FALSE(pane->saveDocument());
    EXPECT_TRUE(pane->modified());
    EXPECT_EQ(informed.size(), 1u);
    EXPECT_FALSE(stored(notes).contains(QStringLiteral("LOST?")));
    // Leaving asks; "Yes" tries to save, fails again, and the document stays.
    answers = {true};
    EXPECT_FALSE(pane->leaveDocument(true));
    EXPECT_TRUE(pane->modified());
    EXPECT_TRUE(text(pane->editor()).contains(QStringLiteral("LOST?")));
}

TEST_P(EditorUi, LinksInTheViewer) {
    ASSERT_TRUE(
        SaveAttachmentFromStream(db(), QByteArray("attached bytes"), other, QStringLiteral("notes.txt")).size());
    QString filler;
    for (int i = 0; i < 200; ++i)
        filler += QStringLiteral("<p>line %1</p>").arg(i);
    ASSERT_TRUE(WriteDocumentText(
        db(), notes,
        QStringLiteral("<html><body><a id=\"doc\" href=\"Other.htm\">other</a> <a id=\"web\" "
                       "href=\"https://example.org/x\">web</a>"
                       " <a id=\"att\" href=\"Other/notes.txt\">att</a> <a id=\"anc\" href=\"#part2\">down</a>"
                       " <a id=\"js\" href=\"javascript:void(0)\">js</a>%1<a name=\"part2\">Part two</a></body></html>")
            .arg(filler)));
    ASSERT_TRUE(WriteDocumentText(db(), other, QStringLiteral("<html><body>the other page</body></html>")));
    open(notes);
    const int loaded = loads;

    // An anchor scrolls in place.
    js(viewer, QStringLiteral("document.getElementById('anc').click(); true"));
    ASSERT_TRUE(waitFor([&] { return js(viewer, QStringLiteral("window.scrollY")).toInt() > 0; }));
    EXPECT_EQ(loads, loaded);
    EXPECT_EQ(pane->state().nodeId, notes);

    // A web link goes to the system; scripts' links go nowhere.
    js(viewer, QStringLiteral("document.getElementById('web').click(); true"));
    ASSERT_TRUE(waitFor([&] { return !external.empty(); }));
    EXPECT_EQ(external.front(), QUrl(QStringLiteral("https://example.org/x")));
    js(viewer, QStringLiteral("document.getElementById('js').click(); true"));
    waitFor([] { return false; }, 300);
    EXPECT_EQ(external.size(), 1u);

    // An attachment opens from the temporary folder.
    js(viewer, QStringLiteral("document.getElementById('att').click(); true"));
    ASSERT_TRUE(waitFor([&] { return external.size() == 2; }));
    EXPECT_EQ(external[1].toLocalFile(), tempFolder() + QStringLiteral("notes.txt"));
    QFile exported(external[1].toLocalFile());
    ASSERT_TRUE(exported.open(QIODevice::ReadOnly));
    EXPECT_EQ(exported.readAll(), QByteArray("attached bytes"));

    // A link to another document opens that node.
    js(viewer, QStringLiteral("document.getElementById('doc').click(); true"));
    ASSERT_TRUE(waitFor([&] { return pane->state().nodeId == other && loads > loaded; }));
    ASSERT_TRUE(waitFor([&] { return text(viewer).contains(QStringLiteral("the other page")); }));

    // Navigating to an anchor of the document open in "Edit" scrolls without reloading.
    open(notes, true);
    const int editLoads = loads;
    pane->openUrl(QStringLiteral("link://document/Work/My%20Notes.htm%23part2"));
    ASSERT_TRUE(waitFor([&] { return js(pane->editor(), QStringLiteral("window.scrollY")).toInt() > 0; }));
    EXPECT_EQ(loads, editLoads);
    // A name that finds no document says so.
    pane->openUrl(QStringLiteral("link://document/Work/Nothing.htm"));
    ASSERT_EQ(informed.size(), 1u);
    EXPECT_EQ(informed[0], GetString(40308));
}

TEST_P(EditorUi, DocumentSettingsAreReadWithoutChangeAndWrittenIntoTheDocument) {
    ASSERT_TRUE(WriteDocumentText(
        db(), notes,
        QStringLiteral("<html><head><meta http-equiv=\"Content-Type\" content=\"text/html; charset=windows-1252\">"
                       "</head><body bgcolor=\"#800000\" link=\"#123456\" topmargin=\"15\" leftmargin=\"30\">"
                       "<p>settings</p></body></html>")));
    QWidget bgPage, marginPage;
    TDocumentSettingsPanel panel(&bgPage, &marginPage);
    panel.setDatabase(&db());
    QObject::connect(pane, &TDocumentPane::settingsRead, &panel, &TDocumentSettingsPanel::fill);
    QObject::connect(&panel, &TDocumentSettingsPanel::changed, pane, &TDocumentPane::applySettings);
    open(notes, true);
    EXPECT_EQ(panel.colour(0)->currentText(), ColourName(2)) << "Maroon";
    EXPECT_EQ(panel.colour(1)->currentIndex(), kColourDefault);
    EXPECT_EQ(panel.colour(2)->currentIndex(), kColourCustom);
    EXPECT_FALSE(panel.topMargin()->isChecked()) << "15 is the default top margin";
    EXPECT_TRUE(panel.leftMargin()->isChecked());
    EXPECT_EQ(panel.leftValue()->value(), 30);
    EXPECT_EQ(panel.charset()->currentText(), QStringLiteral("windows-1252"));
    EXPECT_FALSE(pane->modified()) << "reading the settings is no change";

    // The user picks Blue for the text and drops the left margin.
    panel.colour(1)->setCurrentIndex(13);
    emit panel.colour(1)->activated(13);
    EXPECT_TRUE(pane->modified());
    panel.leftMargin()->setChecked(false);
    ASSERT_TRUE(pane->saveDocument());
    const QString saved = stored(notes);
    EXPECT_TRUE(saved.contains(QStringLiteral("text=\"#0000FF\""))) << saved.toStdString();
    EXPECT_TRUE(saved.contains(QStringLiteral("bgcolor=\"#800000\"")));
    EXPECT_TRUE(saved.contains(QStringLiteral("link=\"#123456\"")));
    EXPECT_FALSE(saved.contains(QStringLiteral("leftmargin")));
    EXPECT_TRUE(saved.contains(QStringLiteral("charset=windows-1252")));

    // "Document Property": White background through the dialog's OK.
    DocAsk().exec = [](QDialog* d) {
        auto* dialog = qobject_cast<TFrmDocProperty*>(d);
        if (!dialog) return false;
        EXPECT_EQ(dialog->panel()->colour(1)->currentText(), ColourName(13)) << "the dialog shows the document";
        dialog->panel()->colour(0)->setCurrentIndex(16);
        dialog->findChild<QPushButton*>(QStringLiteral("btnOK"))->click();
        return true;
    };
    pane->documentProperty();
    EXPECT_TRUE(pane->modified());
    ASSERT_TRUE(pane->saveDocument());
    EXPECT_TRUE(stored(notes).contains(QStringLiteral("bgcolor=\"#FFFFFF\"")));
}

// The user's own tab changes: a click on a tab and Ctrl+Tab, as the widgets receive them.
TEST_P(EditorUi, TabChangesAreRefusedBeforeANodeAndAwayFromTheListOfTheRootAndTheBin) {
    QTabBar* bar = tabs->tabBar();
    auto click = [&](int tab) {
        const QPointF at = bar->tabRect(tab).center();
        QMouseEvent press(QEvent::MouseButtonPress, at, bar->mapToGlobal(at), Qt::LeftButton, Qt::LeftButton,
                          Qt::NoModifier);
        QApplication::sendEvent(bar, &press);
        QMouseEvent release(QEvent::MouseButtonRelease, at, bar->mapToGlobal(at), Qt::LeftButton, Qt::NoButton,
                            Qt::NoModifier);
        QApplication::sendEvent(bar, &release);
        return tabs->currentIndex();
    };
    auto ctrlTab = [&] {
        QKeyEvent key(QEvent::KeyPress, Qt::Key_Tab, Qt::ControlModifier);
        QApplication::sendEvent(tabs.get(), &key);
        return tabs->currentIndex();
    };
    // Nothing opened yet: no tab comes forward, whichever way.
    ASSERT_EQ(tabs->currentIndex(), int(TabNormal));
    EXPECT_EQ(click(TabEdit), int(TabNormal));
    EXPECT_EQ(ctrlTab(), int(TabNormal));

    for (const QString& id : {QStringLiteral("0"), QStringLiteral("-1")}) {
        SCOPED_TRACE(id.toStdString());
        pane->openNode(id, {});
        tabs->setCurrentIndex(TabFileList); // the program's own switch goes through
        ASSERT_EQ(tabs->currentIndex(), int(TabFileList));
        EXPECT_EQ(click(TabNormal), int(TabNormal)) << "the list may be left";
        EXPECT_EQ(click(TabEdit), int(TabNormal)) << "any other tab may not";
        EXPECT_EQ(click(TabSource), int(TabNormal));
        EXPECT_EQ(ctrlTab(), int(TabNormal));
    }
    // A document: every change goes, and the views follow.
    open(notes);
    {
        const int before = loads;
        EXPECT_EQ(click(TabEdit), int(TabEdit));
        ASSERT_TRUE(waitFor([&] { return loads > before; }));
    }
    EXPECT_EQ(js(pane->editor(), QStringLiteral("document.designMode")).toString(), QStringLiteral("on"));
    EXPECT_EQ(ctrlTab(), int(TabSource));
    EXPECT_FALSE(pane->source()->toPlainText().isEmpty());
    EXPECT_TRUE(asked.empty());
    EXPECT_TRUE(informed.empty());
}

// The external editor is a real program working on the file; its result comes back into the pane.
TEST_P(EditorUi, TheExternalEditorsChangesComeBackAsTheModifiedDocument) {
    const QString page = QStringLiteral("<html><head><meta http-equiv=\"Content-Type\" content=\"text/html; "
                                        "charset=windows-1252\"></head><body><p>before Café Ω</p></body></html>");
    ASSERT_TRUE(WriteDocumentText(db(), notes, page));
    open(notes);
    QTemporaryDir tools;
    ASSERT_TRUE(tools.isValid());
    auto script = [&](const QString& name, const QByteArray& body) {
        const QString path = tools.filePath(name);
        QFile f(path);
        EXPECT_TRUE(f.open(QIODevice::WriteOnly));
        f.write("#!/bin/sh\n" + body + "\n");
        f.close();
        f.setPermissions(f.permissions() | QFileDevice::ExeOwner);
        return path;
    };
    auto folderGone = [&](const QString& file) {
        return waitFor([&] { return pane->externalFile().isEmpty() && !QFileInfo::exists(QFileInfo(file).path()); });
    };

    // The program rewrites the file (sed replaces it) and exits; the viewer shows the result, unsaved.
    CurrentUser().externalEditor = script(QStringLiteral("edit.sh"), "sed -i 's/before/AFTER/' \"$1\"");
    int before = loads;
    ASSERT_TRUE(pane->externalEdit());
    const QString file = pane->externalFile();
    EXPECT_TRUE(file.startsWith(tempFolder() + notes + u'_')) << file.toStdString();
    EXPECT_TRUE(file.endsWith(u'/' + notes + QStringLiteral(".htm")));
    ASSERT_TRUE(waitFor([&] { return pane->modified() && loads > before; }));
    EXPECT_TRUE(text(viewer).contains(QStringLiteral("AFTER Café Ω")));
    EXPECT_TRUE(stored(notes).contains(QStringLiteral("before Café Ω")));
    EXPECT_TRUE(folderGone(file)) << "the folder goes once its changes are taken";
    toTab(TabSource, false);
    EXPECT_TRUE(pane->source()->toPlainText().contains(QStringLiteral("AFTER Café Ω")));
    ASSERT_TRUE(pane->saveDocument());
    EXPECT_TRUE(stored(notes).contains(QStringLiteral("<p>AFTER Café Ω</p>")));
    EXPECT_TRUE(informed.empty());

    // A program that leaves no file behind: the edit in the pane stays, and the user is told.
    toTab(TabEdit, true);
    typeInEditor(QStringLiteral("KEEP"));
    ASSERT_TRUE(waitFor([&] { return pane->modified(); }));
    CurrentUser().externalEditor = script(QStringLiteral("lose.sh"), "rm -f \"$1\"");
    ASSERT_TRUE(pane->externalEdit());
    ASSERT_TRUE(waitFor([&] { return !informed.empty(); }));
    EXPECT_TRUE(informed.back().startsWith(GetString(41391).left(20)));
    EXPECT_TRUE(pane->modified());
    EXPECT_TRUE(text(pane->editor()).contains(QStringLiteral("KEEP")));

    // A program that does not exist is named in the message; nothing else changes.
    CurrentUser().externalEditor = tools.filePath(QStringLiteral("missing-editor"));
    pane->externalEdit();
    ASSERT_TRUE(waitFor([&] { return informed.size() == 2; }));
    EXPECT_EQ(informed.back(), GetString(41390).replace(QStringLiteral("%s"), CurrentUser().externalEditor));
    EXPECT_TRUE(pane->externalFile().isEmpty());

    // Without a program of its own (the stored default), the desktop's handler gets the file; a
    // change written to it by another process while the document is open comes back into the editor.
    CurrentUser().externalEditor = QStringLiteral("FRONTPG.EXE");
    ASSERT_TRUE(pane->externalEdit());
    const QString handed = pane->externalFile();
    ASSERT_EQ(external.size(), 1u);
    EXPECT_EQ(external.back(), QUrl::fromLocalFile(handed));
    ASSERT_EQ(
        QProcess::execute(QStringLiteral("sed"), {QStringLiteral("-i"), QStringLiteral("s/KEEP/DESKTOP/"), handed}), 0);
    ASSERT_TRUE(waitFor([&] { return pane->source()->toPlainText().contains(QStringLiteral("DESKTOP")); }));
    EXPECT_TRUE(waitFor([&] { return text(pane->editor()).contains(QStringLiteral("DESKTOP")); }));
    EXPECT_FALSE(text(pane->editor()).contains(QStringLiteral("KEEP")));
    EXPECT_EQ(informed.size(), 2u);
    open(other);
    EXPECT_TRUE(folderGone(handed));
    EXPECT_FALSE(stored(notes).contains(QStringLiteral("DESKTOP")));
}

ZEL_INSTANTIATE_DB_TEST(EditorUi);

// The pane inside the main window: the tree opens nodes there, and leaving a modified document asks.
class EditorInFrame : public StoreTest {
protected:
    void SetUp() override {
        StoreTest::SetUp();
        if (IsSkipped() || HasFatalFailure()) return;
        ASSERT_TRUE(home_.isValid());
        setHomeFolder(home_.path());
        ensureHomeFolder();
        ASSERT_TRUE(UpgradeSchema(db()));
        LoadSystemFolders(db());
        LoadUserSettings(db(), QStringLiteral("admin"));
        CurrentUser().markTime = 3600;
        ForgetUnlockedDocuments();
        Ask().inform = [](QWidget*, const QString&) {};
        ResetDocAsk();
        DocAsk().confirm = [this](QWidget*, const QString& text) {
            asked.push_back(text);
            const bool a = !answers.empty() && answers.front();
            if (!answers.empty()) answers.pop_front();
            return a;
        };
    }
    void TearDown() override {
        ResetAsk();
        ResetDocAsk();
        CurrentUser() = TuserReg{};
        StoreTest::TearDown();
    }
    QTemporaryDir home_;
    std::deque<bool> answers;
    std::vector<QString> asked;
};

TEST_P(EditorInFrame, LeavingAModifiedDocumentAsks) {
    const QString a = add(QStringLiteral("0"), QStringLiteral("A"));
    const QString b = add(QStringLiteral("0"), QStringLiteral("B"));
    ASSERT_TRUE(WriteDocumentText(db(), a, QStringLiteral("<html><body><p>page a</p></body></html>")));
    ASSERT_TRUE(WriteDocumentText(db(), b, QStringLiteral("<html><body><p>page b</p></body></html>")));
    TFrmMain frame;
    frame.setConfirmExit(false);
    TTreePanel* tree = AttachKnowledgeTree(frame, false);
    TDocumentPane* pane = AttachDocuments(frame, *tree);
    int loads = 0;
    QObject::connect(pane, &TDocumentPane::documentLoaded, [&](bool) { ++loads; });
    emit frame.sessionOpened(db(), QStringLiteral("KB"));
    QAction* save = frame.command(QStringLiteral("btnSave"));
    ASSERT_NE(save, nullptr);

    auto openInTree = [&](const QString& id) {
        const int before = loads;
        ASSERT_TRUE(tree->tree()->selectNode(id));
        tree->openItem(tree->tree()->currentItem());
        ASSERT_TRUE(waitFor([&] { return loads > before; }));
    };
    auto edit = [&](const QString& t) {
        pane->run(pane->editor()->page(),
                  QStringLiteral("var r=document.createRange(); r.selectNodeContents(document.body); r.collapse(false);"
                                 "getSelection().removeAllRanges(); getSelection().addRange(r);"
                                 "document.execCommand('insertText', false, '%1'); true")
                      .arg(t));
        ASSERT_TRUE(waitFor([&] { return pane->modified(); }));
    };
    openInTree(a);
    EXPECT_TRUE(pane->viewer()->page() == frame.viewBrowser()->page());
    {
        const int before = loads;
        frame.documentTabs()->setCurrentIndex(TabEdit);
        ASSERT_TRUE(waitFor([&] { return loads > before; }));
    }
    EXPECT_FALSE(save->isEnabled());
    edit(QStringLiteral("discard me"));
    EXPECT_TRUE(save->isEnabled());

    // "No" discards the edit and opens the other node.
    answers = {false};
    openInTree(b);
    ASSERT_EQ(asked.size(), 1u);
    EXPECT_EQ(asked[0], GetString(40309));
    EXPECT_EQ(pane->state().nodeId, b);
    EXPECT_FALSE(QString::fromUtf8(ReadDocumentContent(db(), a)).contains(QStringLiteral("discard me")));

    // "Yes" saves it first; "Save" saves without asking.
    {
        const int before = loads;
        frame.documentTabs()->setCurrentIndex(TabEdit);
        ASSERT_TRUE(waitFor([&] { return loads > before; }));
    }
    edit(QStringLiteral("keep me"));
    answers = {true};
    openInTree(a);
    EXPECT_EQ(asked.size(), 2u);
    EXPECT_TRUE(QString::fromUtf8(ReadDocumentContent(db(), b)).contains(QStringLiteral("keep me")));
    {
        const int before = loads;
        frame.documentTabs()->setCurrentIndex(TabEdit);
        ASSERT_TRUE(waitFor([&] { return loads > before; }));
    }
    edit(QStringLiteral("by command"));
    save->trigger();
    EXPECT_FALSE(pane->modified());
    EXPECT_FALSE(save->isEnabled());
    EXPECT_TRUE(QString::fromUtf8(ReadDocumentContent(db(), a)).contains(QStringLiteral("by command")));
    EXPECT_EQ(asked.size(), 2u);
    emit frame.sessionClosing();
}

// The user's default document is opened with the session and shown at once.
TEST_P(EditorInFrame, TheDefaultDocumentShowsWhenTheSessionOpens) {
    const QString a = add(QStringLiteral("0"), QStringLiteral("A"));
    ASSERT_TRUE(WriteDocumentText(db(), a, QStringLiteral("<html><body><p>first page</p></body></html>")));
    CurrentUser().defaultDocument = a;
    TFrmMain frame;
    frame.setConfirmExit(false);
    TTreePanel* tree = AttachKnowledgeTree(frame, false);
    TDocumentPane* pane = AttachDocuments(frame, *tree);
    emit frame.sessionOpened(db(), QStringLiteral("KB"));
    EXPECT_EQ(tree->currentId(), a);
    EXPECT_EQ(pane->state().nodeId, a);
    EXPECT_TRUE(waitFor([&] {
        return pane->run(pane->viewer()->page(), QStringLiteral("document.body ? document.body.innerText : ''"))
            .toString()
            .contains(QStringLiteral("first page"));
    }));
    emit frame.sessionClosing();
}

ZEL_INSTANTIATE_DB_TEST(EditorInFrame);

// zel-cli in processes of its own writes and reads the same file knowledge base while the pane saves.
TEST(EditorWithCli, SavesAndAnotherProcessSeeEachOther) {
    QTemporaryDir home;
    ASSERT_TRUE(home.isValid());
    auto cli = [&](const QStringList& args, bool session = true) {
        QStringList all{QStringLiteral("--home"), home.path()};
        if (session)
            all << QStringLiteral("-k") << QStringLiteral("t") << QStringLiteral("-u") << QStringLiteral("admin")
                << QStringLiteral("-p") << QString();
        auto* p = new QProcess;
        p->start(QStringLiteral(ZEL_CLI_PATH), all + args);
        return std::unique_ptr<QProcess>(p);
    };
    auto finish = [](std::unique_ptr<QProcess> p) {
        EXPECT_TRUE(p->waitForFinished(60000));
        EXPECT_EQ(p->exitCode(), 0) << p->readAllStandardError().toStdString();
        return QString::fromUtf8(p->readAllStandardOutput()).trimmed();
    };
    finish(cli({QStringLiteral("kb"), QStringLiteral("new"), QStringLiteral("t"), QStringLiteral("--folder"),
                home.path() + QStringLiteral("/data"), QStringLiteral("--file"), QStringLiteral("t.skm"),
                QStringLiteral("--admin"), QStringLiteral("admin")},
               false));
    const QString mine =
        finish(cli({QStringLiteral("node"), QStringLiteral("add"), QStringLiteral("0"), QStringLiteral("Mine")}));
    const QString theirs =
        finish(cli({QStringLiteral("node"), QStringLiteral("add"), QStringLiteral("0"), QStringLiteral("Theirs")}));
    ASSERT_FALSE(mine.isEmpty() || theirs.isEmpty());
    const QString page = home.filePath(QStringLiteral("page.html"));
    {
        QFile f(page);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write("<html><body><p>from the other process</p></body></html>");
    }

    Database db;
    ASSERT_TRUE(db.open(BuildConnectionString(0, home.path() + QStringLiteral("/data/"), QStringLiteral("t.skm"),
                                              QString(), QString())));
    QTabWidget tabs;
    auto* viewer = new QWebEngineView(&tabs);
    auto* edit = new QWidget(&tabs);
    auto* source = new QWidget(&tabs);
    tabs.addTab(viewer, QStringLiteral("Normal"));
    tabs.addTab(edit, QStringLiteral("Edit"));
    tabs.addTab(source, QStringLiteral("Source"));
    tabs.addTab(new QWidget(&tabs), QStringLiteral("Filelist"));
    TDocumentPane pane(&tabs, viewer, edit, source);
    pane.setDatabase(&db);
    tabs.show();
    int loads = 0;
    QObject::connect(&pane, &TDocumentPane::documentLoaded, [&](bool) { ++loads; });
    pane.openNode(mine, {}, true);
    ASSERT_TRUE(waitFor([&] { return loads > 0; }));
    pane.run(pane.editor()->page(), QStringLiteral("var r=document.createRange(); r.selectNodeContents(document.body);"
                                                   "r.collapse(false); getSelection().removeAllRanges();"
                                                   "getSelection().addRange(r); document.execCommand('insertText', "
                                                   "false, 'typed in the editor'); true"));
    ASSERT_TRUE(waitFor([&] { return pane.modified(); }));
    // The other process writes its document while this one saves.
    auto writer = cli({QStringLiteral("content"), QStringLiteral("put"), theirs, page});
    EXPECT_TRUE(pane.saveDocument());
    finish(std::move(writer));
    EXPECT_TRUE(finish(cli({QStringLiteral("content"), QStringLiteral("get"), mine}))
                    .contains(QStringLiteral("typed in the editor")));
    EXPECT_TRUE(QString::fromUtf8(ReadDocumentContent(db, theirs)).contains(QStringLiteral("from the other process")));
    // What the other process stored shows when the node opens here.
    pane.openNode(theirs, {});
    ASSERT_TRUE(waitFor([&] { return loads > 1; }));
    EXPECT_TRUE(pane.run(viewer->page(), QStringLiteral("document.body.innerText"))
                    .toString()
                    .contains(QStringLiteral("from the other process")));
}

} // namespace
} // namespace zel::test

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    if (geteuid() == 0) qputenv("QTWEBENGINE_DISABLE_SANDBOX", "1");
    zel::RegisterLinkScheme();
    QCoreApplication::setAttribute(Qt::AA_ShareOpenGLContexts);
    QApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    zel::setPasswordHashIterations(1000);
    return RUN_ALL_TESTS();
}
