// The knowledge tree's widgets offscreen against real knowledge bases, on both databases. A scripted
// user answers the questions and dialogs; a second connection stands for another user.
#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QDialog>
#include <QDir>
#include <QElapsedTimer>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QProcess>
#include <QPushButton>
#include <QRadioButton>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QWebEnginePage>
#include <QWebEngineView>
#include <deque>
#include <memory>

#include "StoreFixture.h"
#include "platform/Paths.h"
#include "shell/Resources.h"
#include "shell/RuntimeSettings.h"
#include "shell/Strings.h"
#include "shell/TcnResourceManager.h"
#include "shell/ui/TFrmMain.h"
#include "shell/ui/TfrmUserSet.h"
#include "store/Catalogue.h"
#include "store/Content.h"
#include "store/DocumentUnlocks.h"
#include "store/RecycleBin.h"
#include "store/Schema.h"
#include "store/Users.h"
#include "tree/ui/NodeImages.h"
#include "tree/ui/TFileList.h"
#include "tree/ui/TFrmDocPassword.h"
#include "tree/ui/TFrmFolder.h"
#include "tree/ui/TFrmMaintenance.h"
#include "tree/ui/TPropertyPanel.h"
#include "tree/ui/TTreePanel.h"
#include "tree/ui/TfrmSelectNode.h"
#include "tree/ui/TreeAsk.h"
#include "tree/ui/TreeBinding.h"
#include "tree/ui/TvMain.h"

namespace zel::test {
namespace {

class TreeUi : public StoreTest {
protected:
    void SetUp() override {
        StoreTest::SetUp();
        if (IsSkipped() || HasFatalFailure()) return;
        ASSERT_TRUE(UpgradeSchema(db()));
        LoadSystemFolders(db());
        LoadUserSettings(db(), QStringLiteral("admin"));
        CurrentUser().markTime = 3600;
        ForgetUnlockedDocuments();
        Ask().inform = [this](QWidget*, const QString& text) { informed.push_back(text); };
        Ask().confirm = [this](QWidget*, const QString& text) {
            asked.push_back(text);
            if (answers.empty()) return false;
            const bool a = answers.front();
            answers.pop_front();
            return a;
        };
        Ask().password = [this](QWidget*, const QString&, const QString&) -> std::optional<QString> {
            ++passwordQuestions;
            if (passwords.empty()) return std::nullopt;
            const std::optional<QString> p = passwords.front();
            passwords.pop_front();
            return p;
        };
        Ask().colour = [this](QWidget*, const QColor&) -> std::optional<QColor> { return colour; };
        Ask().exec = [this](QDialog* d) { return onDialog ? onDialog(d) : false; };
        panel = std::make_unique<TTreePanel>();
        list = new TFileList(panel.get());
        props = new TPropertyPanel(panel.get());
        panel->setFileList(list);
        panel->setPropertyPanel(props);
        QObject::connect(panel.get(), &TTreePanel::nodeOpened, [this](const QString& id, const QString& url) {
            opened.push_back(id);
            lastUrl = url;
        });
    }
    void TearDown() override {
        panel.reset();
        TTreePanel::setLongOperationRows(1000);
        ResetAsk();
        CurrentUser() = TuserReg{};
        StoreTest::TearDown();
    }

    void session() { panel->openSession(&db(), QStringLiteral("KB")); }
    TvMain* tv() { return panel->tree(); }
    QTreeWidgetItem* item(const QString& id) { return tv()->findItem(id); }
    QTreeWidgetItem* expand(const QString& id) {
        QTreeWidgetItem* i = item(id);
        EXPECT_NE(i, nullptr) << "no item " << id.toStdString();
        if (i) i->setExpanded(true);
        return i;
    }
    static QStringList childIds(QTreeWidgetItem* i) {
        QStringList out;
        for (int k = 0; i && k < i->childCount(); ++k)
            out << TvMain::itemId(i->child(k));
        return out;
    }
    QString parentOf(const QString& id) { return column(QStringLiteral("info"), QStringLiteral("parentnode"), id); }
    int sortOf(const QString& id) { return column(QStringLiteral("info"), QStringLiteral("sorttype"), id).toInt(); }
    void answer(std::initializer_list<bool> a) { answers.assign(a.begin(), a.end()); }

