// The editing commands in the main window with the real Qt WebEngine offscreen, on both databases.
#include <QAction>
#include <QApplication>
#include <QComboBox>
#include <QElapsedTimer>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QSpinBox>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QTreeWidget>
#include <QWebEnginePage>
#include <QWebEngineView>
#include <deque>
#include <unistd.h>

#include "StoreFixture.h"
#include "editor/ui/DocumentBinding.h"
#include "editor/ui/TDocumentPane.h"
#include "editor/ui/TEditCommands.h"
#include "editor/ui/TFrmBookmark.h"
#include "editor/ui/TFrmImageProperty.h"
#include "editor/ui/TZelNSHandler.h"
#include "platform/Paths.h"
#include "shell/Strings.h"
#include "shell/ui/TBookmarkPage.h"
#include "shell/ui/TFrmMain.h"
#include "store/Content.h"
#include "store/DocumentUnlocks.h"
#include "store/KnowledgeBase.h"
#include "store/PasswordHash.h"
#include "store/Schema.h"
#include "store/Users.h"
#include "tree/ui/TTreePanel.h"
#include "tree/ui/TreeAsk.h"
#include "tree/ui/TreeBinding.h"
#include "tree/ui/TvMain.h"

namespace zel::test {
namespace {

bool waitFor(const std::function<bool()>& done, int ms = 20000) {
    QElapsedTimer t;
    t.start();
    while (!done() && t.elapsed() < ms)
        QApplication::processEvents(QEventLoop::AllEvents, 20);
    return done();
}

class EditCommands : public StoreTest {
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
        Ask().inform = [this](QWidget*, const QString& text) { informed.push_back(text); };
        ResetDocAsk();
        DocAsk().confirm = [](QWidget*, const QString&) { return false; };
        DocAsk().inform = [this](QWidget*, const QString& text) { informed.push_back(text); };
        DocAsk().openExternal = [this](const QUrl& u) { external.push_back(u); };
        DocAsk().exec = [this](QDialog* d) {
            ++dialogs;
            return onDialog ? onDialog(d) : false;
        };
        frame = std::make_unique<TFrmMain>();
        frame->setConfirmExit(false);
        tree = AttachKnowledgeTree(*frame, false);
        pane = AttachDocuments(*frame, *tree);
        commands = AttachEditCommands(*frame, pane, tree);
        QObject::connect(commands, &TEditCommands::statesApplied, [this] { ++reports; });
        QObject::connect(pane, &TDocumentPane::documentLoaded, [this](bool) { ++loads; });
        emit frame->sessionOpened(db(), QStringLiteral("KB"));
        frame->resize(1000, 700);
    }
    void TearDown() override {
        if (frame) emit frame->sessionClosing();
        frame.reset();
        ResetAsk();
        ResetDocAsk();
        CurrentUser() = TuserReg{};
        StoreTest::TearDown();
    }
    QAction* command(const char* name) { return frame->command(QString::fromLatin1(name)); }
    QWebEnginePage* editorPage() { return pane->editor()->page(); }
    QVariant js(QWebEnginePage* page, const QString& script) { return pane->run(page, script); }
    QString body(QWebEnginePage* page) { return js(page, QStringLiteral("document.body.innerHTML")).toString(); }

