#include "tree/ui/TTreePanel.h"

#include <QAction>
#include <QActionGroup>
#include <QApplication>
#include <QEventLoop>
#include <QMenu>
#include <QProgressDialog>
#include <QThread>
#include <QVBoxLayout>

#include "platform/Database.h"
#include "shell/RuntimeSettings.h"
#include "shell/Strings.h"
#include "shell/ui/TFrmBaseProperty.h"
#include "shell/ui/TFrmWait.h"
#include "store/Nodes.h"
#include "store/RecycleBin.h"
#include "store/Users.h"
#include "tree/ui/NodeImages.h"
#include "tree/ui/TFileList.h"
#include "tree/ui/TFrmDocPassword.h"
#include "tree/ui/TFrmFolder.h"
#include "tree/ui/TFrmMaintenance.h"
#include "tree/ui/TPropertyPanel.h"
#include "tree/ui/TfrmSelectNode.h"
#include "tree/ui/TreeAsk.h"
#include "tree/ui/TvMain.h"

namespace zel {

namespace {

constexpr int kSortNumbers[8] = {0, 1, 4, 5, 16, 17, 6, 7};

int sortIndex(int number) {
    for (int i = 0; i < 8; ++i)
        if (kSortNumbers[i] == number) return i;
    return -1;
}

struct CommandText {
    TreeCommand command;
    int ident;
};
constexpr CommandText kCommandTexts[] = {
    {TreeCommand::Open, 46164},
    {TreeCommand::NewDocument, 46072},
    {TreeCommand::NewSubDocument, 46071},
    {TreeCommand::Rename, 46073},
    {TreeCommand::MoveTo, 41034},
    {TreeCommand::Delete, 46074},
    {TreeCommand::MarkRead, 41194},
    {TreeCommand::MarkUnread, 41195},
    {TreeCommand::ColourSign, 41196},
    {TreeCommand::Import, 40011},
    {TreeCommand::SendToMail, 41140},
    {TreeCommand::Replay, 41151},
    {TreeCommand::Property, 46075},
    {TreeCommand::EmptyBin, 41043},
    {TreeCommand::Restore, 41053},
    {TreeCommand::DefaultDocument, 46076},
    {TreeCommand::DefaultPage, 40030},
    {TreeCommand::Sort, 46077},
    {TreeCommand::MoveUp, 46078},
    {TreeCommand::MoveDown, 46079},
    {TreeCommand::Back, 40028},
    {TreeCommand::Forward, 40029},
    {TreeCommand::SetDocumentPassword, 41334},
};
constexpr int kSortTexts[8] = {46080, 46081, 46084, 46085, 46082, 46083, 46086, 46087};

QString caption(int ident) {
    return GetString(ident).remove(u'&');
}

} // namespace

TTreePanel::TTreePanel(QWidget* parent) : QWidget(parent), tv_(new TvMain(this)) {
    setObjectName(QStringLiteral("TreePanel"));
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(tv_);

    for (const CommandText& t : kCommandTexts) {
        auto* a = new QAction(caption(t.ident), this);
        a->setObjectName(TreeCommandName(t.command));
        actions_[int(t.command)] = a;
    }
    sortGroup_ = new QActionGroup(this);
    for (int i = 0; i < 8; ++i) {
        auto* a = new QAction(caption(kSortTexts[i]), this);
        a->setCheckable(true);
        sortGroup_->addAction(a);
        sortActions_[i] = a;
        const int number = kSortNumbers[i];
        connect(a, &QAction::triggered, this, [this, number] { sortBy(number); });
    }
    // Default wiring; bindAction moves it to the window's own actions.
    for (int c = 0; c < kTreeCommandCount; ++c)
        bindAction(TreeCommand(c), actions_[c]);

    pmTree_ = new QMenu(this);
    pmTree_->setObjectName(QStringLiteral("pmTree"));
    pmRecycle_ = new QMenu(this);
    pmRecycle_->setObjectName(QStringLiteral("pmRecycle"));
    auto fillMenus = [this] {
        pmTree_->clear();
        for (TreeCommand c : {TreeCommand::Open, TreeCommand::NewDocument, TreeCommand::NewSubDocument,
                              TreeCommand::Delete, TreeCommand::Rename, TreeCommand::MoveTo})
            pmTree_->addAction(actions_[int(c)]);
        pmTree_->addSeparator();
        for (TreeCommand c :
             {TreeCommand::MarkRead, TreeCommand::MarkUnread, TreeCommand::ColourSign, TreeCommand::DefaultDocument})
            pmTree_->addAction(actions_[int(c)]);
        pmTree_->addSeparator();
        QMenu* sort = pmTree_->addMenu(actions_[int(TreeCommand::Sort)]->text());
        for (QAction* a : sortActions_)
            sort->addAction(a);
        pmTree_->addAction(actions_[int(TreeCommand::MoveUp)]);
        pmTree_->addAction(actions_[int(TreeCommand::MoveDown)]);
        pmTree_->addSeparator();
        pmTree_->addAction(actions_[int(TreeCommand::Property)]);
        pmRecycle_->clear();
        for (TreeCommand c : {TreeCommand::Open, TreeCommand::EmptyBin, TreeCommand::Property})
            pmRecycle_->addAction(actions_[int(c)]);
    };
    fillMenus();

    connect(tv_, &TvMain::itemReleased, this, &TTreePanel::onReleased);
    connect(tv_, &TvMain::enterPressed, this, &TTreePanel::onEnter);
    connect(tv_, &TvMain::focusMovedByKey, this, &TTreePanel::onKeyMoved);
    connect(tv_, &TvMain::deletePressed, this, &TTreePanel::onDeleteKey);
    connect(tv_, &TvMain::nodeDropped, this, &TTreePanel::onDropped);
    connect(tv_, &TvMain::rowsDropped, this, &TTreePanel::onRowsDropped);
    connect(tv_, &TvMain::contextMenuWanted, this, &TTreePanel::onContextMenu);
    connect(tv_, &TvMain::renameRequested, this,
            [this](QTreeWidgetItem* item, const QString& text) { renameItem(item, text); });
    connect(tv_, &QTreeWidget::currentItemChanged, this, [this] { recomputeStates(); });
    tv_->setPasswordPrompt([this](const QString& title, const QString& prompt) {
        return Ask().password ? Ask().password(this, title, prompt) : std::nullopt;
    });
    readTimer_.setSingleShot(true);
    connect(&readTimer_, &QTimer::timeout, this, &TTreePanel::onReadTimer);
    recomputeStates();
}

QString TTreePanel::itemIdOf(const QTreeWidgetItem* item) {
    return TvMain::itemId(item);
}

void TTreePanel::setFileList(TFileList* list) {
    fileList_ = list;
    if (list) {
        list->setTreePanel(this);
        list->setDatabase(db_);
    }
}

void TTreePanel::setPropertyPanel(TPropertyPanel* panel) {
    props_ = panel;
    if (panel) panel->setDatabase(db_);
}

void TTreePanel::applyLanguage() {
    for (const CommandText& t : kCommandTexts)
        if (QAction* a = actions_[int(t.command)]; a && a->parent() == this) a->setText(caption(t.ident));
    for (int i = 0; i < 8; ++i)
        if (sortActions_[i] && sortActions_[i]->parent() == this) sortActions_[i]->setText(caption(kSortTexts[i]));
    tv_->applyLanguage();
    if (fileList_) fileList_->applyLanguage();
}

void TTreePanel::bindAction(TreeCommand c, QAction* a) {
    QAction* old = actions_[int(c)];
    if (old && old != a) {
        disconnect(old, nullptr, this, nullptr);
        // Menus built from the old action take the new one.
        for (QMenu* m : {pmTree_, pmRecycle_}) {
            if (!m) continue;
            m->insertAction(old, a);
            m->removeAction(old);
        }
    }
    actions_[int(c)] = a;
    using Slot = void (TTreePanel::*)();
    Slot slot = nullptr;
    switch (c) {
    case TreeCommand::Open:
        slot = &TTreePanel::open;
        break;
    case TreeCommand::NewDocument:
        slot = &TTreePanel::newDocument;
        break;
    case TreeCommand::NewSubDocument:
        slot = &TTreePanel::newSubDocument;
        break;
    case TreeCommand::Rename:
        slot = &TTreePanel::rename;
        break;
    case TreeCommand::MoveTo:
        slot = &TTreePanel::moveTo;
        break;
    case TreeCommand::Delete:
        slot = &TTreePanel::deleteDocument;
        break;
    case TreeCommand::MarkRead:
        slot = &TTreePanel::markRead;
        break;
    case TreeCommand::MarkUnread:
        slot = &TTreePanel::markUnread;
        break;
    case TreeCommand::ColourSign:
        slot = &TTreePanel::colourSign;
        break;
    case TreeCommand::Property:
        slot = &TTreePanel::property;
        break;
    case TreeCommand::EmptyBin:
        slot = &TTreePanel::emptyRecycleBin;
        break;
    case TreeCommand::Restore:
        slot = &TTreePanel::restore;
        break;
    case TreeCommand::DefaultDocument:
        slot = &TTreePanel::setDefaultDocument;
        break;
    case TreeCommand::DefaultPage:
        slot = &TTreePanel::defaultPage;
        break;
    case TreeCommand::MoveUp:
        slot = &TTreePanel::moveUp;
        break;
    case TreeCommand::MoveDown:
        slot = &TTreePanel::moveDown;
        break;
    case TreeCommand::Back:
        slot = &TTreePanel::back;
        break;
    case TreeCommand::Forward:
        slot = &TTreePanel::forward;
        break;
    case TreeCommand::SetDocumentPassword:
        slot = &TTreePanel::setDocumentPassword;
        break;
    default:
        break; // Import, mail commands and the sort menu belong to others
    }
    if (slot && a) connect(a, &QAction::triggered, this, slot);
    if (a) a->setEnabled(states_[c]);
}

QAction* TTreePanel::sortAction(int number) const {
    const int i = sortIndex(number);
    return i < 0 ? nullptr : sortActions_[i];
}

void TTreePanel::bindSortAction(int number, QAction* a) {
    const int i = sortIndex(number);
    if (i < 0 || !a) return;
    sortGroup_->removeAction(sortActions_[i]);
    a->setCheckable(true);
    sortGroup_->addAction(a);
    sortActions_[i] = a;
    connect(a, &QAction::triggered, this, [this, number] { sortBy(number); });
    applySortChecks();
}

bool TTreePanel::fileListActive() const {
    return fileList_ && fileList_->isActive();
}

// --- Session -------------------------------------------------------------------------------------

void TTreePanel::openSession(Database* db, const QString& knowledgeBaseName) {
    db_ = db;
    kbName_ = knowledgeBaseName;
    tv_->setDatabase(db);
    if (fileList_) fileList_->setDatabase(db);
    if (props_) props_->setDatabase(db);
    history_.clear();
    currentId_.clear();
    currentUrl_.clear();
    clickedId_.clear();
    tv_->applySort(IsKnownSortNumber(CurrentUser().sortOrder) ? CurrentUser().sortOrder : 0);
    tv_->buildRoot(knowledgeBaseName);
    applySortChecks();
    const QString def = CurrentUser().defaultDocument.trimmed();
    bool selected = false;
    if (!def.isEmpty() && def != QStringLiteral("0")) selected = tv_->selectNode(def);
    if (!selected) {
        QTreeWidgetItem* root = tv_->rootItem();
        // The first child of the root, unless the knowledge base is empty (only root and bin).
        if (root && root->childCount() > 1)
            tv_->setCurrentItem(root->child(0));
        else if (root)
            tv_->setCurrentItem(root);
    }
    if (QTreeWidgetItem* item = tv_->currentItem()) openItem(item);
    recomputeStates();
}

void TTreePanel::closeSession() {
    readTimer_.stop();
    if (props_) {
        if (props_->modified()) props_->store();
        props_->clear();
    }
    tv_->clear();
    if (fileList_) fileList_->clearRows();
    history_.clear();
    currentId_.clear();
    currentUrl_.clear();
    clickedId_.clear();
    db_ = nullptr;
    tv_->setDatabase(nullptr);
    recomputeStates();
}

// --- Long store changes -------------------------------------------------------------------------

namespace {
int longRows = 1000;
}

int TTreePanel::longOperationRows() {
    return longRows;
}

void TTreePanel::setLongOperationRows(int rows) {
    longRows = rows;
}

bool TTreePanel::runStore(const QString& text, int rows, const std::function<bool(Database&)>& op) {
    if (!db_) return false;
    if (rows < longRows) {
        QApplication::setOverrideCursor(Qt::WaitCursor);
        const bool ok = op(*db_);
        QApplication::restoreOverrideCursor();
        return ok;
    }
    // The change is one transaction on its own connection: the main connection stays idle meanwhile,
    // and the modal wait window keeps the user from starting anything else.
    TFrmWait wait(this);
    wait.setText(text);
    wait.setWindowModality(Qt::ApplicationModal);
    wait.show();
    const QString conn = db_->connectionString();
    bool ok = false;
    QString error;
    QEventLoop loop;
    QThread* worker = QThread::create([&] {
        Database own;
        if (!own.open(conn)) {
            error = own.lastError();
            return;
        }
        ok = op(own);
        if (!ok) error = own.lastError();
    });
    connect(worker, &QThread::finished, &loop, &QEventLoop::quit);
    worker->start();
    loop.exec();
    worker->wait();
    delete worker;
    wait.close();
    if (!ok) db_->setError(error);
    return ok;
}

// --- Opening -------------------------------------------------------------------------------------

bool TTreePanel::openNode(const QString& id, const QString& url, bool fromHistory) {
    if (!db_) return false;
    const qint64 n = id.toLongLong();
    if (n > 0) {
        if (!ensureLive(id, tv_->findItem(id))) return false;
        const PasswordPrompt prompt = [this](const QString& t, const QString& p) {
            return Ask().password ? Ask().password(this, t, p) : std::nullopt;
        };
        if (!CheckDocumentPassword(*db_, id, prompt)) return false;
    }
    if (leaveGuard_ && id != currentId_ && !leaveGuard_()) return false;
    // Properties edited in the panel are stored before another node shows.
    if (props_ && props_->modified()) props_->store();
    if (!fromHistory && !currentId_.isEmpty() && currentId_ != id) history_.opened({currentId_, currentUrl_});
    currentId_ = id;
    currentUrl_ = url;
    clickedId_ = id;
    if (props_) props_->fill(id);
    readTimer_.stop();
    if (n > 0) readTimer_.start(qMax(0, CurrentUser().markTime) * 1000);
    // The list follows the opened node while it is in view.
    if (fileList_ && (n <= 0 || fileList_->isVisible())) fileList_->fill(id);
    if (n <= 0) emit fileListWanted(id);
    emit nodeOpened(id, url);
    recomputeStates();
    return true;
}

void TTreePanel::openItem(QTreeWidgetItem* item, bool fromHistory) {
    if (!item) return;
    const QString id = itemIdOf(item);
    openNode(id, id.toLongLong() > 0 ? TvMain::linkUrl(item) : QString(), fromHistory);
}

void TTreePanel::onReleased(QTreeWidgetItem* item) {
    if (!item) return;
    clickedId_ = itemIdOf(item);
    if (itemIdOf(item) != currentId_) openItem(item);
}

void TTreePanel::onEnter() {
    QTreeWidgetItem* item = tv_->currentItem();
    if (item && itemIdOf(item) != clickedId_) openItem(item);
}

void TTreePanel::onKeyMoved() {
    QTreeWidgetItem* item = tv_->currentItem();
    if (item && itemIdOf(item) != clickedId_) openItem(item);
}

void TTreePanel::open() {
    if (fileListActive()) {
        fileList_->openFocused();
        return;
    }
    QTreeWidgetItem* item = tv_->currentItem();
    if (!item) return;
    if (TvMain::itemIdValue(item) <= 0 && itemIdOf(item) == currentId_) {
        // The root and the bin show their file list; opening them again refills it.
        if (fileList_) fileList_->fill(currentId_);
        emit fileListWanted(currentId_);
        return;
    }
    openItem(item);
}

void TTreePanel::onReadTimer() {
    if (!db_ || clickedId_ != currentId_ || currentId_.toLongLong() <= 0) return;
    if (!SetReadMark(*db_, currentId_, true)) return;
    if (QTreeWidgetItem* item = tv_->findItem(currentId_)) tv_->setItemRead(item, true);
    if (fileList_) fileList_->setRowRead(currentId_, true);
}

// --- Checks --------------------------------------------------------------------------------------

bool TTreePanel::ensureLive(const QString& id, QTreeWidgetItem* item) {
    if (!db_) return false;
    if (IsLiveNode(*db_, id)) return true;
    Ask().inform(this, GetString(40308));
    // Show what the store holds: the parent's children are read again.
    if (item) {
        QTreeWidgetItem* parent = item->parent();
        if (parent) {
            tv_->updateItem(parent);
            tv_->reloadChildren(parent);
        }
        tv_->refreshBin();
    }
    if (fileList_ && fileList_->isShown()) fileList_->fill(fileList_->shownId());
    return false;
}

// --- Move, copy, delete, rename ------------------------------------------------------------------

bool TTreePanel::moveNode(const QString& id, QTreeWidgetItem* item, QTreeWidgetItem* target, bool fromFileList) {
    if (!db_ || !target || id.toLongLong() <= 0) return false;
    const QString targetId = itemIdOf(target);
    if (targetId.toLongLong() < 0) return false; // the bin takes nodes by deletion only
    const QString path = GetChildPath(*db_, targetId);
    const QString ownPath = GetChildPath(*db_, id);
    if (targetId == id || (!ownPath.isEmpty() && path.startsWith(ownPath))) {
        Ask().inform(this, GetString(41046));
        return false;
    }
    const QStringList chain = ownPath.split(u'/', Qt::SkipEmptyParts);
    const QString parentId = chain.size() >= 2 ? chain[chain.size() - 2] : QStringLiteral("0");
    if (parentId == targetId) {
        Ask().inform(this, GetString(41047));
        return false;
    }
    if (!ensureLive(id, item) || !ensureLive(targetId, target)) return false;
    const QString caption = GetNodeCaption(*db_, id);
    if (IsSiblingCaptionTaken(*db_, targetId, id, caption)) {
        Ask().inform(this, GetString(40314));
        return false;
    }
    int sort = 0;
    db_->setError(QString());
    runStore(GetString(41045), CountSubtree(*db_, id) + 1, [&](Database& db) {
        sort = MoveNode(db, targetId, id);
        return sort != 0;
    });
    QTreeWidgetItem* oldParent = item ? item->parent() : tv_->findItem(parentId);
    if (sort == 0) {
        // Without a database error the store refused the target (it came to lie below the node).
        Ask().inform(this, db_->lastError().isEmpty() ? GetString(41046) : db_->lastError());
        if (oldParent) tv_->reloadChildren(oldParent);
        return false;
    }
    const bool wasCurrentItem = item && item == tv_->currentItem();
    if (item) delete item;
    if (target->isExpanded()) {
        if (QTreeWidgetItem* moved = tv_->addNodeItem(target, id)) {
            tv_->sortChildrenOf(target);
            if (wasCurrentItem) tv_->setCurrentItem(moved);
        }
    }
    tv_->updateItem(target);
    if (oldParent) tv_->updateItem(oldParent);
    if (!fromFileList && fileList_ && fileList_->isShown()) {
        if (targetId == fileList_->shownId()) fileList_->addRow(id);
        if (parentId == fileList_->shownId()) fileList_->removeRow(id);
    }
    // The moved node's path changed: its link URL follows.
    if (id == currentId_) {
        if (QTreeWidgetItem* moved = tv_->findItem(id)) currentUrl_ = TvMain::linkUrl(moved);
    }
    recomputeStates();
    return true;
}

bool TTreePanel::copyItem(QTreeWidgetItem* item, QTreeWidgetItem* target) {
    if (!db_ || !item || !target) return false;
    const QString id = itemIdOf(item), targetId = itemIdOf(target);
    if (id.toLongLong() <= 0 || targetId.toLongLong() < 0) return false;
    if (target == item || TvMain::isBelow(target, item)) {
        Ask().inform(this, GetString(41046));
        return false;
    }
    if (target == item->parent()) {
        Ask().inform(this, GetString(41047));
        return false;
    }
    if (!ensureLive(id, item) || !ensureLive(targetId, target)) return false;
    if (IsSiblingCaptionTaken(*db_, targetId, QStringLiteral("0"), item->text(0))) {
        Ask().inform(this, GetString(40314));
        return false;
    }
    const std::optional<NodeItem> row = ReadNodeItem(*db_, id);
    bool withChildren = false;
    if (row && row->hasChild == QStringLiteral("Y")) withChildren = Ask().confirm(this, GetString(41056));
    QString copy;
    if (withChildren) {
        // A subtree copy may be long: progress with Cancel, which undoes the copy.
        QProgressDialog dlg(GetString(41055), GetString(43003).remove(u'&'), 0, 100, this);
        dlg.setWindowModality(Qt::WindowModal);
        dlg.setMinimumDuration(500);
        Progress p;
        p.start = [&](const QString&, int maximum) { dlg.setMaximum(qMax(1, maximum)); };
        p.step = [&](int n) {
            dlg.setValue(qMin(dlg.maximum(), dlg.value() + n));
            QApplication::processEvents();
            return !dlg.wasCanceled();
        };
        copy = CopySubtree(*db_, true, targetId, id, p);
    } else {
        QApplication::setOverrideCursor(Qt::WaitCursor);
        copy = CopySubtree(*db_, false, targetId, id);
        QApplication::restoreOverrideCursor();
    }
    if (copy.isEmpty()) {
        if (!db_->lastError().isEmpty()) Ask().inform(this, db_->lastError());
        return false;
    }
    tv_->updateItem(target);
    if (target->isExpanded()) {
        tv_->addNodeItem(target, copy);
        tv_->sortChildrenOf(target);
    }
    if (fileList_ && fileList_->isShown() && targetId == fileList_->shownId()) fileList_->addRow(copy);
    return true;
}

bool TTreePanel::deleteItem(QTreeWidgetItem* item) {
    if (!db_ || !item) return false;
    const QString id = itemIdOf(item);
    const qint64 n = id.toLongLong();
    if (n <= 0 || tv_->isOutbox(n) || tv_->isSentbox(n)) return false;
    if (!Ask().confirm(this, GetString(40311))) return false;
    const bool children = item->childIndicatorPolicy() == QTreeWidgetItem::ShowIndicator || item->childCount() > 0;
    if (children && !Ask().confirm(this, GetString(40312))) return false;
    if (!ensureLive(id, item)) return false;
    // The live subtree always goes with the node, even when another user gave it children meanwhile:
    // no live node may stay below one in the bin.
    const bool ok = runStore(GetString(41050), CountSubtree(*db_, id) + 1,
                             [&](Database& db) { return MoveNodeToBin(db, id, true); });
    if (!ok) {
        Ask().inform(this, db_->lastError());
        return false;
    }
    QTreeWidgetItem* parent = item->parent();
    const QString parentId = itemIdOf(parent);
    if (fileList_ && fileList_->isShown() && fileList_->shownId() == parentId) fileList_->removeRow(id);
    const bool wasCurrent = id == currentId_;
    delete item;
    if (parent) tv_->updateItem(parent);
    tv_->refreshBin();
    if (wasCurrent) {
        currentId_.clear();
        currentUrl_.clear();
        if (QTreeWidgetItem* focused = tv_->currentItem()) openItem(focused);
    }
    recomputeStates();
    return true;
}

bool TTreePanel::renameItem(QTreeWidgetItem* item, const QString& text) {
    if (!db_ || !item) return false;
    const QString id = itemIdOf(item);
    if (id.toLongLong() <= 0) return false;
    const QString name = text.trimmed();
    if (name.isEmpty() || name == item->text(0)) return false;
    const QString parentId = item->parent() ? itemIdOf(item->parent()) : QStringLiteral("0");
    const int problem = CheckNodeName(*db_, name, parentId, id);
    if (problem == 40434) {
        Ask().inform(this, GetString(40315));
        return false;
    }
    if (problem == 41018) {
        // A name path separator inside a caption would split the node's path.
        Ask().inform(this, GetString(41018).replace(QStringLiteral("%s"), QStringLiteral("/ \\ #")));
        return false;
    }
    if (!ensureLive(id, item)) return false;
    if (!RenameNode(*db_, name, id)) {
        Ask().inform(this, db_->lastError());
        return false;
    }
    item->setText(0, name);
    if (id == currentId_) currentUrl_ = TvMain::linkUrl(item);
    if (fileList_ && fileList_->isShown()) fileList_->setRowCaption(id, name);
    return true;
}

void TTreePanel::onDropped(QTreeWidgetItem* dragged, QTreeWidgetItem* target, bool copy) {
    // The focus goes back to the item clicked before the drag.
    if (QTreeWidgetItem* clicked = tv_->findItem(clickedId_)) tv_->setCurrentItem(clicked);
    if (TvMain::itemIdValue(target) == -1)
        deleteItem(dragged);
    else if (copy)
        copyItem(dragged, target);
    else
        moveItem(dragged, target);
}

void TTreePanel::onRowsDropped(QTreeWidgetItem* target) {
    if (!fileList_) return;
    if (TvMain::itemIdValue(target) == -1)
        fileList_->deleteRows();
    else
        fileList_->moveRows(target);
}

void TTreePanel::onDeleteKey() {
    QTreeWidgetItem* item = tv_->currentItem();
    const qint64 n = TvMain::itemIdValue(item);
    if (!item || n <= 0 || tv_->isOutbox(n) || tv_->isSentbox(n) || item->text(ColInbox) == QStringLiteral("Y")) return;
    deleteItem(item);
}

void TTreePanel::deleteDocument() {
    if (fileListActive()) {
        fileList_->deleteRows();
        return;
    }
    if (!states_[TreeCommand::Delete]) return;
    deleteItem(tv_->currentItem());
}

void TTreePanel::rename() {
    if (fileListActive()) {
        fileList_->editFocused();
        return;
    }
    QTreeWidgetItem* item = tv_->currentItem();
    if (item && TvMain::itemIdValue(item) > 0 && (item->flags() & Qt::ItemIsEditable)) tv_->editItem(item, 0);
}

void TTreePanel::moveTo() {
    if (!db_) return;
    const bool list = fileListActive();
    QTreeWidgetItem* source = tv_->currentItem();
    const QString sourceId = itemIdOf(source);
    if (!list && sourceId.toLongLong() <= 0) return;
    const std::optional<TfrmSelectNode::Choice> choice = TfrmSelectNode::choose(*db_, sourceId, this);
    if (!choice) return;
    if (list) {
        if (!tv_->selectNode(choice->id)) return;
        fileList_->moveRows(tv_->currentItem());
        return;
    }
    // The target is selected in the tree, which may reload branches: find the source again by id.
    if (!tv_->selectNode(choice->id)) return;
    QTreeWidgetItem* target = tv_->currentItem();
    moveNode(sourceId, tv_->findItem(sourceId), target, false);
}

// --- New documents -------------------------------------------------------------------------------

void TTreePanel::newDocument() {
    createNode(false);
}

void TTreePanel::newSubDocument() {
    createNode(true);
}

void TTreePanel::createNode(bool subDocument) {
    if (!db_) return;
    QString parentId;
    const bool list = fileListActive();
    if (list) {
        if (subDocument) {
            parentId = fileList_->focusedId();
            if (parentId.isEmpty()) return;
        } else {
            parentId = fileList_->shownId();
        }
    } else {
        QTreeWidgetItem* item = tv_->currentItem();
        if (subDocument)
            parentId = itemIdOf(item);
        else
            parentId = item && item->parent() ? itemIdOf(item->parent()) : QString();
    }
    if (parentId.isEmpty() || parentId.toLongLong() < 0) parentId = QStringLiteral("0");
    TFrmFolder dialog(*db_, TFrmFolder::Mode::Create, this);
    dialog.fillForCreate(parentId);
    if (!Ask().exec(&dialog)) return;
    if (parentId != QStringLiteral("0") && !tv_->selectNode(parentId)) {
        if (!ensureLive(parentId, nullptr)) return;
    }
    if (parentId == QStringLiteral("0") && tv_->rootItem()) tv_->setCurrentItem(tv_->rootItem());
    QTreeWidgetItem* parentItem = parentId == QStringLiteral("0") ? tv_->rootItem() : tv_->findItem(parentId);
    if (!ensureLive(parentId, parentItem)) return;
    Tinfoproperty rec;
    rec.caption = dialog.name();
    rec.hidden = dialog.hide();
    rec.isProtected = dialog.passwordProtect();
    rec.keywords = dialog.keyword();
    rec.actor = CurrentUser().name;
    rec.placeholder = dialog.newDocumentMessage();
    rec.sortNumber = MaxSortNumber(*db_, parentId) + 1;
    const QString id = InsertNode(*db_, rec, parentId);
    if (id.isEmpty()) {
        Ask().inform(this, db_->lastError());
        return;
    }
    // Keywords are not part of the insert; they are stored with the other properties.
    if (!rec.keywords.trimmed().isEmpty()) {
        Tinfoproperty props = rec;
        UpdateNodeProperties(*db_, props, id);
    }
    if (parentId != QStringLiteral("0")) RefreshHasChild(*db_, parentId);
    QTreeWidgetItem* item = nullptr;
    if (parentItem) {
        tv_->updateItem(parentItem);
        if (parentItem->isExpanded()) {
            item = tv_->addNodeItem(parentItem, id);
            tv_->sortChildrenOf(parentItem);
        } else {
            parentItem->setExpanded(true); // reads the children, the new one included
            item = tv_->findItem(id);
        }
    }
    if (fileList_ && fileList_->isShown() && fileList_->shownId() == parentId) fileList_->addRow(id);
    if (item) {
        tv_->setCurrentItem(item);
        openItem(item);
    }
    emit editRequested(id);
}

// --- Marks and colour ----------------------------------------------------------------------------

void TTreePanel::markRead() {
    markFocused(true);
}

void TTreePanel::markUnread() {
    markFocused(false);
}

void TTreePanel::markFocused(bool read) {
    if (!db_) return;
    if (fileListActive()) {
        fileList_->markRows(read);
        return;
    }
    QTreeWidgetItem* item = tv_->currentItem();
    const QString id = itemIdOf(item);
    if (!item || id.toLongLong() <= 0 || !ensureLive(id, item)) return;
    if (!SetReadMark(*db_, id, read)) {
        Ask().inform(this, db_->lastError());
        return;
    }
    tv_->setItemRead(item, read);
    if (fileList_) fileList_->setRowRead(id, read);
}

void TTreePanel::colourSign() {
    if (!db_) return;
    if (fileListActive()) {
        fileList_->colourRows();
        return;
    }
    QTreeWidgetItem* item = tv_->currentItem();
    const QString id = itemIdOf(item);
    if (!item || id.toLongLong() <= 0) return;
    const std::optional<QColor> c = Ask().colour(this, item->foreground(0).color());
    if (!c || !ensureLive(id, item)) return;
    const qint64 stored = ColorToStored(*c);
    if (!SetFontColor(*db_, id, stored)) {
        Ask().inform(this, db_->lastError());
        return;
    }
    tv_->setItemColour(item, stored);
    if (fileList_) fileList_->setRowColour(id, stored);
}

// --- Order ---------------------------------------------------------------------------------------

void TTreePanel::sortBy(int number) {
    if (!IsKnownSortNumber(number)) return;
    tv_->applySort(number);
    if (db_) SetUserSortOrder(*db_, number);
    CurrentUser().sortOrder = number;
    applySortChecks();
    recomputeStates();
}

void TTreePanel::applySortChecks() {
    const int i = sortIndex(tv_->sortNumber());
    if (i >= 0) sortActions_[i]->setChecked(true);
}

void TTreePanel::moveUp() {
    moveSibling(-1);
}

void TTreePanel::moveDown() {
    moveSibling(1);
}

void TTreePanel::moveSibling(int delta) {
    if (!db_) return;
    const int number = tv_->sortNumber();
    if (number != 6 && number != 7) return;
    QTreeWidgetItem* item = tv_->currentItem();
    if (!item || TvMain::itemIdValue(item) <= 0) return;
    QTreeWidgetItem* parent = item->parent();
    const int at = parent ? parent->indexOfChild(item) : tv_->indexOfTopLevelItem(item);
    const int count = parent ? parent->childCount() : tv_->topLevelItemCount();
    const int other = at + delta;
    if (other < 0 || other >= count) return;
    QTreeWidgetItem* sibling = parent ? parent->child(other) : tv_->topLevelItem(other);
    if (TvMain::itemIdValue(sibling) <= 0) return;
    const QString id = itemIdOf(item), siblingId = itemIdOf(sibling);
    if (!ensureLive(id, item) || !ensureLive(siblingId, sibling)) return;
    const QString mine = item->text(ColSortNumber), theirs = sibling->text(ColSortNumber);
    {
        Transaction tx(*db_);
        if (!SetNodeSortNumber(*db_, id, theirs.toInt()) || !SetNodeSortNumber(*db_, siblingId, mine.toInt()) ||
            !tx.commit()) {
            Ask().inform(this, db_->lastError());
            return;
        }
    }
    item->setText(ColSortNumber, theirs);
    sibling->setText(ColSortNumber, mine);
    tv_->sortChildrenOf(parent);
    tv_->setCurrentItem(item);
    recomputeStates();
}

// --- Default document and history ----------------------------------------------------------------

void TTreePanel::setDefaultDocument() {
    if (!db_) return;
    QString id = itemIdOf(tv_->currentItem());
    if (id.toLongLong() <= 0) return;
    if (SetDefaultDocument(*db_, id)) CurrentUser().defaultDocument = id;
}

void TTreePanel::defaultPage() {
    if (!db_) return;
    const QString def = CurrentUser().defaultDocument.trimmed();
    bool found = false;
    if (!def.isEmpty() && def != QStringLiteral("0")) found = tv_->selectNode(def);
    if (!found && tv_->rootItem()) tv_->setCurrentItem(tv_->rootItem());
    QTreeWidgetItem* item = tv_->currentItem();
    if (item && itemIdOf(item) != currentId_) openItem(item);
}

void TTreePanel::back() {
    if (!history_.canBack()) return;
    const HistoryEntry e = history_.back({currentId_, currentUrl_});
    tv_->selectNode(e.id);
    openNode(e.id, e.url, true);
}

void TTreePanel::forward() {
    if (!history_.canForward()) return;
    const HistoryEntry e = history_.forward({currentId_, currentUrl_});
    tv_->selectNode(e.id);
    openNode(e.id, e.url, true);
}

// --- Bin -----------------------------------------------------------------------------------------

void TTreePanel::emptyRecycleBin() {
    if (!db_) return;
    if (!Ask().confirm(this, GetString(41039))) return;
    if (!EmptyRecycleBin(*db_)) {
        Ask().inform(this, db_->lastError());
        return;
    }
    if (fileList_ && fileList_->shownId() == QStringLiteral("-1")) fileList_->clearRows();
    tv_->refreshBin();
    recomputeStates();
}

void TTreePanel::restore() {
    if (fileList_) fileList_->restoreRows();
}

void TTreePanel::nodesRestored(const QList<qint64>& ids, const QList<qint64>& topLevel) {
    if (!db_) return;
    QSet<QTreeWidgetItem*> parents;
    for (qint64 id : ids) {
        const QStringList chain = GetChildPath(*db_, QString::number(id)).split(u'/', Qt::SkipEmptyParts);
        if (chain.size() < 2) continue;
        if (QTreeWidgetItem* p = tv_->findItem(chain[chain.size() - 2])) parents.insert(p);
    }
    for (QTreeWidgetItem* p : parents) {
        tv_->updateItem(p);
        tv_->reloadChildren(p);
    }
    if (QTreeWidgetItem* root = tv_->rootItem()) {
        for (qint64 id : topLevel)
            if (!tv_->findItem(QString::number(id))) tv_->addNodeItem(root, QString::number(id));
    }
    tv_->refreshBin();
}

// --- Dialogs -------------------------------------------------------------------------------------

void TTreePanel::property() {
    if (!db_) return;
    QTreeWidgetItem* item = tv_->currentItem();
    if (!item) return;
    const QString id = itemIdOf(item);
    if (id == QStringLiteral("0")) {
        TFrmBaseProperty dialog(kbName_, this);
        Ask().exec(&dialog);
        return;
    }
    if (id.toLongLong() <= 0 || !ensureLive(id, item)) return;
    TFrmFolder dialog(*db_, TFrmFolder::Mode::Edit, this);
    if (!dialog.fillForEdit(id) || !Ask().exec(&dialog)) return;
    const QString caption = dialog.applyEdit();
    item->setText(0, caption);
    if (id == currentId_) {
        currentUrl_ = TvMain::linkUrl(item);
        if (props_) props_->fill(id);
    }
    if (fileList_ && fileList_->isShown()) fileList_->setRowCaption(id, caption);
}

void TTreePanel::setDocumentPassword() {
    if (!db_ || currentId_.toLongLong() <= 0) return;
    TFrmDocPassword dialog(*db_, currentId_, this);
    Ask().exec(&dialog);
}

void TTreePanel::maintenance() {
    if (!db_) return;
    TFrmMaintenance dialog(*db_, this);
    if (!Ask().exec(&dialog)) return;
    // Purged rows are gone and the connection was opened anew: show the store's state again.
    if (QTreeWidgetItem* root = tv_->rootItem()) tv_->reloadChildren(root);
    tv_->refreshBin();
    if (fileList_ && fileList_->isShown()) fileList_->fill(fileList_->shownId());
}

// --- Menus and states ----------------------------------------------------------------------------

void TTreePanel::onContextMenu(QTreeWidgetItem* item, const QPoint& pos) {
    if (item) clickedId_ = itemIdOf(item);
    const qint64 n = TvMain::itemIdValue(item);
    const bool recycle = item && (n == -1 || tv_->isOutbox(n) || tv_->isSentbox(n));
    recomputeStates();
    (recycle ? pmRecycle_ : pmTree_)->popup(pos);
}

void TTreePanel::recomputeStates() {
    CommandStates s;
    if (fileListActive()) {
        s = FileListCommandStates(fileList_->facts());
    } else if (db_) {
        QTreeWidgetItem* item = tv_->currentItem();
        TreeItemFacts f;
        f.focused = item != nullptr;
        if (item) {
            f.id = TvMain::itemIdValue(item);
            f.outbox = tv_->isOutbox(f.id);
            f.sentbox = tv_->isSentbox(f.id);
            f.inbox = item->text(ColInbox) == QStringLiteral("Y");
            f.mailType = item->text(ColMailType);
            f.binHoldsNodes = TvMain::itemImage(item) == ImgBinFull;
            QTreeWidgetItem* parent = item->parent();
            const int at = parent ? parent->indexOfChild(item) : tv_->indexOfTopLevelItem(item);
            const int count = parent ? parent->childCount() : tv_->topLevelItemCount();
            f.first = at == 0;
            f.last = at == count - 1;
        }
        f.sortNumber = tv_->sortNumber();
        s = TreeCommandStates(f);
        // An empty knowledge base (only root and bin) has nothing for the node commands.
    }
    s[TreeCommand::Back] = db_ && history_.canBack();
    s[TreeCommand::Forward] = db_ && history_.canForward();
    s[TreeCommand::SetDocumentPassword] = db_ && currentId_.toLongLong() > 0;
    if (!db_) s = CommandStates{};
    applyStates(s);
}

void TTreePanel::applyStates(const CommandStates& s) {
    states_ = s;
    for (int c = 0; c < kTreeCommandCount; ++c)
        if (actions_[c]) actions_[c]->setEnabled(s.enabled[c]);
    for (QAction* a : sortActions_)
        a->setEnabled(s[TreeCommand::Sort]);
    emit commandStatesChanged();
}

} // namespace zel