    std::unique_ptr<TTreePanel> panel;
    TFileList* list = nullptr;
    TPropertyPanel* props = nullptr;
    std::vector<QString> informed, asked, opened;
    QString lastUrl;
    std::deque<bool> answers;
    std::deque<std::optional<QString>> passwords;
    int passwordQuestions = 0;
    std::optional<QColor> colour;
    std::function<bool(QDialog*)> onDialog;
};

TEST_P(TreeUi, RootLoadsTopLevelAndBinAndOpensFirstChild) {
    const QString a = add(QStringLiteral("0"), QStringLiteral("Alpha"));
    const QString b = add(QStringLiteral("0"), QStringLiteral("Beta"));
    add(a, QStringLiteral("Inner"));
    session();
    QTreeWidgetItem* root = tv()->rootItem();
    ASSERT_NE(root, nullptr);
    EXPECT_EQ(root->text(0), QStringLiteral("KB"));
    EXPECT_EQ(TvMain::itemImage(root), int(ImgRoot));
    // Top level: the two nodes, the system folders and the bin.
    const QStringList top = childIds(root);
    EXPECT_TRUE(top.contains(a) && top.contains(b) && top.contains(QStringLiteral("-1")));
    EXPECT_EQ(tv()->binItem()->text(ColSortNumber), QStringLiteral("20001"));
    EXPECT_EQ(TvMain::itemImage(tv()->binItem()), int(ImgBinEmpty));
    // Children are not loaded before expansion; folders show their expand button.
    EXPECT_EQ(item(a)->childCount(), 0);
    EXPECT_EQ(item(a)->childIndicatorPolicy(), QTreeWidgetItem::ShowIndicator);
    EXPECT_EQ(item(b)->childIndicatorPolicy(), QTreeWidgetItem::DontShowIndicator);
    EXPECT_EQ(TvMain::itemImage(item(a)), int(ImgFolder));
    EXPECT_EQ(TvMain::itemImage(item(b)), int(ImgDocument));
    EXPECT_TRUE(TvMain::itemBold(item(b))); // unread
    // The first child of the root was opened.
    ASSERT_FALSE(opened.empty());
    EXPECT_EQ(panel->currentId(), TvMain::itemId(root->child(0)));
    // The system folders are shown with their own images.
    QTreeWidgetItem* outbox = item(QString::number(RuntimeSettings().outboxNode));
    ASSERT_NE(outbox, nullptr);
    EXPECT_EQ(TvMain::itemImage(outbox), int(ImgOutbox));
    EXPECT_FALSE(TvMain::itemBold(outbox));
}

TEST_P(TreeUi, ExpansionReadsWhatOthersChanged) {
    const QString f = add(QStringLiteral("0"), QStringLiteral("Folder"));
    const QString c1 = add(f, QStringLiteral("One"));
    session();
    EXPECT_EQ(childIds(expand(f)), QStringList{c1});

    // Another user adds a child: the next expansion shows it.
    auto other = openAnother();
    Tinfoproperty rec;
    rec.caption = QStringLiteral("Two");
    rec.sortNumber = 2;
    const QString c2 = InsertNode(*other, rec, f);
    ASSERT_FALSE(c2.isEmpty());
    EXPECT_EQ(childIds(item(f)), QStringList{c1}); // nothing changes until then
    item(f)->setExpanded(false);
    EXPECT_EQ(item(f)->childCount(), 0); // dropped on collapse
    expand(f);
    EXPECT_EQ(childIds(item(f)), (QStringList{c1, c2}));

    // Another user deletes every child: the folder loses its expand button when expanded again.
    ASSERT_TRUE(MoveNodesToBin(*other, {c1.toLongLong(), c2.toLongLong()}));
    tv()->reloadChildren(item(f));
    EXPECT_EQ(item(f)->childCount(), 0);
    EXPECT_EQ(item(f)->childIndicatorPolicy(), QTreeWidgetItem::DontShowIndicator);
}

TEST_P(TreeUi, MoveAndCopyRefusalsLeaveTreeAndStoreAlone) {
    const QString f = add(QStringLiteral("0"), QStringLiteral("F"));
    const QString f1 = add(f, QStringLiteral("F1"));
    const QString f11 = add(f1, QStringLiteral("F11"));
    const QString dup = add(f, QStringLiteral("Same"));
    const QString g = add(QStringLiteral("0"), QStringLiteral("G"));
    add(g, QStringLiteral("SAME")); // letter case does not matter
    session();
    expand(f);
    expand(f1);
    expand(g);
    struct Case {
        const char* what;
        QString source, target;
        int ident;
    };
    const Case cases[] = {
        {"onto itself", f, f, 41046},
        {"below itself", f, f11, 41046},
        {"onto its parent", f1, f, 41047},
        {"name clash", dup, g, 40314},
    };
    const int nodes = CountLiveNodes(db());
    for (const Case& c : cases) {
        for (bool copy : {false, true}) {
            informed.clear();
            answer({false});
            QTreeWidgetItem* src = item(c.source);
            QTreeWidgetItem* dst = item(c.target);
            ASSERT_TRUE(src && dst) << c.what;
            const QString parentBefore = parentOf(c.source);
            const bool done = copy ? panel->copyItem(src, dst) : panel->moveItem(src, dst);
            EXPECT_FALSE(done) << c.what << (copy ? " (copy)" : " (move)");
            ASSERT_EQ(informed.size(), 1u) << c.what;
            EXPECT_EQ(informed[0], GetString(c.ident)) << c.what;
            EXPECT_EQ(parentOf(c.source), parentBefore) << c.what;
            EXPECT_EQ(CountLiveNodes(db()), nodes) << c.what;
            EXPECT_EQ(item(c.source), src) << c.what;
        }
    }
    // The bin never takes a moved node, and drags into the outbox are not accepted.
    informed.clear();
    EXPECT_FALSE(panel->moveItem(item(f1), tv()->binItem()));
    EXPECT_EQ(parentOf(f1), f);
    QTreeWidgetItem* outbox = item(QString::number(RuntimeSettings().outboxNode));
    EXPECT_FALSE(tv()->acceptsNodeDrop(item(f1), outbox));
    EXPECT_FALSE(tv()->acceptsNodeDrop(item(f1), item(f)));   // its parent
    EXPECT_FALSE(tv()->acceptsNodeDrop(item(f1), item(f11))); // below it
    EXPECT_TRUE(tv()->acceptsNodeDrop(item(f1), item(g)));
    EXPECT_FALSE(tv()->canDragItem(outbox));
    EXPECT_FALSE(tv()->canDragItem(tv()->rootItem()));
}

TEST_P(TreeUi, MoveAndCopyUpdateBothItemsAndTheStore) {
    const QString f = add(QStringLiteral("0"), QStringLiteral("F"));
    const QString doc = add(f, QStringLiteral("Doc"));
    add(doc, QStringLiteral("Under"));
    const QString g = add(QStringLiteral("0"), QStringLiteral("G"));
    session();
    expand(f);
    expand(g);
    ASSERT_TRUE(panel->moveItem(item(doc), item(g)));
    EXPECT_EQ(parentOf(doc), g);
    EXPECT_EQ(childIds(item(g)), QStringList{doc});
    EXPECT_EQ(item(doc)->parent(), item(g));
    // F lost its only child.
    EXPECT_EQ(item(f)->childIndicatorPolicy(), QTreeWidgetItem::DontShowIndicator);
    EXPECT_EQ(column(QStringLiteral("info"), QStringLiteral("haschild"), f), QStringLiteral("N"));
    expectPathsConsistent();

    // Copy with the children question answered Yes, then No.
    answer({true});
    ASSERT_TRUE(panel->copyItem(item(doc), item(f)));
    ASSERT_EQ(item(f)->childCount(), 1);
    const QString copy = TvMain::itemId(item(f)->child(0));
    EXPECT_NE(copy, doc);
    EXPECT_EQ(asked.back(), GetString(41056));
    EXPECT_EQ(CountSubtree(db(), copy), 1);
    const QString h = add(QStringLiteral("0"), QStringLiteral("H"));
    tv()->reloadChildren(tv()->rootItem());
    expand(g);
    expand(h);
    answer({false});
    ASSERT_TRUE(panel->copyItem(item(doc), item(h)));
    EXPECT_EQ(CountSubtree(db(), TvMain::itemId(item(h)->child(0))), 0);
    expectPathsConsistent();
}

TEST_P(TreeUi, DeleteFolderThenRestoreAChildWhoseParentStaysInTheBin) {
    const QString f = add(QStringLiteral("0"), QStringLiteral("Folder"));
    const QString c1 = add(f, QStringLiteral("Child one"));
    const QString c2 = add(f, QStringLiteral("Child two"));
    session();
    // No to the first question changes nothing; No to the second neither.
    answer({false});
    EXPECT_FALSE(panel->deleteItem(item(f)));
    answer({true, false});
    EXPECT_FALSE(panel->deleteItem(item(f)));
    EXPECT_EQ(state(QStringLiteral("info"), f), QStringLiteral("N"));
    ASSERT_EQ(asked.size(), 3u);
    EXPECT_EQ(asked[1], GetString(40311));
    EXPECT_EQ(asked[2], GetString(40312));

    answer({true, true});
    ASSERT_TRUE(panel->deleteItem(item(f)));
    EXPECT_EQ(item(f), nullptr);
    for (const QString& id : {f, c1, c2})
        EXPECT_EQ(state(QStringLiteral("info"), id), QStringLiteral("Y"));
    EXPECT_EQ(TvMain::itemImage(tv()->binItem()), int(ImgBinFull));

    // The bin's file list lists each node on its own; restore the first child only.
    list->fill(QStringLiteral("-1"));
    EXPECT_TRUE(list->binShown());
    ASSERT_EQ(list->topLevelItemCount(), 3);
    list->clearSelection();
    list->setCurrentItem(list->rowFor(c1));
    answer({true});
    list->restoreRows();
    EXPECT_EQ(asked.back(), GetString(41052) + u':' + QStringLiteral("Child one") + u'?');
    EXPECT_EQ(state(QStringLiteral("info"), c1), QStringLiteral("N"));
    EXPECT_EQ(state(QStringLiteral("info"), f), QStringLiteral("Y"));
    EXPECT_EQ(list->rowFor(c1), nullptr);
    // Live again, yet invisible until its parent comes back.
    EXPECT_EQ(item(c1), nullptr);
    EXPECT_EQ(item(f), nullptr);

    list->clearSelection();
    list->setCurrentItem(list->rowFor(f));
    answer({true});
    list->restoreRows();
    ASSERT_NE(item(f), nullptr);
    EXPECT_EQ(item(f)->parent(), tv()->rootItem());
    EXPECT_EQ(childIds(expand(f)), QStringList{c1}); // the other child stays in the bin
    EXPECT_EQ(TvMain::itemImage(tv()->binItem()), int(ImgBinFull));
}

TEST_P(TreeUi, FileListDeletesPurgesAndEmptiesTheBin) {
    const QString f = add(QStringLiteral("0"), QStringLiteral("Parent"));
    const QString d1 = add(f, QStringLiteral("Doc 1"));
    const QString d2 = add(f, QStringLiteral("Doc 2"));
    const QString sub = add(f, QStringLiteral("Sub"));
    const QString deep = add(sub, QStringLiteral("Deep"));
    session();
    tv()->selectNode(f);
    panel->openItem(item(f));
    list->fill(f);
    ASSERT_EQ(list->topLevelItemCount(), 3);
    EXPECT_EQ(list->rowFor(sub)->icon(0).cacheKey(), NodeIcon(ImgFolder).cacheKey());
    for (const QString& id : {d1, d2, sub})
        list->rowFor(id)->setSelected(true);
    answer({true});
    list->deleteRows();
    EXPECT_EQ(asked.back(), GetString(40321));
    EXPECT_EQ(list->topLevelItemCount(), 0);
    for (const QString& id : {d1, d2, sub, deep})
        EXPECT_EQ(state(QStringLiteral("info"), id), QStringLiteral("Y")) << id.toStdString();
    EXPECT_EQ(item(f)->childIndicatorPolicy(), QTreeWidgetItem::DontShowIndicator);
    EXPECT_EQ(TvMain::itemImage(tv()->binItem()), int(ImgBinFull));

    // In the bin the same command purges.
    list->fill(QStringLiteral("-1"));
    list->clearSelection();
    list->setCurrentItem(list->rowFor(d1));
    answer({true});
    list->deleteRows();
    EXPECT_EQ(state(QStringLiteral("info"), d1), QStringLiteral("D"));
    EXPECT_EQ(list->rowFor(d1), nullptr);

    // Emptying the bin purges the rest and shows the empty image.
    tv()->setCurrentItem(tv()->binItem());
    panel->recomputeStates();
    EXPECT_TRUE(panel->isEnabled(TreeCommand::EmptyBin));
    answer({true});
    panel->emptyRecycleBin();
    for (const QString& id : {d2, sub, deep})
        EXPECT_EQ(state(QStringLiteral("info"), id), QStringLiteral("D"));
    EXPECT_EQ(list->topLevelItemCount(), 0);
    EXPECT_EQ(TvMain::itemImage(tv()->binItem()), int(ImgBinEmpty));
    EXPECT_FALSE(panel->isEnabled(TreeCommand::EmptyBin));
}

TEST_P(TreeUi, CustomOrderMovesWriteBothSortNumbers) {
    const QString p = add(QStringLiteral("0"), QStringLiteral("Parent"));
    const QString a = add(p, QStringLiteral("C-first"));
    const QString b = add(p, QStringLiteral("B-second"));
    const QString c = add(p, QStringLiteral("A-third"));
    session();
    panel->sortBy(6);
    // In custom ascending order the bin is last among the top level.
    EXPECT_EQ(childIds(tv()->rootItem()).last(), QStringLiteral("-1"));
    QTreeWidgetItem* parent = expand(p);
    EXPECT_EQ(childIds(parent), (QStringList{a, b, c}));
    tv()->setCurrentItem(item(a));
    panel->recomputeStates();
    EXPECT_FALSE(panel->isEnabled(TreeCommand::MoveUp));
    EXPECT_TRUE(panel->isEnabled(TreeCommand::MoveDown));
    tv()->setCurrentItem(item(c));
    panel->recomputeStates();
    EXPECT_TRUE(panel->isEnabled(TreeCommand::MoveUp));
    EXPECT_FALSE(panel->isEnabled(TreeCommand::MoveDown));

    const int sa = sortOf(a), sb = sortOf(b);
    tv()->setCurrentItem(item(b));
    panel->moveUp();
    EXPECT_EQ(sortOf(b), sa);
    EXPECT_EQ(sortOf(a), sb);
    EXPECT_EQ(childIds(parent), (QStringList{b, a, c}));
    EXPECT_EQ(tv()->currentItem(), item(b));
    EXPECT_FALSE(panel->isEnabled(TreeCommand::MoveUp));
    panel->moveDown();
    EXPECT_EQ(childIds(parent), (QStringList{a, b, c}));
    EXPECT_EQ(sortOf(a), sa);
    EXPECT_EQ(sortOf(b), sb);
    panel->moveDown();
    EXPECT_EQ(childIds(parent), (QStringList{a, c, b}));

    // Descending custom order shows the reverse; the order is stored with the user.
    panel->sortBy(7);
    EXPECT_EQ(childIds(item(p)), (QStringList{b, c, a}));
    LoadUserSettings(db(), QStringLiteral("admin"));
    EXPECT_EQ(CurrentUser().sortOrder, 7);
    session();
    EXPECT_EQ(childIds(expand(p)), (QStringList{b, c, a}));

    // In caption order both commands stay disabled.
    panel->sortBy(0);
    EXPECT_EQ(childIds(item(p)), (QStringList{c, b, a}));
    tv()->setCurrentItem(item(b));
    panel->recomputeStates();
    EXPECT_FALSE(panel->isEnabled(TreeCommand::MoveUp));
    EXPECT_FALSE(panel->isEnabled(TreeCommand::MoveDown));
}

TEST_P(TreeUi, CreationTimeSortUsesCreationTime) {
    const QString x = add(QStringLiteral("0"), QStringLiteral("X"));
    const QString y = add(QStringLiteral("0"), QStringLiteral("Y"));
    const QString z = add(QStringLiteral("0"), QStringLiteral("Z"));
    // Creation times against the id order; modification times in yet another order.
    const struct {
        QString id;
        QDateTime created, modified;
    } times[] = {
        {x, QDateTime(QDate(2024, 3, 1), QTime(8, 0)), QDateTime(QDate(2024, 5, 1), QTime(8, 0))},
        {y, QDateTime(QDate(2024, 2, 1), QTime(8, 0)), QDateTime(QDate(2024, 4, 1), QTime(8, 0))},
        {z, QDateTime(QDate(2023, 12, 31), QTime(23, 0)), QDateTime(QDate(2024, 6, 1), QTime(8, 0))},
    };
    for (const auto& t : times)
        ASSERT_TRUE(db().exec(QStringLiteral("update info set createdate=:c, modifydate=:m where id=:id"),
                              {{QStringLiteral(":c"), t.created},
                               {QStringLiteral(":m"), t.modified},
                               {QStringLiteral(":id"), t.id.toLongLong()}}));
    session();
    auto order = [&] {
        QStringList ids;
        for (const QString& id : childIds(tv()->rootItem()))
            if (id == x || id == y || id == z) ids << id;
        return ids;
    };
    panel->sortBy(16);
    EXPECT_EQ(order(), (QStringList{z, y, x}));
    panel->sortBy(17);
    EXPECT_EQ(order(), (QStringList{x, y, z}));
    panel->sortBy(4);
    EXPECT_EQ(order(), (QStringList{y, x, z}));
    EXPECT_TRUE(panel->sortAction(4)->isChecked());
}

TEST_P(TreeUi, NodeDialogChecks) {
    const QString p = add(QStringLiteral("0"), QStringLiteral("Parent"));
    add(p, QStringLiteral("Notes"));
    TFrmFolder dialog(db(), TFrmFolder::Mode::Create);
    dialog.fillForCreate(p);
    EXPECT_EQ(dialog.edtFullPath->text(), QStringLiteral("/Parent/"));
    EXPECT_EQ(dialog.windowTitle(), GetString(40310));
    struct Case {
        const char* name;
        int ident; // 0: accepted
    };
    const Case cases[] = {{"", 40433},    {"    ", 40433},  {"a/b", 41018},     {"a\\b", 41018},
                          {"x#y", 41018}, {"notes", 40434}, {" NOTES ", 40434}, {"  New one  ", 0}};
    for (const Case& c : cases) {
        informed.clear();
        dialog.edtName->setText(QString::fromUtf8(c.name));
        EXPECT_EQ(dialog.validate(), c.ident == 0) << c.name;
        if (c.ident) {
            ASSERT_EQ(informed.size(), 1u) << c.name;
            QString expected = GetString(c.ident);
            if (c.ident == 41018) expected.replace(QStringLiteral("%s"), QStringLiteral("/ \\ #"));
            EXPECT_EQ(informed[0], expected) << c.name;
        } else {
            EXPECT_TRUE(informed.empty());
            EXPECT_EQ(dialog.name(), QStringLiteral("New one"));
        }
    }

    // Edit mode: a sibling takes the wanted name after the check; the old name stays, the keyword
    // and flags are stored all the same.
    const QString n = add(p, QStringLiteral("Old"));
    TFrmFolder edit(db(), TFrmFolder::Mode::Edit);
    ASSERT_TRUE(edit.fillForEdit(n));
    EXPECT_EQ(edit.windowTitle(), GetString(40317));
    edit.edtName->setText(QStringLiteral("Taken"));
    edit.edtKeyword->setText(QStringLiteral("budget"));
    edit.chkHide->setChecked(true);
    EXPECT_TRUE(edit.validate());
    auto other = openAnother();
    Tinfoproperty rec;
    rec.caption = QStringLiteral("taken");
    ASSERT_FALSE(InsertNode(*other, rec, p).isEmpty());
    informed.clear();
    EXPECT_EQ(edit.applyEdit(), QStringLiteral("Old"));
    ASSERT_EQ(informed.size(), 1u);
    EXPECT_EQ(informed[0], GetString(40315));
    const std::optional<Tinfoproperty> stored = ReadNodeProperties(db(), n);
    ASSERT_TRUE(stored);
    EXPECT_EQ(stored->caption, QStringLiteral("Old"));
    EXPECT_EQ(stored->keywords, QStringLiteral("budget"));
    EXPECT_TRUE(stored->hidden);

    // A folder's dialog counts what lies below it.
    TFrmFolder folder(db(), TFrmFolder::Mode::Edit);
    ASSERT_TRUE(folder.fillForEdit(p));
    EXPECT_EQ(folder.windowTitle(), GetString(40316));
    EXPECT_TRUE(folder.lblInclude->text().startsWith(GetString(40318) + QStringLiteral("  3")));
}

TEST_P(TreeUi, NewDocumentsFromTheTree) {
    const QString p = add(QStringLiteral("0"), QStringLiteral("Projects"));
    session();
    tv()->setCurrentItem(item(p));
    onDialog = [](QDialog* d) {
        auto* f = static_cast<TFrmFolder*>(d);
        f->edtName->setText(QStringLiteral("  Plan  "));
        f->btnOK->click();
        return d->result() == QDialog::Accepted;
    };
    std::vector<QString> edits;
    QObject::connect(panel.get(), &TTreePanel::editRequested, [&](const QString& id) { edits.push_back(id); });
    panel->newSubDocument();
    ASSERT_EQ(edits.size(), 1u);
    const QString plan = edits[0];
    EXPECT_EQ(parentOf(plan), p);
    EXPECT_EQ(GetNodeCaption(db(), plan), QStringLiteral("Plan"));
    ASSERT_NE(item(plan), nullptr);
    EXPECT_EQ(item(plan)->parent(), item(p));
    EXPECT_EQ(panel->currentId(), plan);
    EXPECT_EQ(lastUrl, QStringLiteral("link://document/Projects/Plan.htm"));
    EXPECT_EQ(column(QStringLiteral("info"), QStringLiteral("haschild"), p), QStringLiteral("Y"));

    // "New Document" on Plan makes a sibling; the same name again is refused by the dialog.
    informed.clear();
    int tries = 0;
    onDialog = [&](QDialog* d) {
        auto* f = static_cast<TFrmFolder*>(d);
        f->edtName->setText(tries++ == 0 ? QStringLiteral("plan") : QStringLiteral("Budget"));
        f->btnOK->click();
        if (d->result() != QDialog::Accepted) {
            f->edtName->setText(QStringLiteral("Budget"));
            f->btnOK->click();
        }
        return d->result() == QDialog::Accepted;
    };
    panel->newDocument();
    ASSERT_EQ(informed.size(), 1u);
    EXPECT_EQ(informed[0], GetString(40434));
    ASSERT_EQ(edits.size(), 2u);
    EXPECT_EQ(parentOf(edits[1]), p);
    EXPECT_GT(sortOf(edits[1]), sortOf(plan));
}

TEST_P(TreeUi, DocumentPasswordAskedBeforeExpansionAndOpening) {
    const QString f = add(QStringLiteral("0"), QStringLiteral("Secret"));
    const QString c = add(f, QStringLiteral("Inside"));
    const QString open = add(QStringLiteral("0"), QStringLiteral("Open"));
    ASSERT_TRUE(SetDocumentPassword(db(), f, QStringLiteral("pw")));
    session();
    // Refused (cancelled, then wrong): nothing listed, the expand button stays.
    for (const std::optional<QString>& typed :
         {std::optional<QString>(), std::optional<QString>(QStringLiteral("no"))}) {
        passwords = {typed};
        const int before = passwordQuestions;
        tv()->reloadChildren(item(f));
        expand(f);
        EXPECT_EQ(passwordQuestions, before + 1);
        EXPECT_EQ(item(f)->childCount(), 0);
        EXPECT_EQ(item(f)->childIndicatorPolicy(), QTreeWidgetItem::ShowIndicator);
        item(f)->setExpanded(false);
    }
    passwords = {QStringLiteral("pw")};
    EXPECT_EQ(childIds(expand(f)), QStringList{c});

    // Opening asks too; a refusal keeps the current node.
    ASSERT_TRUE(panel->openNode(open, QStringLiteral("link://document/Open.htm")));
    passwords = {std::nullopt};
    EXPECT_FALSE(panel->openNode(f, TvMain::linkUrl(item(f))));
    EXPECT_EQ(panel->currentId(), open);
    passwords = {QStringLiteral("pw")};
    EXPECT_TRUE(panel->openNode(f, TvMain::linkUrl(item(f))));
    EXPECT_EQ(panel->currentId(), f);

    // "Set Document Password": different entries are refused; an empty one removes the question.
    TFrmDocPassword dialog(db(), f);
    dialog.edtNew->setText(QStringLiteral("a"));
    dialog.edtConfirm->setText(QStringLiteral("b"));
    informed.clear();
    EXPECT_FALSE(dialog.btnOKClick());
    ASSERT_EQ(informed.size(), 1u);
    EXPECT_EQ(informed[0], GetString(40686));
    dialog.edtNew->clear();
    dialog.edtConfirm->clear();
    EXPECT_TRUE(dialog.btnOKClick());
    const int before = passwordQuestions;
    tv()->reloadChildren(item(f));
    EXPECT_EQ(childIds(item(f)), QStringList{c});
    EXPECT_TRUE(panel->openNode(f, TvMain::linkUrl(item(f))));
    EXPECT_EQ(passwordQuestions, before);
}

TEST_P(TreeUi, NodesDeletedElsewhereAreRefusedWithAMessage) {
    const QString f = add(QStringLiteral("0"), QStringLiteral("Folder"));
    const QString gone = add(f, QStringLiteral("Gone"));
    const QString target = add(QStringLiteral("0"), QStringLiteral("Target"));
    session();
    expand(f);
    auto other = openAnother();
    ASSERT_TRUE(MoveNodeToBin(*other, gone, true));
    struct Op {
        const char* what;
        std::function<bool()> run;
    };
    const Op ops[] = {
        {"rename", [&] { return panel->renameItem(item(gone), QStringLiteral("New name")); }},
        {"move", [&] { return panel->moveItem(item(gone), item(target)); }},
        {"open", [&] { return panel->openNode(gone, TvMain::linkUrl(item(gone))); }},
    };
    for (const Op& op : ops) {
        tv()->reloadChildren(item(f)); // the stale item again... unless the store drops it
        if (!item(gone)) {
            // The tree already shows the store: put the stale item back by hand to act on it.
            NodeItem stale;
            stale.id = gone.toLongLong();
            stale.caption = QStringLiteral("Gone");
            tv()->addNodeItem(item(f), stale);
        }
        informed.clear();
        EXPECT_FALSE(op.run()) << op.what;
        ASSERT_EQ(informed.size(), 1u) << op.what;
        EXPECT_EQ(informed[0], GetString(40308)) << op.what;
        EXPECT_EQ(item(gone), nullptr) << op.what << ": the parent shows the store's state again";
        EXPECT_EQ(GetNodeCaption(db(), gone), QStringLiteral("Gone"));
        EXPECT_EQ(parentOf(gone), f);
        EXPECT_EQ(state(QStringLiteral("info"), gone), QStringLiteral("Y"));
    }
}

TEST_P(TreeUi, RenameInPlaceAndReadMarksAndColour) {
    const QString a = add(QStringLiteral("0"), QStringLiteral("Alpha"));
    add(QStringLiteral("0"), QStringLiteral("Beta"));
    const QString f = add(a, QStringLiteral("Child"));
    session();
    expand(a);
    informed.clear();
    EXPECT_FALSE(panel->renameItem(item(a), QStringLiteral("beta")));
    ASSERT_EQ(informed.size(), 1u);
    EXPECT_EQ(informed[0], GetString(40315));
    EXPECT_FALSE(panel->renameItem(item(a), QStringLiteral("   "))); // writes nothing
    EXPECT_EQ(informed.size(), 1u);
    ASSERT_TRUE(panel->renameItem(item(a), QStringLiteral("Gamma")));
    EXPECT_EQ(item(a)->text(0), QStringLiteral("Gamma"));
    EXPECT_EQ(GetChildName(db(), f), QStringLiteral("/Gamma/Child/"));

    tv()->setCurrentItem(item(f));
    panel->markRead();
    EXPECT_EQ(column(QStringLiteral("info"), QStringLiteral("readtype"), f), QStringLiteral("Y"));
    EXPECT_FALSE(TvMain::itemBold(item(f)));
    panel->markUnread();
    EXPECT_EQ(column(QStringLiteral("info"), QStringLiteral("readtype"), f), QStringLiteral("N"));
    EXPECT_TRUE(TvMain::itemBold(item(f)));
    colour = QColor(0x12, 0x34, 0x56);
    panel->colourSign();
    EXPECT_EQ(column(QStringLiteral("info"), QStringLiteral("fontcolor"), f).toLongLong(), 0x563412);
    EXPECT_EQ(item(f)->foreground(0).color(), QColor(0x12, 0x34, 0x56));
}

TEST_P(TreeUi, DropsMoveCopyOrDelete) {
    const QString f = add(QStringLiteral("0"), QStringLiteral("F"));
    const QString doc = add(f, QStringLiteral("Doc"));
    const QString g = add(QStringLiteral("0"), QStringLiteral("G"));
    session();
    expand(f);
    expand(g);
    // What the tree's drop handler receives: move, copy, and a drop on the bin.
    emit tv()->nodeDropped(item(doc), item(g), false);
    EXPECT_EQ(parentOf(doc), g);
    emit tv()->nodeDropped(item(doc), item(f), true);
    EXPECT_EQ(item(f)->childCount(), 1);
    EXPECT_EQ(parentOf(doc), g);
    const QString copy = TvMain::itemId(item(f)->child(0));
    answer({true});
    emit tv()->nodeDropped(item(copy), tv()->binItem(), false);
    EXPECT_EQ(asked.back(), GetString(40311));
    EXPECT_EQ(state(QStringLiteral("info"), copy), QStringLiteral("Y"));
    EXPECT_EQ(TvMain::itemImage(tv()->binItem()), int(ImgBinFull));
}

TEST_P(TreeUi, LongChangesRunOnAConnectionOfTheirOwn) {
    // Every change counts as long here: it runs on a worker thread with its own connection while the
    // wait window shows, and the tree ends as it would otherwise.
    TTreePanel::setLongOperationRows(1);
    const QString f = add(QStringLiteral("0"), QStringLiteral("F"));
    const QString c = add(f, QStringLiteral("C"));
    const QString g = add(QStringLiteral("0"), QStringLiteral("G"));
    const QString d = add(g, QStringLiteral("D"));
    session();
    expand(g);
    ASSERT_TRUE(panel->moveItem(item(f), item(g)));
    EXPECT_EQ(parentOf(f), g);
    EXPECT_EQ(GetChildName(db(), c), QStringLiteral("/G/F/C/"));
    EXPECT_TRUE(childIds(item(g)).contains(f));
    answer({true, true});
    ASSERT_TRUE(panel->deleteItem(item(f)));
    EXPECT_EQ(state(QStringLiteral("info"), c), QStringLiteral("Y"));
    list->fill(g);
    list->setCurrentItem(list->rowFor(d));
    answer({true});
    list->deleteRows();
    EXPECT_EQ(state(QStringLiteral("info"), d), QStringLiteral("Y"));
    list->fill(QStringLiteral("-1"));
    for (const QString& id : {f, c, d})
        list->rowFor(id)->setSelected(true);
    answer({true});
    list->restoreRows();
    for (const QString& id : {f, c, d})
        EXPECT_EQ(state(QStringLiteral("info"), id), QStringLiteral("N"));
    EXPECT_TRUE(childIds(item(g)).contains(f) && childIds(item(g)).contains(d));
    EXPECT_EQ(TvMain::itemImage(tv()->binItem()), int(ImgBinEmpty));
}

TEST_P(TreeUi, ReadMarkTimerMarksTheOpenNode) {
    const QString doc = add(QStringLiteral("0"), QStringLiteral("Doc"));
    const QString other = add(QStringLiteral("0"), QStringLiteral("Other"));
    CurrentUser().markTime = 0; // at the next turn of the event loop
    session();
    ASSERT_TRUE(tv()->selectNode(doc));
    panel->openItem(item(doc));
    EXPECT_TRUE(TvMain::itemBold(item(doc)));
    QApplication::processEvents();
    QApplication::processEvents();
    EXPECT_EQ(column(QStringLiteral("info"), QStringLiteral("readtype"), doc), QStringLiteral("Y"));
    EXPECT_FALSE(TvMain::itemBold(item(doc)));
    // A node left before its time is up stays unread.
    CurrentUser().markTime = 3600;
    panel->openItem(item(other));
    QApplication::processEvents();
    EXPECT_NE(column(QStringLiteral("info"), QStringLiteral("readtype"), other), QStringLiteral("Y"));
    EXPECT_TRUE(TvMain::itemBold(item(other)));
}

TEST_P(TreeUi, SelectByIdHistoryAndDefaultPage) {
    const QString a = add(QStringLiteral("0"), QStringLiteral("A"));
    const QString b = add(a, QStringLiteral("B"));
    const QString c = add(b, QStringLiteral("C"));
    const QString d = add(QStringLiteral("0"), QStringLiteral("D"));
    session();
    ASSERT_TRUE(tv()->selectNode(c));
    EXPECT_EQ(tv()->currentItem(), item(c));
    EXPECT_TRUE(item(a)->isExpanded() && item(b)->isExpanded());
    EXPECT_EQ(TvMain::linkUrl(item(c)), QStringLiteral("link://document/A/B/C.htm"));
    EXPECT_FALSE(tv()->selectNode(QStringLiteral("999999")));

    panel->openItem(item(c));
    panel->openItem(item(d));
    panel->recomputeStates();
    EXPECT_TRUE(panel->isEnabled(TreeCommand::Back));
    EXPECT_FALSE(panel->isEnabled(TreeCommand::Forward));
    panel->back();
    EXPECT_EQ(panel->currentId(), c);
    EXPECT_EQ(tv()->currentItem(), item(c));
    EXPECT_TRUE(panel->isEnabled(TreeCommand::Forward));
    panel->forward();
    EXPECT_EQ(panel->currentId(), d);

    tv()->setCurrentItem(item(b));
    panel->setDefaultDocument();
    LoadUserSettings(db(), QStringLiteral("admin"));
    EXPECT_EQ(CurrentUser().defaultDocument.trimmed(), b);
    // A new session selects and opens the default document.
    session();
    EXPECT_EQ(panel->currentId(), b);
    tv()->setCurrentItem(item(d));
    panel->openItem(item(d));
    panel->defaultPage();
    EXPECT_EQ(panel->currentId(), b);
}

TEST_P(TreeUi, NodeChooserForms) {
    const QString a = add(QStringLiteral("0"), QStringLiteral("A"));
    const QString a1 = add(a, QStringLiteral("A1"));
    const QString a11 = add(a1, QStringLiteral("A11"));
    const QString doc = add(QStringLiteral("0"), QStringLiteral("Doc"));
    {
        TfrmSelectNode chooser(db(), TfrmSelectNode::Form::Placement);
        chooser.start(a11);
        EXPECT_EQ(chooser.selectedId(), a11);
        EXPECT_EQ(chooser.selectedPath(), QStringLiteral("/A/A1/A11/"));
        EXPECT_FALSE(chooser.selectedHasChildren());
    }
    {
        TfrmSelectNode folders(db(), TfrmSelectNode::Form::Placement, true);
        folders.start();
        EXPECT_EQ(folders.findItem(doc), nullptr);
        EXPECT_EQ(folders.selectedId(), a);
    }
    TfrmSelectNode checks(db(), TfrmSelectNode::Form::CheckBoxes);
    checks.start();
    QTreeWidgetItem* ia = checks.findItem(a);
    ASSERT_NE(ia, nullptr);
    ia->setExpanded(true);
    ia->setCheckState(0, Qt::Checked);
    // The loaded child takes the tick; a child loaded later takes it when its parent expands.
    EXPECT_EQ(checks.findItem(a1)->checkState(0), Qt::Checked);
    checks.findItem(a1)->setExpanded(true);
    EXPECT_EQ(checks.findItem(a11)->checkState(0), Qt::Checked);
    EXPECT_EQ(checks.checkedIds(), (QStringList{a, a1, a11}));
    ia->setCheckState(0, Qt::Unchecked);
    EXPECT_TRUE(checks.checkedIds().isEmpty());

    TfrmSelectNode handOver(db(), TfrmSelectNode::Form::HandOver);
    handOver.start();
    handOver.rbInsert->setChecked(true);
    EXPECT_FALSE(handOver.tvSelect->isEnabled());
    EXPECT_TRUE(handOver.insertIntoCurrent());
}

TEST_P(TreeUi, PropertyPanelFillsAndStores) {
    const QString n = add(QStringLiteral("0"), QStringLiteral("Doc"));
    session();
    std::vector<bool> changes;
    QObject::connect(props, &TPropertyPanel::modifiedChanged, [&](bool m) { changes.push_back(m); });
    ASSERT_TRUE(panel->openNode(n, QStringLiteral("link://document/Doc.htm")));
    EXPECT_TRUE(changes.empty()); // filling raises no change
    EXPECT_EQ(props->edtFullPath->text(), QStringLiteral("/"));
    props->edtKeyword->setText(QStringLiteral("tax 2024"));
    props->chkPassword->setChecked(true);
    props->memMemo->setPlainText(QStringLiteral("line one\nline two"));
    EXPECT_EQ(changes, std::vector<bool>{true});
    // Opening another node stores the panel first.
    panel->openNode(QStringLiteral("0"), QString());
    const std::optional<Tinfoproperty> p = ReadNodeProperties(db(), n);
    ASSERT_TRUE(p);
    EXPECT_EQ(p->keywords, QStringLiteral("tax 2024"));
    EXPECT_TRUE(p->isProtected);
    EXPECT_EQ(p->memo, QStringLiteral("line one\nline two"));
    EXPECT_FALSE(props->modified());
}

TEST_P(TreeUi, MaintenanceCompactsAndRepairsOnBothDatabases) {
    const QString n = add(QStringLiteral("0"), QStringLiteral("Doomed"));
    ASSERT_TRUE(MoveNodeToBin(db(), n, true));
    ASSERT_TRUE(EmptyRecycleBin(db()));
    session();
    onDialog = [](QDialog* d) {
        auto* m = static_cast<TFrmMaintenance*>(d);
        EXPECT_TRUE(m->chkClear->isChecked());
        EXPECT_FALSE(m->chkRepair->isChecked());
        m->chkRepair->setChecked(true);
        m->btnOK->click();
        return d->result() == QDialog::Accepted;
    };
    informed.clear();
    panel->maintenance();
    ASSERT_EQ(informed.size(), 1u);
    // A server is compacted by its own VACUUM, so both report success.
    EXPECT_EQ(informed[0], GetString(40333));
    // Purged rows are removed on both; the connection works afterwards and the tree still shows.
    EXPECT_EQ(
        db().scalar(QStringLiteral("select count(*) from info where id=:id"), {{QStringLiteral(":id"), n.toLongLong()}})
            .toLongLong(),
        0);
    EXPECT_TRUE(db().isOpen());
    EXPECT_NE(tv()->binItem(), nullptr);
}

ZEL_INSTANTIATE_DB_TEST(TreeUi);

} // namespace
} // namespace zel::test