    // A node with that body, opened in the tree and shown in the tab.
    QString openDocument(const QString& html, int tab, const QString& caption = QStringLiteral("Doc")) {
        const QString id = add(QStringLiteral("0"), caption);
        EXPECT_TRUE(
            WriteDocumentText(db(), id, QStringLiteral("<html><body>") + html + QStringLiteral("</body></html>")));
        int before = loads;
        tree->openSession(&db(), QStringLiteral("KB")); // the tree reads the new node
        EXPECT_TRUE(tree->tree()->selectNode(id));
        tree->openItem(tree->tree()->currentItem());
        EXPECT_TRUE(waitFor([&] { return loads > before; }));
        // On a busy machine the frame's start page may still be on its way out: wait for the document.
        EXPECT_TRUE(waitFor([&] {
            return js(pane->viewer()->page(),
                      QStringLiteral("document.readyState == 'complete' && document.body != null"))
                .toBool();
        }));
        if (tab != TabNormal) {
            before = loads;
            frame->documentTabs()->setCurrentIndex(tab);
            EXPECT_TRUE(waitFor([&] { return loads > before; }));
        }
        return id;
    }
    // Selects the text from the start of the first match of `from` to the end of the first match of `to`.
    void select(const QString& from, const QString& to) {
        const int before = reports;
        js(editorPage(), QStringLiteral("(function(){var w=document.createTreeWalker(document.body,4);var s,e,n;"
                                        "while((n=w.nextNode())){if(!s&&n.data.indexOf(%1)>=0)s=[n,n.data.indexOf(%1)];"
                                        "if(n.data.indexOf(%2)>=0){e=[n,n.data.indexOf(%2)+%2.length];}}"
                                        "var r=document.createRange();r.setStart(s[0],s[1]);r.setEnd(e[0],e[1]);"
                                        "getSelection().removeAllRanges();getSelection().addRange(r);return true;})()")
                             .arg(QStringLiteral("'") + from + u'\'', QStringLiteral("'") + to + u'\''));
        // The buttons follow the new selection before the next command.
        EXPECT_TRUE(waitFor([&] { return reports > before; }));
    }
    void caretAtEnd() {
        js(editorPage(),
           QStringLiteral("var r=document.createRange(); r.selectNodeContents(document.body); "
                          "r.collapse(false); getSelection().removeAllRanges(); getSelection().addRange(r); true"));
    }

