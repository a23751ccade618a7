#include "tree/ui/TFileList.h"

#include <QAction>
#include <QApplication>
#include <QDrag>
#include <QFocusEvent>
#include <QHeaderView>
#include <QKeyEvent>
#include <QMenu>
#include <QMetaProperty>
#include <QMimeData>
#include <QStyledItemDelegate>

#include "platform/Database.h"
#include "shell/RuntimeSettings.h"
#include "shell/Strings.h"
#include "shell/ui/TFrmWait.h"
#include "store/RecycleBin.h"
#include "tree/ui/NodeImages.h"
#include "tree/ui/TTreePanel.h"
#include "tree/ui/TreeAsk.h"
#include "tree/ui/TvMain.h"

namespace zel {

namespace {

enum Role {
    RoleHasDelete = Qt::UserRole + 1,
    RoleLinkPath,
    RoleHasChild,
    RoleInbox,
    RoleMailType,
    RoleSize,
    RoleImage,
};

bool isNumberColumn(int c) {
    return c == TFileList::ColId || c == TFileList::ColSize;
}

class FileRow : public QTreeWidgetItem {
public:
    bool operator<(const QTreeWidgetItem& other) const override {
        const int c = treeWidget() ? treeWidget()->sortColumn() : 0;
        if (c == TFileList::ColSize) return data(0, RoleSize).toLongLong() < other.data(0, RoleSize).toLongLong();
        if (isNumberColumn(c)) return text(c).toLongLong() < other.text(c).toLongLong();
        // Times are kept as "yyyy-MM-dd hh:mm:ss": their text order is their time order.
        return text(c).localeAwareCompare(other.text(c)) < 0;
    }
};

class RowRenameDelegate : public QStyledItemDelegate {
public:
    explicit RowRenameDelegate(TFileList* list) : QStyledItemDelegate(list), list_(list) {}
    void setModelData(QWidget* editor, QAbstractItemModel*, const QModelIndex& index) const override {
        const QByteArray prop = editor->metaObject()->userProperty().name();
        if (QTreeWidgetItem* row = list_->itemFromIndex(index))
            list_->renameRow(row, editor->property(prop.constData()).toString());
    }

private:
    TFileList* list_;
};

struct ColumnSpec {
    int ident;
    int width;
};
constexpr ColumnSpec kColumns[TFileList::ColumnCount] = {
    {40241, 200}, {40242, 70},  {41133, 200}, {41134, 200}, {41154, 120}, {41155, 120},
    {40243, 100}, {40244, 120}, {40214, 120}, {40213, 150}, {40245, 300}, {41156, 100},
};

} // namespace

TFileList::TFileList(QWidget* parent) : QTreeWidget(parent) {
    setObjectName(QStringLiteral("lvaddfile"));
    setAccessibleName(QStringLiteral("Filelist"));
    setColumnCount(ColumnCount);
    applyLanguage();
    for (int c = 0; c < ColumnCount; ++c) {
        setColumnWidth(c, kColumns[c].width);
        if (isNumberColumn(c)) headerItem()->setTextAlignment(c, Qt::AlignRight | Qt::AlignVCenter);
    }
    setRootIsDecorated(false);
    setUniformRowHeights(true);
    setSelectionMode(QAbstractItemView::ExtendedSelection);
    setEditTriggers(QAbstractItemView::EditKeyPressed);
    setItemDelegate(new RowRenameDelegate(this));
    header()->setSectionsClickable(true);
    connect(header(), &QHeaderView::sectionClicked, this, &TFileList::sortByColumn);
    fill(QString()); // the normal columns
}

// --- Rows ----------------------------------------------------------------------------------------

QString TFileList::rowId(const QTreeWidgetItem* row) {
    return row ? row->text(ColId) : QString();
}

QTreeWidgetItem* TFileList::rowFor(const QString& id) const {
    for (int i = 0; i < topLevelItemCount(); ++i)
        if (topLevelItem(i)->text(ColId) == id) return topLevelItem(i);
    return nullptr;
}

QString TFileList::focusedId() const {
    return rowId(currentItem());
}

QTreeWidgetItem* TFileList::makeRow(const FileListRow& r) const {
    auto* row = new FileRow;
    const TRuntimeReg& reg = RuntimeSettings();
    const bool inbox = r.inbox == QStringLiteral("Y");
    const bool outbox = r.id > 0 && r.id == reg.outboxNode, sentbox = r.id > 0 && r.id == reg.sendboxNode;
    const bool folder = r.hasChild == QStringLiteral("Y");
    row->setText(ColName, r.caption);
    row->setText(ColId, QString::number(r.id));
    row->setText(ColFrom, r.account);
    row->setText(ColTo, r.mailAddress);
    row->setText(ColReceived, TreeTimeText(r.received));
    row->setText(ColSent, TreeTimeText(r.sent));
    row->setText(ColSize, QString::number(r.fileSize));
    row->setText(ColType, QString());
    row->setText(ColModified, TreeTimeText(r.modified));
    row->setText(ColCreated, TreeTimeText(r.created));
    row->setText(ColSourceLink, r.keywords);
    if (!binShown() && !r.directSend.isNull())
        row->setText(ColSendType, GetString(r.directSend == QStringLiteral("Y") ? 41157 : 41158));
    row->setTextAlignment(ColId, Qt::AlignRight | Qt::AlignVCenter);
    row->setTextAlignment(ColSize, Qt::AlignRight | Qt::AlignVCenter);
    row->setData(0, RoleHasDelete, r.hasDelete);
    row->setData(0, RoleLinkPath, r.fullName + r.caption + QStringLiteral(".htm"));
    row->setData(0, RoleHasChild, r.hasChild);
    row->setData(0, RoleInbox, r.inbox);
    row->setData(0, RoleMailType, r.mailType);
    row->setData(0, RoleSize, r.fileSize);
    const int image = inbox ? ImgInbox : outbox ? ImgOutbox : sentbox ? ImgSentbox : folder ? ImgFolder : ImgDocument;
    row->setData(0, RoleImage, image);
    row->setIcon(0, NodeIcon(image));
    if (r.readType != QStringLiteral("Y")) {
        QFont f = font();
        f.setBold(true);
        row->setFont(0, f);
    }
    if (r.fontColor) row->setForeground(0, StoredToColor(r.fontColor));
    Qt::ItemFlags flags = Qt::ItemIsEnabled | Qt::ItemIsSelectable;
    if (!binShown()) flags |= Qt::ItemIsEditable | Qt::ItemIsDragEnabled;
    row->setFlags(flags);
    return row;
}

void TFileList::clearRows() {
    clear();
}

void TFileList::fill(const QString& nodeId) {
    const QString id = nodeId.trimmed();
    const TRuntimeReg& reg = RuntimeSettings();
    const qint64 n = id.toLongLong();
    const bool outOrSent = n > 0 && (n == reg.outboxNode || n == reg.sendboxNode);
    const bool inbox = n > 0 && db_ && db_->isOpen() && IsInboxNode(*db_, id);
    mailView_ = outOrSent || inbox;
    // Column sets: the normal view and the mail view.
    setColumnHidden(ColName, false);
    setColumnHidden(ColId, true);
    setColumnHidden(ColFrom, !mailView_);
    setColumnHidden(ColTo, !mailView_);
    setColumnHidden(ColReceived, !(mailView_ && inbox));
    setColumnHidden(ColSent, !(mailView_ && outOrSent));
    setColumnHidden(ColSize, mailView_);
    setColumnHidden(ColType, mailView_);
    setColumnHidden(ColModified, mailView_);
    setColumnHidden(ColCreated, mailView_);
    setColumnHidden(ColSourceLink, true);
    setColumnHidden(ColSendType, !(mailView_ && outOrSent));
    if (id.isEmpty() || !db_ || !db_->isOpen()) return; // without a connection the rows stay
    shownId_ = id;
    clear();
    const QList<FileListRow> rows = id == QStringLiteral("-1") ? ListBinNodes(*db_) : ListFileRows(*db_, id);
    QList<QTreeWidgetItem*> items;
    items.reserve(rows.size());
    for (const FileListRow& r : rows) {
        // The outbox and the sent box never show as rows.
        if (r.id > 0 && (r.id == reg.outboxNode || r.id == reg.sendboxNode)) continue;
        items << makeRow(r);
    }
    addTopLevelItems(items);
    if (sortColumn_ >= 0) sortItems(sortColumn_, sortOrder_);
    if (topLevelItemCount()) setCurrentItem(topLevelItem(0), 0, QItemSelectionModel::NoUpdate);
    setDragEnabled(!binShown());
    if (active_ && panel_) panel_->recomputeStates();
}

void TFileList::addRow(const QString& id) {
    if (!db_ || rowFor(id)) return;
    if (const std::optional<FileListRow> r = ReadFileRow(*db_, id)) addTopLevelItem(makeRow(*r));
}

void TFileList::removeRow(const QString& id) {
    delete rowFor(id);
}

void TFileList::setRowRead(const QString& id, bool read) {
    if (QTreeWidgetItem* row = rowFor(id)) {
        QFont f = row->font(0);
        f.setBold(!read);
        row->setFont(0, f);
    }
}

void TFileList::setRowColour(const QString& id, qint64 stored) {
    if (QTreeWidgetItem* row = rowFor(id)) row->setForeground(0, StoredToColor(stored));
}

void TFileList::setRowCaption(const QString& id, const QString& caption) {
    if (QTreeWidgetItem* row = rowFor(id)) row->setText(ColName, caption);
}

QList<QTreeWidgetItem*> TFileList::selectedRows() const {
    // In list order, so that walking it backwards goes from last to first.
    QList<QTreeWidgetItem*> out;
    for (int i = 0; i < topLevelItemCount(); ++i)
        if (topLevelItem(i)->isSelected()) out << topLevelItem(i);
    return out;
}

// --- Commands ------------------------------------------------------------------------------------

void TFileList::openFocused() {
    QTreeWidgetItem* row = currentItem();
    if (!row || !panel_ || row->data(0, RoleHasDelete).toString() == QStringLiteral("Y")) return;
    panel_->openNode(rowId(row), QStringLiteral("link://document") + row->data(0, RoleLinkPath).toString());
}

void TFileList::afterRowsChanged(int remaining) {
    if (panel_) {
        TvMain* tv = panel_->tree();
        if (QTreeWidgetItem* item = tv->findItem(shownId_)) {
            tv->updateItem(item);
            tv->reloadChildren(item);
        }
        tv->refreshBin();
    }
    emit statusText(GetString(40206) + u' ' + QString::number(remaining));
}

void TFileList::deleteRows() {
    if (!db_) return;
    QList<QTreeWidgetItem*> rows = selectedRows();
    if (rows.size() < 2) {
        QTreeWidgetItem* row = currentItem();
        if (!row) return;
        if (!Ask().confirm(this, GetString(40322) + u':' + row->text(ColName) + u'?')) return;
        rows = {row};
    } else if (!Ask().confirm(this, GetString(40321))) {
        return;
    }
    const bool bin = binShown();
    // Rows another user changed meanwhile are left alone: only nodes still live (in the bin) are
    // deleted (purged).
    QSet<qint64> inBin;
    if (bin)
        for (const FileListRow& r : ListBinNodes(*db_))
            inBin.insert(r.id);
    QList<qint64> folders, batch;
    QList<QTreeWidgetItem*> done;
    bool vanished = false;
    int touched = 0;
    for (qsizetype i = rows.size() - 1; i >= 0; --i) {
        QTreeWidgetItem* row = rows[i];
        const qint64 id = rowId(row).toLongLong();
        if (id <= 0) continue;
        done << row;
        if (!(bin ? inBin.contains(id) : IsLiveNode(*db_, QString::number(id)))) {
            vanished = true;
            continue;
        }
        // A folder takes its subtree along.
        if (!bin && row->data(0, RoleImage).toInt() == ImgFolder) {
            folders << id;
            touched += CountSubtree(*db_, QString::number(id)) + 1;
        } else {
            batch << id;
            ++touched;
        }
    }
    const auto op = [&](Database& d) {
        for (qint64 f : folders)
            if (!MoveNodeToBin(d, QString::number(f), true)) return false;
        if (batch.isEmpty()) return true;
        return bin ? PurgeNodes(d, batch) : MoveNodesToBin(d, batch);
    };
    const bool ok = panel_ ? panel_->runStore(GetString(41050), touched, op) : op(*db_);
    if (ok) {
        qDeleteAll(done);
    } else {
        // Show what the store holds after the failure.
        Ask().inform(this, db_->lastError());
        fill(shownId_);
    }
    if (ok && vanished) Ask().inform(this, GetString(40308));
    afterRowsChanged(topLevelItemCount());
    if (panel_) panel_->recomputeStates();
}

void TFileList::restoreRows() {
    if (!db_ || !binShown()) return;
    QList<QTreeWidgetItem*> rows = selectedRows();
    if (rows.size() < 2) {
        QTreeWidgetItem* row = currentItem();
        if (!row) return;
        if (!Ask().confirm(this, GetString(41052) + u':' + row->text(ColName) + u'?')) return;
        rows = {row};
    } else if (!Ask().confirm(this, GetString(41051))) {
        return;
    }
    QApplication::setOverrideCursor(Qt::WaitCursor);
    QSet<qint64> inBin;
    for (const FileListRow& r : ListBinNodes(*db_))
        inBin.insert(r.id);
    QList<qint64> ids;
    bool vanished = false;
    for (qsizetype i = rows.size() - 1; i >= 0; --i) {
        const qint64 id = rowId(rows[i]).toLongLong();
        if (inBin.contains(id))
            ids << id;
        else
            vanished = true;
    }
    const auto op = [&](Database& d) { return RestoreNodes(d, ids); };
    QApplication::restoreOverrideCursor();
    const bool ok = ids.isEmpty() || (panel_ ? panel_->runStore(GetString(41045), int(ids.size()), op) : op(*db_));
    QApplication::setOverrideCursor(Qt::WaitCursor);
    if (ok && !ids.isEmpty()) {
        const QList<qint64> top = RestoreParents(*db_, ids);
        if (panel_) panel_->nodesRestored(ids, top);
    }
    if (ok) qDeleteAll(rows);
    QApplication::restoreOverrideCursor();
    if (!ok)
        Ask().inform(this, db_->lastError());
    else if (vanished)
        Ask().inform(this, GetString(40308));
    if (panel_) panel_->tree()->refreshBin();
    emit statusText(GetString(40206) + u' ' + QString::number(topLevelItemCount()));
    if (panel_) panel_->recomputeStates();
}

void TFileList::applyLanguage() {
    QStringList labels;
    for (const ColumnSpec& c : kColumns)
        labels << GetString(c.ident);
    setHeaderLabels(labels);
}

void TFileList::markRows(bool read) {
    if (!db_ || binShown()) return;
    const QList<QTreeWidgetItem*> rows = selectedRows();
    forEachRow(rows, [&](const QString& id) {
        if (!SetReadMark(*db_, id, read)) return;
        setRowRead(id, read);
        if (panel_)
            if (QTreeWidgetItem* item = panel_->tree()->findItem(id)) panel_->tree()->setItemRead(item, read);
    });
}

void TFileList::colourRows() {
    if (!db_ || binShown()) return;
    const QList<QTreeWidgetItem*> rows = selectedRows();
    if (rows.isEmpty()) return;
    QTreeWidgetItem* focused = currentItem() ? currentItem() : rows.first();
    const std::optional<QColor> c = Ask().colour(this, focused->foreground(0).color());
    if (!c) return;
    const qint64 stored = ColorToStored(*c);
    forEachRow(rows, [&](const QString& id) {
        if (!SetFontColor(*db_, id, stored)) return;
        setRowColour(id, stored);
        if (panel_)
            if (QTreeWidgetItem* item = panel_->tree()->findItem(id)) panel_->tree()->setItemColour(item, stored);
    });
}

void TFileList::forEachRow(const QList<QTreeWidgetItem*>& rows, const std::function<void(const QString&)>& change) {
    // More than two rows take long enough on a server to show the wait window.
    std::unique_ptr<TFrmWait> wait;
    if (rows.size() > 2) {
        wait = std::make_unique<TFrmWait>(this);
        wait->setText(GetString(41050));
        wait->setMaximum(int(rows.size()));
        wait->show();
    }
    for (qsizetype i = rows.size() - 1; i >= 0; --i) {
        change(rowId(rows[i]));
        if (wait) wait->advance(1);
        QApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
    }
}

void TFileList::editFocused() {
    if (QTreeWidgetItem* row = currentItem(); row && (row->flags() & Qt::ItemIsEditable)) editItem(row, ColName);
}

bool TFileList::renameRow(QTreeWidgetItem* row, const QString& text) {
    if (!db_ || !row || binShown()) return false;
    const QString id = rowId(row);
    const QString name = text.trimmed();
    if (name.isEmpty() || name == row->text(ColName)) return false;
    const int problem = CheckNodeName(*db_, name, shownId_, id);
    if (problem == 40434) {
        Ask().inform(this, GetString(40315));
        return false;
    }
    if (problem == 41018) {
        Ask().inform(this, GetString(41018).replace(QStringLiteral("%s"), QStringLiteral("/ \\ #")));
        return false;
    }
    if (panel_ && !panel_->ensureLive(id, panel_->tree()->findItem(id))) return false;
    if (!RenameNode(*db_, name, id)) {
        Ask().inform(this, db_->lastError());
        return false;
    }
    row->setText(ColName, name);
    if (panel_)
        if (QTreeWidgetItem* item = panel_->tree()->findItem(id)) item->setText(0, name);
    return true;
}

bool TFileList::moveOne(QTreeWidgetItem* row, QTreeWidgetItem* target) {
    const QString id = rowId(row);
    if (id.isEmpty() || !panel_) return false;
    // The loaded tree item of the node, when the shown node's children are loaded.
    QTreeWidgetItem* item = nullptr;
    if (QTreeWidgetItem* shown = panel_->tree()->findItem(shownId_))
        for (int i = 0; i < shown->childCount() && !item; ++i)
            if (TvMain::itemId(shown->child(i)) == id) item = shown->child(i);
    return panel_->moveNode(id, item, target, true);
}

void TFileList::moveRows(QTreeWidgetItem* target) {
    if (!db_ || !target || binShown() || TvMain::itemId(target) == shownId_) return;
    QList<QTreeWidgetItem*> rows = selectedRows();
    if (rows.isEmpty() && currentItem()) rows = {currentItem()};
    if (rows.isEmpty()) return;
    if (rows.size() == 1) {
        if (moveOne(rows.first(), target)) delete rows.first();
        return;
    }
    TFrmWait wait(this);
    wait.setText(GetString(41045));
    wait.setMaximum(int(rows.size()));
    wait.show();
    QList<QTreeWidgetItem*> moved;
    for (qsizetype i = rows.size() - 1; i >= 0; --i) {
        if (moveOne(rows[i], target)) moved << rows[i];
        wait.advance(1);
        QApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
    }
    qDeleteAll(moved);
}

void TFileList::sortByColumn(int column) {
    if (column == sortColumn_)
        sortOrder_ = sortOrder_ == Qt::AscendingOrder ? Qt::DescendingOrder : Qt::AscendingOrder;
    else
        sortOrder_ = Qt::AscendingOrder;
    sortColumn_ = column;
    sortItems(column, sortOrder_);
    header()->setSortIndicatorShown(true);
    header()->setSortIndicator(column, sortOrder_);
}

// --- States and events ---------------------------------------------------------------------------

FileRowFacts TFileList::facts(const QTreeWidgetItem* row) const {
    FileRowFacts f;
    if (!row) row = currentItem();
    const TRuntimeReg& reg = RuntimeSettings();
    f.binShown = binShown();
    f.rowGiven = row != nullptr;
    f.anySelected = !selectedItems().isEmpty();
    f.rowsPresent = topLevelItemCount() > 0;
    if (row) {
        f.id = rowId(row).toLongLong();
        f.outbox = f.id > 0 && f.id == reg.outboxNode;
        f.sentbox = f.id > 0 && f.id == reg.sendboxNode;
        f.inbox = row->data(0, RoleInbox).toString() == QStringLiteral("Y");
        f.mailType = row->data(0, RoleMailType).toString();
    }
    return f;
}

void TFileList::setActive(bool active) {
    if (active_ == active) return;
    active_ = active;
    if (panel_) panel_->recomputeStates();
}

void TFileList::focusInEvent(QFocusEvent* e) {
    QTreeWidget::focusInEvent(e);
    setActive(true);
}

void TFileList::focusOutEvent(QFocusEvent* e) {
    QTreeWidget::focusOutEvent(e);
    // A menu or a dialog opened from the list does not end its turn; moving to another control does.
    const Qt::FocusReason r = e->reason();
    if (r != Qt::PopupFocusReason && r != Qt::ActiveWindowFocusReason && r != Qt::MenuBarFocusReason) setActive(false);
}

void TFileList::mousePressEvent(QMouseEvent* e) {
    pressPos_ = e->position().toPoint();
    pressOnRow_ = itemAt(pressPos_) != nullptr;
    QTreeWidget::mousePressEvent(e);
}

void TFileList::mouseMoveEvent(QMouseEvent* e) {
    if (!(e->buttons() & Qt::LeftButton) || !pressOnRow_ || binShown() || !panel_) {
        QTreeWidget::mouseMoveEvent(e);
        return;
    }
    if ((e->position().toPoint() - pressPos_).manhattanLength() < QApplication::startDragDistance()) return;
    pressOnRow_ = false;
    auto* mime = new QMimeData;
    QStringList ids;
    for (QTreeWidgetItem* row : selectedRows())
        ids << rowId(row);
    mime->setData(QString::fromLatin1(TvMain::kRowsMime), ids.join(u',').toUtf8());
    auto* drag = new QDrag(this);
    drag->setMimeData(mime);
    panel_->tree()->setRowDragRunning(true);
    drag->exec(Qt::MoveAction);
    panel_->tree()->setRowDragRunning(false);
}

void TFileList::mouseReleaseEvent(QMouseEvent* e) {
    QTreeWidgetItem* row = itemAt(e->position().toPoint());
    const bool plain = !(e->modifiers() & (Qt::ShiftModifier | Qt::ControlModifier));
    if (plain && (!row || !row->isSelected())) clearSelection();
    QTreeWidget::mouseReleaseEvent(e);
    if (e->button() == Qt::RightButton && row) {
        setCurrentItem(row);
        row->setSelected(true);
    }
    setActive(true);
    if (panel_) panel_->recomputeStates();
    if (e->button() == Qt::RightButton && panel_) {
        QMenu menu(this);
        menu.setObjectName(QStringLiteral("pmFile"));
        for (TreeCommand c : {TreeCommand::Open, TreeCommand::NewDocument, TreeCommand::NewSubDocument,
                              TreeCommand::Delete, TreeCommand::SendToMail, TreeCommand::Replay, TreeCommand::MoveTo,
                              TreeCommand::Restore, TreeCommand::MarkUnread, TreeCommand::MarkRead,
                              TreeCommand::ColourSign, TreeCommand::Rename, TreeCommand::Property})
            if (QAction* a = panel_->action(c)) menu.addAction(a);
        menu.exec(e->globalPosition().toPoint());
    }
}

void TFileList::keyPressEvent(QKeyEvent* e) {
    if (state() != EditingState && (e->key() == Qt::Key_Return || e->key() == Qt::Key_Enter)) return;
    QTreeWidget::keyPressEvent(e);
}

void TFileList::keyReleaseEvent(QKeyEvent* e) {
    QTreeWidget::keyReleaseEvent(e);
    if (state() == EditingState || e->isAutoRepeat()) return;
    if (e->key() == Qt::Key_Return || e->key() == Qt::Key_Enter)
        openFocused();
    else if (e->key() == Qt::Key_Delete)
        deleteRows();
    else if (e->key() == Qt::Key_A && (e->modifiers() & Qt::ControlModifier))
        selectAll();
}

} // namespace zel