// Another program works on the same file knowledge base while the tree is open: zel-cli in a
// process of its own adds and deletes nodes, and reads what the tree wrote.
namespace zel::test {
namespace {

class TreeWithCli : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(home_.isValid());
        ASSERT_EQ(cli({QStringLiteral("kb"), QStringLiteral("new"), QStringLiteral("t"), QStringLiteral("--folder"),
                       home_.path() + QStringLiteral("/data"), QStringLiteral("--file"), QStringLiteral("t.skm"),
                       QStringLiteral("--admin"), QStringLiteral("admin")},
                      false)
                      .first,
                  0);
        ASSERT_TRUE(db_.open(BuildConnectionString(0, home_.path() + QStringLiteral("/data/"), QStringLiteral("t.skm"),
                                                   QString(), QString())))
            << db_.lastError().toStdString();
        LoadSystemFolders(db_);
        LoadUserSettings(db_, QStringLiteral("admin"));
        ForgetUnlockedDocuments();
        Ask().inform = [this](QWidget*, const QString& text) { informed_.push_back(text); };
        Ask().confirm = [](QWidget*, const QString&) { return true; };
        panel_ = std::make_unique<TTreePanel>();
    }
    void TearDown() override {
        panel_.reset();
        db_.close();
        ResetAsk();
        CurrentUser() = TuserReg{};
    }
    // (exit status, output)
    std::pair<int, QString> cli(const QStringList& args, bool session = true) {
        QStringList all{QStringLiteral("--home"), home_.path()};
        if (session)
            all << QStringLiteral("-k") << QStringLiteral("t") << QStringLiteral("-u") << QStringLiteral("admin")
                << QStringLiteral("-p") << QString();
        all << args;
        QProcess p;
        p.start(QStringLiteral(ZEL_CLI_PATH), all);
        EXPECT_TRUE(p.waitForFinished(60000));
        EXPECT_EQ(p.exitCode(), 0) << args.join(u' ').toStdString() << ": "
                                   << QString::fromUtf8(p.readAllStandardError()).toStdString();
        return {p.exitCode(), QString::fromUtf8(p.readAllStandardOutput()).trimmed()};
    }

