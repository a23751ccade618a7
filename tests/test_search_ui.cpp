// The search panel and the result tab inside the main window, offscreen with the real WebEngine, on both
// databases: criteria controls, the edge cases of the text and the ranges, progress, stop, paging,
// opening a result, the history file, and the index builder across logout.
#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QElapsedTimer>
#include <QFile>
#include <QFocusEvent>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QToolButton>
#include <QTreeWidget>
#include <QWebEnginePage>
#include <QWebEngineView>
#include <deque>
#include <unistd.h>

#include "StoreFixture.h"
#include "editor/DocumentState.h"
#include "editor/ui/DocumentBinding.h"
#include "editor/ui/TDocumentPane.h"
#include "editor/ui/TZelNSHandler.h"
#include "platform/Paths.h"
#include "search/SearchIndex.h"
#include "search/SearchText.h"
#include "search/TSearchSession.h"
#include "search/ui/TSearchPanel.h"
#include "shell/Strings.h"
#include "shell/ui/TFrmMain.h"
#include "store/Content.h"
#include "store/DocumentUnlocks.h"
#include "store/PasswordHash.h"
#include "store/Schema.h"
#include "store/Users.h"
#include "support/SearchSupport.h"
#include "tree/ui/TTreePanel.h"
#include "tree/ui/TfrmSelectNode.h"
#include "tree/ui/TreeAsk.h"
#include "tree/ui/TreeBinding.h"
#include "tree/ui/TvMain.h"

namespace zel::test {
namespace {

bool waitFor(const std::function<bool()>& done, int ms = 30000) {
    QElapsedTimer t;
    t.start();
    while (!done() && t.elapsed() < ms)
        QApplication::processEvents(QEventLoop::AllEvents, 20);
    return done();
}

QString plainText(QWebEnginePage* page) {
    QString text;
    bool got = false;
    page->toPlainText([&](const QString& t) {
        text = t;
        got = true;
    });
    waitFor([&] { return got; });
    return text;
}

class SearchUi : public StoreTest {
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
        Ask().exec = [this](QDialog* d) { return onDialog ? onDialog(d) : false; };
    }
    void TearDown() override {
        closeFrame();
        ResetAsk();
        CurrentUser() = TuserReg{};
        StoreTest::TearDown();
    }

    // The window with the tree, the document pane and the search panel, on an open session.
    void openFrame(int indexProgressMs = 500) {
        frame = std::make_unique<TFrmMain>();
        frame->setConfirmExit(false);
        tree = AttachKnowledgeTree(*frame, false);
        pane = AttachDocuments(*frame, *tree);
        panel = AttachSearch(*frame, *tree, pane);
        panel->setIndexProgressInterval(indexProgressMs);
        QObject::connect(pane, &TDocumentPane::documentLoaded, [this](bool) { ++loads; });
        emit frame->sessionOpened(db(), QStringLiteral("KB"));
        // What the window's own session opening enables.
        frame->indexTabs()->setEnabled(true);
        frame->documentTabs()->setEnabled(true);
    }
    void closeFrame() {
        if (!frame) return;
        emit frame->sessionClosing();
        frame.reset();
        panel = nullptr;
    }