    QTemporaryDir home_;
    std::unique_ptr<TFrmMain> frame;
    TTreePanel* tree = nullptr;
    TDocumentPane* pane = nullptr;
    TEditCommands* commands = nullptr;
    int loads = 0;
    int dialogs = 0;
    int reports = 0;
    std::function<bool(QDialog*)> onDialog;
    std::vector<QString> informed;
    std::vector<QUrl> external;
};

// Commands on a document that is not being edited do nothing; Copy never marks the document modified,
// Undo does.
TEST_P(EditCommands, DesignModeAndModifiedRules) {
    openDocument(QStringLiteral("<p>plain text</p>"), TabNormal);
    // The load counted may be an earlier one of the session; the page is read once it shows the text.
    QString before;
    ASSERT_TRUE(waitFor([&] {
        before = body(pane->viewer()->page());
        return before.contains(QStringLiteral("plain text"));
    }));
    js(pane->viewer()->page(), QStringLiteral("getSelection().selectAllChildren(document.body); true"));
    command("btnBold")->trigger();
    EXPECT_EQ(body(pane->viewer()->page()), before);
    EXPECT_FALSE(pane->modified());

    frame->documentTabs()->setCurrentIndex(TabEdit);
    ASSERT_TRUE(
        waitFor([&] { return js(editorPage(), QStringLiteral("document.designMode")) == QStringLiteral("on"); }));
    select(QStringLiteral("plain"), QStringLiteral("plain"));
    command("btnCopy")->trigger();
    command("btnSelectAll")->trigger();
    QApplication::processEvents();
    EXPECT_FALSE(pane->modified());
    select(QStringLiteral("plain"), QStringLiteral("plain"));
    command("btnBold")->trigger();
    EXPECT_TRUE(body(editorPage()).contains(QStringLiteral("<b>plain</b>"))) << body(editorPage()).toStdString();
    pane->markModified(false);
    command("btnUndo")->trigger();
    EXPECT_TRUE(pane->modified());
    EXPECT_TRUE(waitFor([&] { return !body(editorPage()).contains(QStringLiteral("<b>")); }));
}

// "DateTime", "Line", letter spacing and anchors paste exactly these forms.
TEST_P(EditCommands, InsertionsProduceTheExactHtml) {
    openDocument(QStringLiteral("<p>one two</p>"), TabEdit);
    caretAtEnd();
    command("btnLine")->trigger();
    EXPECT_TRUE(body(editorPage()).endsWith(QStringLiteral("<hr>"))) << body(editorPage()).toStdString();
    command("btnDateAndTime")->trigger();
    const QRegularExpression dateTime(QStringLiteral(
        "<hr><p><i><font size=\"4\"><b><font color=\"#000080\">&lt;\\d{4}-\\d\\d-\\d\\d \\d\\d:\\d\\d:\\d\\d&gt;"
        "</font></b></font></i></p>$"));
    EXPECT_TRUE(dateTime.match(body(editorPage())).hasMatch()) << body(editorPage()).toStdString();
    EXPECT_TRUE(pane->modified());

    auto space = frame->findChild<QAction*>(QStringLiteral("btnGrowFontSpace"));
    ASSERT_NE(space, nullptr);
    select(QStringLiteral("one"), QStringLiteral("one"));
    space->trigger();
    EXPECT_TRUE(
        body(editorPage()).startsWith(QStringLiteral("<p><span style=\"letter-spacing : 1px \">one</span> two")))
        << body(editorPage()).toStdString();
    select(QStringLiteral("one"), QStringLiteral("one"));
    space->trigger();
    EXPECT_TRUE(
        body(editorPage()).startsWith(QStringLiteral("<p><span style=\"letter-spacing : 2px \">one</span> two")))
        << body(editorPage()).toStdString();

    // A link whose address carries a quote and markup stays inside its attribute.
    select(QStringLiteral("two"), QStringLiteral("two"));
    onDialog = [](QDialog* d) {
        auto* f = qobject_cast<TFrmBookmark*>(d);
        if (!f || !f->linkMode()) return false;
        f->addressEdit()->setText(QStringLiteral("Http://x/?a=\"><b>y"));
        return true;
    };
    command("btnInsertAnchor")->trigger();
    EXPECT_EQ(dialogs, 1);
    EXPECT_TRUE(body(editorPage()).contains(QStringLiteral("<a href=\"Http://x/?a=&quot;><b>y\">two</a>")))
        << body(editorPage()).toStdString();
    const int anchors = js(editorPage(), QStringLiteral("document.querySelectorAll('a').length")).toInt();
    EXPECT_EQ(anchors, 1);
    EXPECT_EQ(js(editorPage(), QStringLiteral("document.querySelectorAll('a b').length")).toInt(), 0);

    // "&Delete" unwraps the anchor.
    select(QStringLiteral("two"), QStringLiteral("two"));
    onDialog = [](QDialog* d) {
        auto* f = qobject_cast<TFrmBookmark*>(d);
        if (!f || !f->deleteButton()->isEnabled()) return false;
        f->deleteButton()->click();
        return true;
    };
    command("btnInsertAnchor")->trigger();
    EXPECT_EQ(js(editorPage(), QStringLiteral("document.querySelectorAll('a').length")).toInt(), 0)
        << body(editorPage()).toStdString();
    EXPECT_TRUE(body(editorPage()).contains(QStringLiteral("two")));
}

// Bookmarks: a selection over two paragraphs refuses links, a duplicate name keeps the dialog open.
TEST_P(EditCommands, BookmarkAndLinkChecks) {
    openDocument(QStringLiteral("<p>first <a name=\"taken\">mark</a></p><p>second</p>"), TabEdit);
    select(QStringLiteral("first"), QStringLiteral("second"));
    command("btnInsertAnchor")->trigger();
    EXPECT_EQ(dialogs, 0);
    ASSERT_EQ(informed.size(), 1u);
    EXPECT_EQ(informed[0], GetString(40414));

    select(QStringLiteral("second"), QStringLiteral("second"));
    bool stayedOpen = false;
    onDialog = [&](QDialog* d) {
        auto* f = qobject_cast<TFrmBookmark*>(d);
        if (!f || f->linkMode()) return false;
        EXPECT_EQ(f->nameEdit()->text(), QStringLiteral("second"));
        EXPECT_FALSE(f->deleteButton()->isEnabled());
        EXPECT_EQ(f->anchorList()->count(), 1);
        f->nameEdit()->setText(QStringLiteral("taken"));
        f->okButton()->click();
        stayedOpen = f->result() != QDialog::Accepted && informed.size() == 2 && informed[1] == GetString(40412);
        f->nameEdit()->setText(QStringLiteral("new\"one"));
        f->okButton()->click();
        return f->result() == QDialog::Accepted;
    };
    command("btnBookMark")->trigger();
    EXPECT_TRUE(stayedOpen);
    EXPECT_TRUE(body(editorPage())
                    .contains(QStringLiteral(
                        "<p><a name=\"new&quot;one\" style=\"text-decoration: underline; font-weight: bold; color: "
                        "#800080\">second</a></p>")))
        << body(editorPage()).toStdString();
    EXPECT_TRUE(pane->modified());
}

// "Grow Font 1pt" stops at size 7; the size box and the buttons follow the caret.
TEST_P(EditCommands, FontSizesAndStatesFollowTheCaret) {
    openDocument(QStringLiteral("<p><font size=\"7\">big</font> <b>bold</b> <font size=\"3\">mid</font></p>"), TabEdit);
    int applied = 0;
    QObject::connect(commands, &TEditCommands::statesApplied, [&] { ++applied; });
    select(QStringLiteral("big"), QStringLiteral("big"));
    ASSERT_TRUE(waitFor([&] { return applied > 0 && commands->sizeBox()->currentIndex() == 6; }));
    EXPECT_FALSE(command("btnGrowFont1Pt")->isEnabled());
    const QString before = body(editorPage());
    commands->growFont(1);
    EXPECT_EQ(body(editorPage()), before);

    select(QStringLiteral("mid"), QStringLiteral("mid"));
    ASSERT_TRUE(waitFor([&] { return commands->sizeBox()->currentIndex() == 2; }));
    EXPECT_TRUE(command("btnGrowFont1Pt")->isEnabled());
    command("btnGrowFont1Pt")->trigger();
    EXPECT_TRUE(waitFor([&] { return commands->sizeBox()->currentIndex() == 3; })) << body(editorPage()).toStdString();

    select(QStringLiteral("bold"), QStringLiteral("bold"));
    EXPECT_TRUE(waitFor([&] { return command("btnBold")->isChecked(); }));
    select(QStringLiteral("mid"), QStringLiteral("mid"));
    EXPECT_TRUE(waitFor([&] { return !command("btnBold")->isChecked(); }));
}

// The picture dialog: a new picture at the caret in the exact form, an existing one read and changed in
// place (and marked as not yet stored); a source with a quote stays inside its attribute.
TEST_P(EditCommands, PictureProperty) {
    openDocument(QStringLiteral("<p>text</p><p><img src=\"link://x/a%20b.png\" alt=\"old\" align=\"left\" "
                                "border=\"2\" hspace=\"3\"></p>"),
                 TabEdit);
    select(QStringLiteral("text"), QStringLiteral("text"));
    onDialog = [](QDialog* d) {
        auto* f = qobject_cast<TFrmImageProperty*>(d);
        if (!f) return false;
        EXPECT_TRUE(f->sourceEdit()->text().isEmpty());
        EXPECT_EQ(f->alignBox()->currentIndex(), 0);
        f->sourceEdit()->setText(QStringLiteral("new\"pic.png"));
        f->altEdit()->setText(QStringLiteral("a b"));
        f->alignBox()->setCurrentIndex(5);
        f->vspaceBox()->setValue(4);
        return true;
    };
    command("btnPicture")->trigger();
    EXPECT_EQ(js(editorPage(), QStringLiteral("document.images[0].outerHTML")).toString(),
              QStringLiteral("<img src=\"new&quot;pic.png\" alt=\"a b\" align=\"middle\" border=\"0\" vspace=\"4\">"));
    EXPECT_TRUE(pane->modified());

    // The existing picture as a control selection.
    js(editorPage(), QStringLiteral("var i=document.images[1];var r=document.createRange();r.selectNode(i);"
                                    "getSelection().removeAllRanges();getSelection().addRange(r);true"));
    onDialog = [](QDialog* d) {
        auto* f = qobject_cast<TFrmImageProperty*>(d);
        if (!f) return false;
        EXPECT_EQ(f->sourceEdit()->text(), QStringLiteral("link://x/a b.png"));
        EXPECT_EQ(f->altEdit()->text(), QStringLiteral("old"));
        EXPECT_EQ(f->alignBox()->currentIndex(), 1);
        EXPECT_EQ(f->borderBox()->value(), 2);
        EXPECT_EQ(f->hspaceBox()->value(), 3);
        f->alignBox()->setCurrentIndex(0);
        f->altEdit()->setText(QStringLiteral(" new alt "));
        return true;
    };
    command("btnImageProperty")->trigger();
    const QVariantMap img =
        js(editorPage(), QStringLiteral("(function(){var i=document.images[1];return {alt:i.getAttribute('alt'),"
                                        "align:i.hasAttribute('align'),save:i.getAttribute('save'),"
                                        "border:i.getAttribute('border')};})()"))
            .toMap();
    EXPECT_EQ(img.value(QStringLiteral("alt")).toString(), QStringLiteral("new alt"));
    EXPECT_FALSE(img.value(QStringLiteral("align")).toBool());
    EXPECT_EQ(img.value(QStringLiteral("save")).toString(), QStringLiteral("false"));
    EXPECT_EQ(img.value(QStringLiteral("border")).toString(), QStringLiteral("2"));
}

// Zoom "Most" and "least" reach the ends of the engine's range, on the viewer and the editor.
TEST_P(EditCommands, ZoomEnds) {
    openDocument(QStringLiteral("<p>z</p>"), TabNormal);
    command("btnMost")->trigger();
    EXPECT_DOUBLE_EQ(pane->viewer()->zoomFactor(), 5.0);
    EXPECT_DOUBLE_EQ(pane->editor()->zoomFactor(), 5.0);
    command("btnleast")->trigger();
    EXPECT_DOUBLE_EQ(pane->viewer()->zoomFactor(), 0.25);
    EXPECT_DOUBLE_EQ(pane->editor()->zoomFactor(), 0.25);
    command("btnmiddling")->trigger();
    EXPECT_DOUBLE_EQ(pane->viewer()->zoomFactor(), 1.0);
}

// "Set to caption": a sibling with that caption refuses; otherwise the node is renamed.
TEST_P(EditCommands, SetToCaption) {
    add(QStringLiteral("0"), QStringLiteral("Taken"));
    const QString id = openDocument(QStringLiteral("<p>Taken</p><p>Fresh\nname</p>"), TabEdit, QStringLiteral("Doc"));
    select(QStringLiteral("Taken"), QStringLiteral("Taken"));
    command("btnSetCaption")->trigger();
    ASSERT_FALSE(informed.empty());
    EXPECT_EQ(informed.back(), GetString(40315));
    EXPECT_EQ(tree->tree()->findItem(id)->text(0), QStringLiteral("Doc"));
    EXPECT_EQ(GetChildName(db(), id), QStringLiteral("/Doc/"));
    select(QStringLiteral("Fresh"), QStringLiteral("name"));
    command("btnSetCaption")->trigger();
    EXPECT_EQ(tree->tree()->findItem(id)->text(0), QStringLiteral("Fresh name"));
    EXPECT_EQ(GetChildName(db(), id), QStringLiteral("/Fresh name/"));
}

// The bookmark page adds, shows and removes bookmarks through the store; Show opens through the tree.
TEST_P(EditCommands, BookmarkPage) {
    TBookmarkPage* page = frame->bookmarks();
    page->setDatabase(&db());
    const QString a = openDocument(QStringLiteral("<p>a</p>"), TabNormal, QStringLiteral("Alpha"));
    page->btnAddBookMarkClick();
    ASSERT_EQ(page->list()->topLevelItemCount(), 1);
    QTreeWidgetItem* item = page->list()->topLevelItem(0);
    EXPECT_EQ(item->text(0), QStringLiteral("Alpha"));
    ASSERT_EQ(FillBookmarkList(db()).size(), 1);
    EXPECT_EQ(FillBookmarkList(db()).first().nodeId, a.toLongLong());

    openDocument(QStringLiteral("<p>b</p>"), TabNormal, QStringLiteral("Beta"));
    const int before = loads;
    page->list()->setCurrentItem(item);
    page->btnshowBookMarkClick();
    ASSERT_TRUE(waitFor([&] { return loads > before; }));
    EXPECT_EQ(pane->state().nodeId, a);
    EXPECT_EQ(tree->currentId(), a);

    page->list()->setCurrentItem(item);
    page->btnRemoveBookMarkClick();
    EXPECT_EQ(page->list()->topLevelItemCount(), 0);
    EXPECT_TRUE(FillBookmarkList(db()).isEmpty());
}

ZEL_INSTANTIATE_DB_TEST(EditCommands);

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