    QTemporaryDir home_;
    Database db_;
    std::unique_ptr<TTreePanel> panel_;
    std::vector<QString> informed_;
};

TEST_F(TreeWithCli, TreeAndAnotherProcessSeeEachOthersChanges) {
    const QString folder =
        cli({QStringLiteral("node"), QStringLiteral("add"), QStringLiteral("0"), QStringLiteral("Shared")}).second;
    const QString first = cli({QStringLiteral("node"), QStringLiteral("add"), folder, QStringLiteral("First")}).second;
    panel_->openSession(&db_, QStringLiteral("t"));
    TvMain* tv = panel_->tree();
    QTreeWidgetItem* f = tv->findItem(folder);
    ASSERT_NE(f, nullptr);
    f->setExpanded(true);
    ASSERT_EQ(f->childCount(), 1);

    // The other process adds a node: the next expansion shows it.
    const QString second =
        cli({QStringLiteral("node"), QStringLiteral("add"), folder, QStringLiteral("Second")}).second;
    tv->reloadChildren(f);
    EXPECT_NE(tv->findItem(second), nullptr);

    // The other process deletes a node the tree still shows: renaming it is refused.
    cli({QStringLiteral("node"), QStringLiteral("delete"), first});
    QTreeWidgetItem* stale = tv->findItem(first);
    ASSERT_NE(stale, nullptr);
    EXPECT_FALSE(panel_->renameItem(stale, QStringLiteral("Renamed")));
    ASSERT_EQ(informed_.size(), 1u);
    EXPECT_EQ(informed_[0], GetString(40308));
    EXPECT_EQ(tv->findItem(first), nullptr);

    // What the tree writes, the other process reads.
    const QString target =
        cli({QStringLiteral("node"), QStringLiteral("add"), QStringLiteral("0"), QStringLiteral("Target")}).second;
    tv->reloadChildren(tv->rootItem());
    f = tv->findItem(folder);
    f->setExpanded(true);
    ASSERT_TRUE(panel_->moveItem(tv->findItem(second), tv->findItem(target)));
    EXPECT_TRUE(cli({QStringLiteral("node"), QStringLiteral("ls"), target}).second.contains(QStringLiteral("Second")));
    EXPECT_FALSE(cli({QStringLiteral("node"), QStringLiteral("ls"), folder}).second.contains(QStringLiteral("Second")));
}

} // namespace
} // namespace zel::test