    // Types the text and presses Search; waits for the end of the search.
    void search(const QString& text) {
        panel->edtSearch->setEditText(text);
        panel->btnSearch->click();
        ASSERT_TRUE(waitFor([&] { return !panel->searching(); }));
    }
    QList<qint64> resultIds() const {
        QList<qint64> ids;
        for (int i = 0; i < panel->TvSearch->topLevelItemCount(); ++i)
            ids << panel->TvSearch->topLevelItem(i)->text(2).toLongLong();
        return ids;
    }
    // Rows a search without words finds in the whole tree.
    QList<qint64> liveIds() {
        TSearchCriteria c;
        c.text = QStringLiteral("+");
        c.method = TSearchCriteria::Method::Scan;
        return RunSearch(db().connectionString(), c).ids();
    }
    // The result view comes to show the text once the last page written has loaded (the panel writes
    // pages faster than they load).
    bool showsText(const QString& text) {
        QWebEnginePage* page = panel->SearchEdit->page();
        return waitFor([&] { return !page->isLoading() && plainText(page).contains(text); }, 10000);
    }
    void chooseSubtree(qint64 id) {
        onDialog = [id](QDialog* d) {
            auto* chooser = qobject_cast<TfrmSelectNode*>(d);
            if (!chooser) return false;
            QTreeWidgetItem* item = chooser->findItem(QString::number(id));
            if (!item) return false;
            chooser->tvSelect->setCurrentItem(item);
            return true;
        };
        panel->chkSearchNode->setChecked(true);
        panel->btnSearchNode->click();
        onDialog = nullptr;
    }
    void setColumn(qint64 id, const char* column, const QVariant& v) {
        ASSERT_TRUE(db().exec(QStringLiteral("update info set %1=:v where id=:id").arg(QString::fromLatin1(column)),
                              {{QStringLiteral(":v"), v}, {QStringLiteral(":id"), id}}));
    }