// The tree inside the main window: the session hooks build it, the window's commands drive it, and
// an opened node's stored page shows in the "Normal" view.
namespace zel::test {
namespace {

class TreeInFrame : public StoreTest {
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
        Ask().confirm = [](QWidget*, const QString&) { return true; };
    }
    void TearDown() override {
        ResetAsk();
        CurrentUser() = TuserReg{};
        StoreTest::TearDown();
    }
    // The text the viewer shows once its page has loaded.
    static QString viewerText(TFrmMain& frame) {
        QString text;
        bool done = false;
        frame.viewBrowser()->page()->toPlainText([&](const QString& t) {
            text = t;
            done = true;
        });
        QElapsedTimer guard;
        guard.start();
        while (!done && guard.elapsed() < 20000)
            QApplication::processEvents(QEventLoop::AllEvents, 20);
        return text;
    }
    static bool waitLoaded(TFrmMain& frame, bool& loaded) {
        QElapsedTimer guard;
        guard.start();
        while (!loaded && guard.elapsed() < 30000)
            QApplication::processEvents(QEventLoop::AllEvents, 20);
        return loaded;
    }
    QTemporaryDir home_;
};

TEST_P(TreeInFrame, SessionCommandsAndTheNormalView) {
    const QString folder = add(QStringLiteral("0"), QStringLiteral("Folder"));
    const QString doc = add(folder, QStringLiteral("Doc"));
    ASSERT_TRUE(WriteDocumentText(db(), doc, QStringLiteral("<html><body><p>marker text 42</p></body></html>")));
    TFrmMain frame;
    TTreePanel* panel = AttachKnowledgeTree(frame);
    ASSERT_EQ(panel->parentWidget(), frame.contentPage());
    bool loaded = false;
    QObject::connect(frame.viewBrowser(), &QWebEngineView::loadFinished, [&](bool) { loaded = true; });

    emit frame.sessionOpened(db(), QStringLiteral("KB"));
    TvMain* tv = panel->tree();
    ASSERT_NE(tv->rootItem(), nullptr);
    EXPECT_EQ(tv->rootItem()->text(0), QStringLiteral("KB"));
    QAction* child = frame.command(QStringLiteral("btnChild"));
    QAction* remove = frame.command(QStringLiteral("btnDeleteIndex"));
    ASSERT_TRUE(child && remove);

    // Selecting the document shows its stored page, read-only, in the "Normal" view.
    ASSERT_TRUE(tv->selectNode(doc));
    loaded = false;
    panel->openItem(tv->currentItem());
    ASSERT_TRUE(waitLoaded(frame, loaded));
    EXPECT_EQ(frame.documentTabs()->currentIndex(), 0);
    EXPECT_TRUE(viewerText(frame).contains(QStringLiteral("marker text 42")));
    EXPECT_TRUE(child->isEnabled());
    EXPECT_TRUE(remove->isEnabled());

    // Property fields on the window's tabs: an edit makes "Save" available, which stores it.
    auto* keyword = frame.propertyTabs()->findChild<QLineEdit*>(QStringLiteral("edtKeyword"));
    ASSERT_NE(keyword, nullptr);
    keyword->setText(QStringLiteral("from the panel"));
    QAction* save = frame.command(QStringLiteral("btnSave"));
    ASSERT_NE(save, nullptr);
    EXPECT_TRUE(save->isEnabled());
    save->trigger();
    EXPECT_EQ(ReadNodeProperties(db(), doc)->keywords, QStringLiteral("from the panel"));

    // The window's command runs the tree's: "Delete Document" puts the document into the bin.
    remove->trigger();
    EXPECT_EQ(state(QStringLiteral("info"), doc), QStringLiteral("Y"));
    EXPECT_EQ(tv->findItem(doc), nullptr);

    // The root shows the file list with its children.
    tv->setCurrentItem(tv->rootItem());
    panel->openItem(tv->rootItem());
    EXPECT_EQ(frame.documentTabs()->currentIndex(), 3);
    auto* list = frame.fileListPage()->findChild<TFileList*>();
    ASSERT_NE(list, nullptr);
    EXPECT_NE(list->rowFor(folder), nullptr);
    EXPECT_FALSE(remove->isEnabled()); // not for the root
    EXPECT_FALSE(frame.command(QStringLiteral("btnCustomAscend"))->isChecked());
    frame.command(QStringLiteral("btnCustomAscend"))->trigger();
    EXPECT_EQ(tv->sortNumber(), 6);
    EXPECT_EQ(CurrentUser().sortOrder, 6);

    // The user settings pick the default document with the node chooser.
    {
        TfrmUserSet settings(db());
        settings.show();
        auto* field = settings.findChild<QLineEdit*>(QStringLiteral("edtDefaultDocument"));
        ASSERT_NE(field, nullptr);
        QAction* pick = settings.findChild<QAction*>(QStringLiteral("btnSelectDefaultDocument"));
        ASSERT_NE(pick, nullptr);
        Ask().exec = [&](QDialog* d) {
            auto* chooser = qobject_cast<TfrmSelectNode*>(d);
            if (!chooser) return false;
            chooser->tvSelect->setCurrentItem(chooser->findItem(folder));
            return true;
        };
        pick->trigger();
        EXPECT_EQ(field->text(), QStringLiteral("/Folder/"));
        ASSERT_TRUE(settings.store());
        EXPECT_EQ(CurrentUser().defaultDocument, folder);
        settings.close();
    }

    // A sort order saved in the user settings applies at once.
    CurrentUser().sortOrder = 17;
    emit frame.userSettingsChanged();
    EXPECT_EQ(tv->sortNumber(), 17);
    EXPECT_TRUE(frame.command(QStringLiteral("btnCreateDateDescend"))->isChecked());

    emit frame.sessionClosing();
    EXPECT_EQ(tv->topLevelItemCount(), 0);
    EXPECT_FALSE(child->isEnabled());
}

// A language change relabels what the tree owns, not only the window's commands.
TEST_P(TreeInFrame, LanguageChangeRelabelsTheTree) {
    TFrmMain frame;
    frame.setConfirmExit(false);
    TTreePanel* panel = AttachKnowledgeTree(frame);
    emit frame.sessionOpened(db(), QStringLiteral("KB"));
    const QStringList files = ResourceManager().languageFiles();
    const int german = int(files.indexOf(QDir(programDirectory()).filePath(QStringLiteral("language/german.lng"))));
    const int english = int(files.indexOf(QDir(programDirectory()).filePath(QStringLiteral("language/english.lng"))));
    ASSERT_GE(german, 0);
    ASSERT_GE(english, 0);
    frame.changeLanguage(german);
    EXPECT_EQ(panel->tree()->binItem()->text(0), QStringLiteral("Papierkorb"));
    EXPECT_EQ(panel->tree()->accessibleName(), QStringLiteral("Inhalt"));
    EXPECT_EQ(panel->fileList()->headerItem()->text(0), QStringLiteral("Dateiname"));
    EXPECT_EQ(panel->action(TreeCommand::Open)->text(), GetString(46164).remove(u'&'));
    EXPECT_NE(panel->action(TreeCommand::Open)->text(), QStringLiteral("Open"));
    frame.changeLanguage(english);
    EXPECT_EQ(panel->tree()->binItem()->text(0), GetString(41036));
    emit frame.sessionClosing();
}

ZEL_INSTANTIATE_DB_TEST(TreeInFrame);

} // namespace
} // namespace zel::test