    QTemporaryDir home_;
    std::unique_ptr<TFrmMain> frame;
    TTreePanel* tree = nullptr;
    TDocumentPane* pane = nullptr;
    TSearchPanel* panel = nullptr;
    int loads = 0;
    std::vector<QString> informed;
    std::function<bool(QDialog*)> onDialog;
};

TEST_P(SearchUi, ControlsStartWithTheirDefaultsAndEnableEachOther) {
    openFrame();
    TSearchPanel& p = *panel;
    EXPECT_TRUE(frame->searchPage()->isAncestorOf(p.edtSearch));
    EXPECT_TRUE(frame->searchResultPage()->isAncestorOf(p.SearchEdit));
    EXPECT_TRUE(p.edtSearch->isEditable());
    EXPECT_FALSE(p.chkContent->isChecked());
    EXPECT_TRUE(p.chkFullName->isChecked());
    EXPECT_TRUE(p.chkKavrel->isChecked());
    EXPECT_FALSE(p.chkKavrel->isEnabled());
    EXPECT_FALSE(p.chkInternet->isChecked());
    EXPECT_FALSE(p.chkInternet->isEnabled());
    EXPECT_FALSE(p.chkSearchNode->isChecked());
    EXPECT_TRUE(p.edtSearchNode->isReadOnly());
    EXPECT_EQ(p.edtSearchNode->text(), QStringLiteral("/"));
    EXPECT_FALSE(p.btnStop->isEnabled());
    EXPECT_TRUE(p.SearchBar->isHidden());
    EXPECT_EQ(p.TvSearch->columnCount(), 3);
    EXPECT_EQ(p.TvSearch->headerItem()->text(0), GetString(41192));
    EXPECT_EQ(p.TvSearch->headerItem()->text(2), GetString(40242));
    EXPECT_EQ(p.TvSearch->columnWidth(1), 250);
    EXPECT_EQ(p.lblSearchPage->text(), PageLabelText(-1, 0));
    const QString today = QDate::currentDate().toString(QStringLiteral("yyyy/MM/dd"));
    // Each check box enables exactly its own controls.
    const std::pair<QCheckBox*, std::vector<QWidget*>> checks[] = {
        {p.chkSearchNode, {p.btnSearchNode}},
        {p.chkCreateDate, {p.edtBeginCreateDate, p.edtEndCreateDate}},
        {p.chkLastDate, {p.edtBeginLastDate, p.edtEndLastDate}},
    };
    for (const auto& [check, controls] : checks) {
        EXPECT_FALSE(check->isChecked()) << check->objectName().toStdString();
        for (QWidget* w : controls) {
            EXPECT_FALSE(w->isEnabled()) << w->objectName().toStdString();
            if (auto* e = qobject_cast<QLineEdit*>(w)) {
                EXPECT_EQ(e->text(), today);
            }
        }
        check->setChecked(true);
        for (QWidget* w : controls)
            EXPECT_TRUE(w->isEnabled()) << w->objectName().toStdString();
        check->setChecked(false);
        for (QWidget* w : controls)
            EXPECT_FALSE(w->isEnabled()) << w->objectName().toStdString();
    }
    // The roll-up panels roll up and down from their caption.
    for (TRollUpPanel* r : {p.pnlRange, p.pnlCondition}) {
        EXPECT_FALSE(r->isRolledUp());
        r->header()->click();
        EXPECT_TRUE(r->isRolledUp());
        r->header()->click();
        EXPECT_FALSE(r->isRolledUp());
    }
    // Every control is named for screen readers.
    for (QWidget* w : {static_cast<QWidget*>(p.edtSearch), static_cast<QWidget*>(p.btnSearch),
                       static_cast<QWidget*>(p.chkContent), static_cast<QWidget*>(p.edtSearchNode),
                       static_cast<QWidget*>(p.btnSearchNode), static_cast<QWidget*>(p.edtOwner),
                       static_cast<QWidget*>(p.edtBeginCreateDate), static_cast<QWidget*>(p.TvSearch),
                       static_cast<QWidget*>(p.btnNextSearch), static_cast<QWidget*>(p.SearchEdit)})
        EXPECT_FALSE(w->accessibleName().isEmpty()) << w->objectName().toStdString();
}

TEST_P(SearchUi, TextEdgeCasesAndTheSubtree) {
    const qint64 folder = AddNode(db(), 0, QStringLiteral("Folder"), {});
    const qint64 apple = AddNode(db(), folder, QStringLiteral("apple pie"), {});
    const qint64 pear = AddNode(db(), folder, QStringLiteral("pear tart"), {});
    const qint64 plum = AddNode(db(), 0, QStringLiteral("plum apple"), {});
    openFrame();
    const QList<qint64> all = liveIds();
    ASSERT_TRUE(all.contains(apple) && all.contains(plum));
    QList<qint64> withoutApple = all;
    withoutApple.removeAll(apple);
    withoutApple.removeAll(plum);

    search(QStringLiteral("apple"));
    EXPECT_EQ(resultIds(), (QList<qint64>{apple, plum}));
    EXPECT_EQ(panel->pages().count(), 1);
    EXPECT_EQ(frame->documentTabs()->currentIndex(), int(TabSearch));
    EXPECT_TRUE(showsText(QStringLiteral("1: apple pie")));
    EXPECT_EQ(frame->statusPanel(0)->text(), GetString(40302));

    // A blank text starts nothing but still clears the pages and the page label.
    const QStringList historyBefore = panel->history();
    search(QStringLiteral("   "));
    EXPECT_EQ(panel->pages().count(), 0);
    EXPECT_EQ(panel->lblSearchPage->text(), PageLabelText(-1, 0));
    EXPECT_EQ(resultIds(), (QList<qint64>{apple, plum})); // the list of the last search stays
    EXPECT_EQ(panel->history(), historyBefore);

    const std::pair<const char*, QList<qint64>> cases[] = {
        {"+", all},               // separators only: no words, every live node
        {" & - + ", all},         //
        {"-apple", withoutApple}, // an exclude word alone
        {"apple -pie", {plum}},   //
        {"apple+tart", {}},       // both words must occur
        {"APPLE", {apple, plum}}, // case is folded
        {"zzz-no-such", {}},      // nothing found: the no-results page
    };
    for (const auto& [text, ids] : cases) {
        search(QString::fromUtf8(text));
        EXPECT_EQ(resultIds(), ids) << text;
        if (ids.isEmpty()) {
            EXPECT_TRUE(showsText(GetString(41038))) << text;
        }
    }
    // Match case.
    panel->chkCase->setChecked(true);
    search(QStringLiteral("APPLE"));
    EXPECT_TRUE(resultIds().isEmpty());
    panel->chkCase->setChecked(false);

    // The root as subtree: every live node; a chosen node: only what lies below it.
    panel->chkSearchNode->setChecked(true);
    search(QStringLiteral("+"));
    EXPECT_EQ(resultIds(), all);
    chooseSubtree(folder);
    EXPECT_EQ(panel->subtreeRoot(), QString::number(folder));
    EXPECT_EQ(panel->edtSearchNode->text(), QStringLiteral("/Folder/"));
    search(QStringLiteral("+"));
    EXPECT_EQ(resultIds(), (QList<qint64>{apple, pear}));
    search(QStringLiteral("apple"));
    EXPECT_EQ(resultIds(), (QList<qint64>{apple}));
    panel->chkSearchNode->setChecked(false);
    search(QStringLiteral("apple"));
    EXPECT_EQ(resultIds(), (QList<qint64>{apple, plum}));
}

TEST_P(SearchUi, DateRangesAndTheirEdits) {
    const qint64 a = AddNode(db(), 0, QStringLiteral("d a"), {});
    const qint64 b = AddNode(db(), 0, QStringLiteral("d b"), {});
    const qint64 c = AddNode(db(), 0, QStringLiteral("d c"), {});
    const qint64 d = AddNode(db(), 0, QStringLiteral("d d"), {});
    const QDate d1(2024, 3, 10), d2(2024, 3, 12);
    setColumn(a, "createdate", QDateTime(d1.addDays(-1), QTime(23, 59, 59)));
    setColumn(b, "createdate", QDateTime(d1, QTime(0, 0, 1)));
    setColumn(c, "createdate", QDateTime(d2, QTime(23, 59, 59)));
    setColumn(d, "createdate", QDateTime(d2.addDays(1), QTime(0, 0)));
    openFrame();
    panel->chkCreateDate->setChecked(true);
    panel->edtBeginCreateDate->setText(QStringLiteral("2024/03/10"));
    panel->edtEndCreateDate->setText(QStringLiteral("2024/03/12"));
    search(QStringLiteral("d"));
    EXPECT_EQ(resultIds(), (QList<qint64>{b, c}));
    // One day: only what was created on it.
    panel->edtEndCreateDate->setText(QStringLiteral("2024/03/10"));
    search(QStringLiteral("d"));
    EXPECT_EQ(resultIds(), (QList<qint64>{b}));
    panel->chkCreateDate->setChecked(false);
    // Modified today: all four (they were just written).
    panel->chkLastDate->setChecked(true);
    search(QStringLiteral("d"));
    EXPECT_EQ(resultIds(), (QList<qint64>{a, b, c, d}));

    // An edit left with a text that is no date: the message, today's date, and the focus back.
    const QString today = QDate::currentDate().toString(QStringLiteral("yyyy/MM/dd"));
    const char* bad[] = {"2024/13/01", "2023/02/29", "    /  /  ", "2024/1 /5 "};
    for (const char* text : bad) {
        informed.clear();
        panel->edtBeginLastDate->setText(QString::fromLatin1(text));
        QFocusEvent out(QEvent::FocusOut);
        QApplication::sendEvent(panel->edtBeginLastDate, &out);
        ASSERT_EQ(informed.size(), 1u) << text;
        EXPECT_EQ(informed[0], GetString(40324));
        EXPECT_EQ(panel->edtBeginLastDate->text(), today) << text;
        EXPECT_EQ(frame->focusWidget(), panel->edtBeginLastDate) << text;
    }
    // A valid date says nothing.
    informed.clear();
    panel->edtEndLastDate->setText(QStringLiteral("2024/02/29"));
    QFocusEvent out(QEvent::FocusOut);
    QApplication::sendEvent(panel->edtEndLastDate, &out);
    EXPECT_TRUE(informed.empty());
    EXPECT_EQ(TSearchPanel::dateOf(panel->edtEndLastDate), QDate(2024, 2, 29));
}

TEST_P(SearchUi, ProgressBarOnlyAboveOneHundredRows) {
    const qint64 hundred = AddNode(db(), 0, QStringLiteral("Hundred"), {});
    const qint64 more = AddNode(db(), 0, QStringLiteral("More"), {});
    for (int i = 0; i < 100; ++i) {
        AddNode(db(), hundred, QStringLiteral("h%1").arg(i), {});
        AddNode(db(), more, QStringLiteral("m%1").arg(i), {});
    }
    AddNode(db(), more, QStringLiteral("m100"), {});
    openFrame();
    int shown = 0;
    QList<int> positions;
    QObject::connect(panel, &TSearchPanel::searchStarting, [&](TSearchEngine* e) {
        QObject::connect(e, &TSearchEngine::progressPosition, panel, [&](int p) {
            if (!panel->SearchBar->isHidden()) positions << panel->SearchBar->value() << p;
        });
        QObject::connect(e, &TSearchEngine::progressVisible, panel, [&](bool v) {
            if (v && !panel->SearchBar->isHidden()) ++shown;
        });
    });
    for (const auto& [root, expectShown] : {std::pair{hundred, 0}, std::pair{more, 1}}) {
        shown = 0;
        positions.clear();
        chooseSubtree(root);
        search(QStringLiteral("+"));
        EXPECT_EQ(shown, expectShown) << root;
        EXPECT_TRUE(panel->SearchBar->isHidden()); // hidden again at the end
        if (expectShown) {
            ASSERT_FALSE(positions.isEmpty());
            EXPECT_EQ(positions.last(), 100);
        } else {
            EXPECT_TRUE(positions.isEmpty());
        }
    }
    EXPECT_EQ(resultIds().size(), 101);
}

TEST_P(SearchUi, StopAfterFifteenResultsAndPaging) {
    const qint64 folder = AddNode(db(), 0, QStringLiteral("Many"), {});
    for (int i = 1; i <= 40; ++i)
        AddNode(db(), folder, QStringLiteral("qitem %1").arg(i, 2, 10, QLatin1Char('0')), {});
    openFrame();
    // The worker stops itself right after its 15th result, exactly as a click on Stop would at that row.
    QMetaObject::Connection stopper = QObject::connect(panel, &TSearchPanel::searchStarting, [](TSearchEngine* e) {
        QObject::connect(
            e, &TSearchEngine::resultFound, e,
            [e](int n, qint64, const QString&, const QString&) {
                if (n == 15) e->stop();
            },
            Qt::DirectConnection);
    });
    search(QStringLiteral("qitem"));
    QObject::disconnect(stopper);
    EXPECT_EQ(panel->TvSearch->topLevelItemCount(), 15);
    ASSERT_EQ(panel->pages().count(), 2);
    EXPECT_EQ(panel->lblSearchPage->text(), PageLabelText(0, 2));
    EXPECT_FALSE(panel->btnStop->isEnabled());
    EXPECT_TRUE(panel->btnSearch->isEnabled());
    EXPECT_TRUE(panel->edtSearch->isEnabled());

    // Previous on the first page changes nothing; Next shows page 2, whose first entry is the 11th.
    panel->btnPrev->click();
    EXPECT_EQ(panel->pages().current(), 0);
    panel->btnNextSearch->click();
    EXPECT_EQ(panel->pages().current(), 1);
    EXPECT_EQ(panel->lblSearchPage->text(), PageLabelText(1, 2));
    ASSERT_TRUE(showsText(QStringLiteral("qitem 11")));
    const QString page2 = plainText(panel->SearchEdit->page());
    EXPECT_TRUE(page2.trimmed().startsWith(QStringLiteral("11: qitem 11"))) << page2.left(80).toStdString();
    EXPECT_TRUE(page2.contains(QStringLiteral("15: qitem 15")));
    EXPECT_FALSE(page2.contains(QStringLiteral("16:")));
    panel->btnNextSearch->click(); // on the last page: nothing
    EXPECT_EQ(panel->pages().current(), 1);

    // Stop while a search runs: the button ends it and the window is ready again.
    search(QStringLiteral("qitem"));
    EXPECT_EQ(panel->TvSearch->topLevelItemCount(), 40);
    EXPECT_EQ(panel->pages().count(), 4);
    panel->edtSearch->setEditText(QStringLiteral("+"));
    panel->btnSearch->click();
    EXPECT_TRUE(panel->searching());
    EXPECT_FALSE(panel->btnSearch->isEnabled());
    panel->stop();
    EXPECT_FALSE(panel->searching());
    EXPECT_TRUE(panel->btnSearch->isEnabled());
    EXPECT_FALSE(panel->btnStop->isEnabled());
    EXPECT_EQ(frame->statusPanel(0)->text(), GetString(40302));
}

TEST_P(SearchUi, OpeningAResultShowsItsDocument) {
    const qint64 folder = AddNode(db(), 0, QStringLiteral("Notes"), {});
    const qint64 doc = AddNode(db(), folder, QStringLiteral("Recipe"),
                               QStringLiteral("<html><body><p>Mix the flour with quinceberry jam.</p></body></html>"));
    const qint64 other = AddNode(db(), 0, QStringLiteral("Other"), QStringLiteral("<p>nothing here</p>"));
    ASSERT_GT(other, 0);
    openFrame();
    panel->chkContent->setChecked(true);
    search(QStringLiteral("quinceberry"));
    ASSERT_EQ(resultIds(), (QList<qint64>{doc}));
    QTreeWidgetItem* item = panel->TvSearch->topLevelItem(0);
    EXPECT_EQ(item->text(1), QStringLiteral("/Notes/Recipe.htm"));
    EXPECT_TRUE(showsText(QStringLiteral("quinceberry")));

    int opened = 0, matches = -1;
    QObject::connect(panel, &TSearchPanel::resultOpened, [&](const QString&) { ++opened; });
    QObject::connect(panel, &TSearchPanel::wordShown, [&](const QString& id, int n) {
        if (id == QString::number(doc)) matches = n;
    });
    const int before = loads;
    emit panel->TvSearch->itemDoubleClicked(item, 0);
    EXPECT_EQ(opened, 1);
    EXPECT_EQ(tree->currentId(), QString::number(doc));
    ASSERT_NE(tree->tree()->currentItem(), nullptr);
    EXPECT_EQ(tree->tree()->currentItem()->text(0), QStringLiteral("Recipe"));
    EXPECT_EQ(frame->documentTabs()->currentIndex(), int(TabNormal));
    ASSERT_TRUE(waitFor([&] { return loads > before; }));
    ASSERT_TRUE(
        waitFor([&] { return plainText(frame->viewBrowser()->page()).contains(QStringLiteral("quinceberry jam")); }));
    // The word found is looked for in the document, and is there.
    ASSERT_TRUE(waitFor([&] { return matches >= 0; }));
    EXPECT_EQ(matches, 1);

    // The node already open: a double-click does nothing.
    emit panel->TvSearch->itemDoubleClicked(item, 0);
    EXPECT_EQ(opened, 1);
    // A result link (the page's own links): opens the node it names.
    panel->openResult(QString::number(other));
    EXPECT_EQ(tree->currentId(), QString::number(other));
}

TEST_P(SearchUi, HistoryIsCutAtOneThousandAndOneEntries) {
    QStringList old;
    for (int i = 0; i < 1001; ++i)
        old << QStringLiteral("old %1").arg(i);
    ASSERT_TRUE(WriteSearchHistory(SearchHistoryPath(), old));
    AddNode(db(), 0, QStringLiteral("fresh"), {});
    openFrame();
    EXPECT_EQ(panel->history(), old);
    search(QStringLiteral("  fresh  "));
    QStringList expected = old;
    expected.removeLast();
    expected.prepend(QStringLiteral("fresh"));
    EXPECT_EQ(panel->history(), expected);
    ASSERT_EQ(panel->edtSearch->count(), 1001);
    EXPECT_EQ(panel->edtSearch->itemText(0), QStringLiteral("fresh"));
    EXPECT_EQ(panel->edtSearch->itemText(1000), QStringLiteral("old 999"));
    // A text already in the list keeps its place.
    search(QStringLiteral("old 500"));
    EXPECT_EQ(panel->history(), expected);
    closeFrame(); // the window goes: the history is written
    EXPECT_EQ(ReadSearchHistory(SearchHistoryPath()), expected);
    QFile f(SearchHistoryPath());
    ASSERT_TRUE(f.open(QIODevice::ReadOnly));
    EXPECT_TRUE(f.read(2) == QByteArray("\xff\xfe", 2));
}

TEST_P(SearchUi, LogoutStopsTheIndexBuilderAndTheNextSessionFinishesIt) {
    const qint64 folder = AddNode(db(), 0, QStringLiteral("Corpus"), {});
    QString filler;
    for (int w = 0; w < 300; ++w)
        filler += QStringLiteral("word%1 ").arg(w);
    QList<qint64> rare;
    for (int i = 0; i < 1500; ++i) {
        const bool hit = i % 150 == 7;
        const qint64 id =
            AddNode(db(), folder, QStringLiteral("doc %1").arg(i),
                    QStringLiteral("<p>%1 %2</p>").arg(filler, hit ? QStringLiteral("zanzibarite") : QString()));
        if (hit) rare << id;
    }
    openFrame(20);
    // The status bar says while the index is being built; logout stops the build before it is done.
    ASSERT_TRUE(waitFor([&] { return frame->statusPanel(4)->text() == GetString(41402); }, 60000));
    QElapsedTimer t;
    t.start();
    emit frame->sessionClosing();
    const qint64 stopMs = t.elapsed();
    RecordProperty("logout_stop_ms", int(stopMs));
    EXPECT_EQ(panel->session(), nullptr);
    EXPECT_TRUE(frame->statusPanel(4)->text().isEmpty());
    const qint64 upto = SearchIndexBuiltUpTo(db());
    ASSERT_GE(upto, 0) << "the build was complete before logout";
    // Nothing writes to the index any more.
    const QVariant docsAtStop = db().scalar(QStringLiteral("select count(*) from zel_search_doc"));
    QElapsedTimer idle;
    idle.start();
    while (idle.elapsed() < 300)
        QApplication::processEvents(QEventLoop::AllEvents, 20);
    EXPECT_EQ(db().scalar(QStringLiteral("select count(*) from zel_search_doc")), docsAtStop);
    EXPECT_EQ(SearchIndexBuiltUpTo(db()), upto);

    // The next session resumes the build; a content search meanwhile finds what the scan finds, and so
    // does one on the finished index.
    bool ready = false;
    emit frame->sessionOpened(db(), QStringLiteral("KB"));
    ASSERT_NE(panel->session(), nullptr);
    QObject::connect(panel->session()->indexBuilder(), &TSearchIndexBuilder::indexReady, [&] { ready = true; });
    panel->chkContent->setChecked(true);
    search(QStringLiteral("zanzibarite"));
    EXPECT_EQ(resultIds(), rare);
    ASSERT_TRUE(waitFor([&] { return ready || SearchIndexBuiltUpTo(db()) < 0; }, 300000));
    EXPECT_TRUE(waitFor([&] { return frame->statusPanel(4)->text().isEmpty(); }));
    search(QStringLiteral("zanzibarite"));
    EXPECT_EQ(resultIds(), rare);
    search(QStringLiteral("zanzibarite -doc"));
    EXPECT_TRUE(resultIds().isEmpty());
}

ZEL_INSTANTIATE_DB_TEST(SearchUi);

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
