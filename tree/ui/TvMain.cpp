#include "tree/ui/TvMain.h"

#include <QApplication>
#include <QDrag>
#include <QDragMoveEvent>
#include <QHeaderView>
#include <QKeyEvent>
#include <QMetaProperty>
#include <QMimeData>
#include <QStyledItemDelegate>
#include <QTreeWidgetItemIterator>

#include "shell/RuntimeSettings.h"
#include "shell/Strings.h"
#include "store/KnowledgeBase.h"
#include "store/RecycleBin.h"
#include "tree/ui/NodeImages.h"
#include "tree/ui/TreeAsk.h"

namespace zel {

namespace {

constexpr int kImageRole = Qt::UserRole + 1;

// Items compare by the tree's current sort section, each section by its own kind of value.
class TTreeItem : public QTreeWidgetItem {
public:
    using QTreeWidgetItem::QTreeWidgetItem;
    bool operator<(const QTreeWidgetItem& other) const override {
        const auto* tv = static_cast<const TvMain*>(treeWidget());
        const int section = tv ? tv->sortSection() : 0;
        return CompareTreeValues(section, text(section), other.text(section)) < 0;
    }
};

// The editor's text goes to the tree's rename rule instead of straight into the item: a refused
// name never shows.
class RenameDelegate : public QStyledItemDelegate {
public:
    explicit RenameDelegate(TvMain* tv) : QStyledItemDelegate(tv), tv_(tv) {}
    void setModelData(QWidget* editor, QAbstractItemModel*, const QModelIndex& index) const override {
        const QByteArray prop = editor->metaObject()->userProperty().name();
        const QString text = editor->property(prop.constData()).toString();
        if (QTreeWidgetItem* item = tv_->itemFromIndex(index)) emit tv_->renameRequested(item, text);
    }

private:
    TvMain* tv_;
};

int expandedImage(int image) {
    switch (image) {
    case ImgFolder:
        return ImgFolderOpen;
    case ImgDocument:
        return ImgDocumentOpen;
    case ImgRoot:
        return ImgRootOpen;
    default:
        return image;
    }
}

} // namespace

TvMain::TvMain(QWidget* parent) : QTreeWidget(parent) {
    setObjectName(QStringLiteral("TvMain"));
    setAccessibleName(GetString(40201));
    setColumnCount(TreeColumnCount);
    setHeaderLabels({QStringLiteral("Index"), QStringLiteral("ID"), QStringLiteral("Last Modify Time"),
                     QStringLiteral("Number"), QStringLiteral("inbox"), QStringLiteral("mailid"),
                     QStringLiteral("mailtype"), QStringLiteral("mimeid"), QStringLiteral("CreateDate")});
    for (int c = 1; c < TreeColumnCount; ++c)
        setColumnHidden(c, true);
    setHeaderHidden(true);
    setSelectionMode(QAbstractItemView::SingleSelection);
    setEditTriggers(QAbstractItemView::EditKeyPressed);
    setItemDelegate(new RenameDelegate(this));
    setAcceptDrops(true);
    setDragDropMode(QAbstractItemView::DragDrop);
    setDropIndicatorShown(true);
    setUniformRowHeights(true);
    setExpandsOnDoubleClick(true);
    connect(this, &QTreeWidget::itemExpanded, this, &TvMain::onExpanded);
    connect(this, &QTreeWidget::itemCollapsed, this, &TvMain::onCollapsed);
}

// --- Items ---------------------------------------------------------------------------------------

QString TvMain::itemId(const QTreeWidgetItem* item) {
    return item ? item->text(ColId) : QString();
}

qint64 TvMain::itemIdValue(const QTreeWidgetItem* item) {
    return item ? item->text(ColId).toLongLong() : 0;
}

int TvMain::itemImage(const QTreeWidgetItem* item) {
    return item ? item->data(0, kImageRole).toInt() : -1;
}

void TvMain::setItemImage(QTreeWidgetItem* item, int image) {
    item->setData(0, kImageRole, image);
    item->setIcon(0, NodeIcon(item->isExpanded() ? expandedImage(image) : image));
}

bool TvMain::itemBold(const QTreeWidgetItem* item) {
    return item && item->font(0).bold();
}

void TvMain::setItemRead(QTreeWidgetItem* item, bool read) {
    QFont f = item->font(0);
    f.setBold(!read);
    item->setFont(0, f);
}

void TvMain::setItemColour(QTreeWidgetItem* item, qint64 stored) {
    item->setForeground(0, StoredToColor(stored));
}

bool TvMain::isOutbox(qint64 id) const {
    return id > 0 && id == RuntimeSettings().outboxNode;
}

bool TvMain::isSentbox(qint64 id) const {
    return id > 0 && id == RuntimeSettings().sendboxNode;
}

bool TvMain::isInMailBox(const QTreeWidgetItem* item) const {
    for (const QTreeWidgetItem* i = item; i; i = i->parent()) {
        const qint64 id = itemIdValue(i);
        if (isOutbox(id) || isSentbox(id)) return true;
    }
    return false;
}

bool TvMain::isBelow(const QTreeWidgetItem* item, const QTreeWidgetItem* ancestor) {
    for (const QTreeWidgetItem* i = item; i; i = i->parent())
        if (i == ancestor) return true;
    return false;
}

QString TvMain::linkUrl(const QTreeWidgetItem* item) {
    QStringList captions;
    for (const QTreeWidgetItem* i = item; i; i = i->parent())
        captions.prepend(i->text(0));
    return NodeLinkUrl(captions);
}

QTreeWidgetItem* TvMain::makeItem(const NodeItem& row) const {
    auto* item = new TTreeItem;
    const bool inbox = row.inbox == QStringLiteral("Y");
    const bool outbox = isOutbox(row.id), sentbox = isSentbox(row.id);
    item->setText(ColCaption, row.caption);
    item->setText(ColId, QString::number(row.id));
    item->setText(ColModified, TreeTimeText(row.modified));
    item->setText(ColSortNumber, QString::number(row.sortNumber));
    item->setText(ColInbox, row.inbox);
    item->setText(ColMailId, row.mailId ? QString::number(row.mailId) : QString());
    item->setText(ColMailType, row.mailType);
    item->setText(ColMimeId, row.mimeId ? QString::number(row.mimeId) : QString());
    item->setText(ColCreated, TreeTimeText(row.created));
    const bool folder = row.hasChild == QStringLiteral("Y");
    item->setChildIndicatorPolicy(folder ? QTreeWidgetItem::ShowIndicator : QTreeWidgetItem::DontShowIndicator);
    const int image = inbox ? ImgInbox : outbox ? ImgOutbox : sentbox ? ImgSentbox : folder ? ImgFolder : ImgDocument;
    item->setData(0, kImageRole, image);
    item->setIcon(0, NodeIcon(image));
    if (row.fontColor) item->setForeground(0, StoredToColor(row.fontColor));
    if (row.readType != QStringLiteral("Y") && !inbox && !outbox && !sentbox) {
        QFont f = font();
        f.setBold(true);
        item->setFont(0, f);
    }
    Qt::ItemFlags flags = Qt::ItemIsEnabled | Qt::ItemIsSelectable | Qt::ItemIsDropEnabled | Qt::ItemIsDragEnabled;
    if (!outbox && !sentbox) flags |= Qt::ItemIsEditable;
    item->setFlags(flags);
    return item;
}

QTreeWidgetItem* TvMain::makeBinItem() const {
    auto* item = new TTreeItem;
    const QString now = TreeTimeText(QDateTime::currentDateTime());
    item->setText(ColCaption, GetString(41036));
    item->setText(ColId, QStringLiteral("-1"));
    item->setText(ColModified, now);
    item->setText(ColSortNumber, QStringLiteral("20001"));
    item->setText(ColCreated, now);
    item->setFlags(Qt::ItemIsEnabled | Qt::ItemIsSelectable | Qt::ItemIsDropEnabled);
    const int image = db_ && CountBinNodes(*db_) > 0 ? ImgBinFull : ImgBinEmpty;
    item->setData(0, kImageRole, image);
    item->setIcon(0, NodeIcon(image));
    return item;
}

void TvMain::applyLanguage() {
    setAccessibleName(GetString(40201));
    if (QTreeWidgetItem* bin = binItem()) bin->setText(ColCaption, GetString(41036));
}

QTreeWidgetItem* TvMain::binItem() const {
    QTreeWidgetItem* root = rootItem();
    if (!root) return nullptr;
    for (int i = root->childCount() - 1; i >= 0; --i)
        if (itemIdValue(root->child(i)) == -1) return root->child(i);
    return nullptr;
}

QTreeWidgetItem* TvMain::findItem(const QString& id) const {
    const QString wanted = id.trimmed();
    for (QTreeWidgetItemIterator it(const_cast<TvMain*>(this)); *it; ++it)
        if ((*it)->text(ColId) == wanted) return *it;
    return nullptr;
}

// --- Loading -------------------------------------------------------------------------------------

void TvMain::buildRoot(const QString& knowledgeBaseName) {
    clear();
    auto* root = new TTreeItem;
    root->setText(ColCaption, knowledgeBaseName);
    root->setText(ColId, QStringLiteral("0"));
    root->setText(ColInbox, QStringLiteral("N"));
    root->setFlags(Qt::ItemIsEnabled | Qt::ItemIsSelectable | Qt::ItemIsDropEnabled);
    root->setChildIndicatorPolicy(QTreeWidgetItem::ShowIndicator);
    root->setData(0, kImageRole, int(ImgRoot));
    root->setIcon(0, NodeIcon(ImgRoot));
    addTopLevelItem(root);
    root->setExpanded(true);
    applySort(sortNumber_);
}

void TvMain::loadChildren(QTreeWidgetItem* item) {
    if (!item || !db_) return;
    const bool wasLoading = loading_;
    loading_ = true;
    setUpdatesEnabled(false);
    qDeleteAll(item->takeChildren());
    const QString id = itemId(item);
    bool refused = false;
    if (id != QStringLiteral("-1")) {
        // The store asks for the document password first; a refusal lists nothing.
        bool asked = false;
        std::optional<QString> typed;
        const PasswordPrompt ask = [&](const QString& title, const QString& prompt) -> std::optional<QString> {
            asked = true;
            typed = prompt_ ? prompt_(title, prompt) : std::nullopt;
            return typed;
        };
        const QList<NodeItem> rows = ListChildren(*db_, id, ask);
        if (asked && rows.isEmpty()) {
            // Nothing listed after the question: a refused password keeps the expand button, so that
            // the next expansion asks again. The answer is checked once more, without asking.
            refused = !typed || !CheckDocumentPassword(*db_, id, [&](const QString&, const QString&) { return typed; });
        }
        QList<QTreeWidgetItem*> items;
        items.reserve(rows.size());
        for (const NodeItem& row : rows)
            items << makeItem(row);
        item->addChildren(items);
    }
    if (!refused)
        item->setChildIndicatorPolicy(item->childCount() ? QTreeWidgetItem::ShowIndicator
                                                         : QTreeWidgetItem::DontShowIndicator);
    if (item->childCount()) sortChildrenOf(item);
    if (id == QStringLiteral("0")) {
        item->addChild(makeBinItem());
        item->setChildIndicatorPolicy(QTreeWidgetItem::ShowIndicator);
    }
    setUpdatesEnabled(true);
    loading_ = wasLoading;
}

QTreeWidgetItem* TvMain::addNodeItem(QTreeWidgetItem* parent, const QString& id) {
    if (!db_ || !parent) return nullptr;
    const std::optional<NodeItem> row = ReadNodeItem(*db_, id);
    if (!row) return nullptr;
    return addNodeItem(parent, *row);
}

QTreeWidgetItem* TvMain::addNodeItem(QTreeWidgetItem* parent, const NodeItem& row) {
    QTreeWidgetItem* item = makeItem(row);
    // Under the root the bin stays the last child.
    QTreeWidgetItem* bin = parent == rootItem() ? binItem() : nullptr;
    if (bin)
        parent->insertChild(parent->indexOfChild(bin), item);
    else
        parent->addChild(item);
    return item;
}

void TvMain::reloadChildren(QTreeWidgetItem* item) {
    if (!item) return;
    if (item->isExpanded()) {
        item->setExpanded(false);
        item->setExpanded(true);
    }
}

void TvMain::onExpanded(QTreeWidgetItem* item) {
    item->setIcon(0, NodeIcon(expandedImage(itemImage(item))));
    if (loading_) return;
    loadChildren(item);
}

void TvMain::onCollapsed(QTreeWidgetItem* item) {
    item->setIcon(0, NodeIcon(itemImage(item)));
    if (loading_) return;
    setUpdatesEnabled(false);
    qDeleteAll(item->takeChildren());
    setUpdatesEnabled(true);
}

bool TvMain::selectNode(const QString& id) {
    if (!db_) return false;
    const QString wanted = id.trimmed();
    if (wanted == QStringLiteral("-1")) {
        QTreeWidgetItem* bin = binItem();
        if (!bin) return false;
        setCurrentItem(bin);
        return true;
    }
    QString path = GetChildPath(*db_, wanted);
    if (path.isEmpty()) return false;
    path = QStringLiteral("/0") + path;
    const QStringList chain = path.mid(1, path.size() - 2).split(u'/', Qt::SkipEmptyParts);
    QTreeWidgetItem* level = nullptr; // nullptr: the top level
    for (qsizetype i = 0; i < chain.size(); ++i) {
        QTreeWidgetItem* found = nullptr;
        const int n = level ? level->childCount() : topLevelItemCount();
        for (int k = 0; k < n && !found; ++k) {
            QTreeWidgetItem* c = level ? level->child(k) : topLevelItem(k);
            if (c->text(ColId) == chain[i]) found = c;
        }
        if (!found) return false;
        if (chain[i] == wanted) {
            setCurrentItem(found);
            scrollToItem(found);
            return true;
        }
        if (i + 1 < chain.size() && found->childIndicatorPolicy() == QTreeWidgetItem::ShowIndicator &&
            !found->isExpanded())
            found->setExpanded(true);
        level = found;
    }
    return false;
}

void TvMain::updateItem(QTreeWidgetItem* item) {
    if (!item || !db_) return;
    const QString id = itemId(item);
    if (id == QStringLiteral("-1")) return;
    if (id == QStringLiteral("0")) {
        item->setChildIndicatorPolicy(QTreeWidgetItem::ShowIndicator);
        return;
    }
    const bool children = RefreshHasChild(*db_, id);
    item->setChildIndicatorPolicy(children ? QTreeWidgetItem::ShowIndicator : QTreeWidgetItem::DontShowIndicator);
    const int image = itemImage(item);
    if (image < 8 || image > 11) setItemImage(item, children ? ImgFolder : ImgDocument);
}

void TvMain::refreshBin() {
    QTreeWidgetItem* bin = binItem();
    if (!bin || !db_) return;
    setItemImage(bin, CountBinNodes(*db_) > 0 ? ImgBinFull : ImgBinEmpty);
}

// --- Sorting -------------------------------------------------------------------------------------

void TvMain::applySort(int number) {
    if (!IsKnownSortNumber(number)) number = 0;
    sortNumber_ = number;
    sortSection_ = SortSection(number);
    ascending_ = SortAscending(number);
    sortItems(sortSection_, ascending_ ? Qt::AscendingOrder : Qt::DescendingOrder);
}

void TvMain::sortChildrenOf(QTreeWidgetItem* parent) {
    if (!parent) {
        sortItems(sortSection_, ascending_ ? Qt::AscendingOrder : Qt::DescendingOrder);
        return;
    }
    parent->sortChildren(sortSection_, ascending_ ? Qt::AscendingOrder : Qt::DescendingOrder);
}

// --- Dragging ------------------------------------------------------------------------------------

bool TvMain::canDragItem(const QTreeWidgetItem* item) const {
    const qint64 id = itemIdValue(item);
    return item && id > 0 && !isOutbox(id) && !isSentbox(id);
}

bool TvMain::acceptsNodeDrop(const QTreeWidgetItem* dragged, const QTreeWidgetItem* target) const {
    if (!target || !dragged) return false;
    if (target == dragged || target == dragged->parent() || isBelow(target, dragged)) return false;
    return !isInMailBox(target);
}

bool TvMain::acceptsRowsDrop(const QTreeWidgetItem* target) const {
    return rowDrag_ && target && !isInMailBox(target);
}

QTreeWidgetItem* TvMain::dropTarget(const QPoint& pos) const {
    return itemAt(pos);
}

void TvMain::mousePressEvent(QMouseEvent* e) {
    pressItem_ = itemAt(e->position().toPoint());
    pressPos_ = e->position().toPoint();
    dragEnded_ = false;
    dragArmed_ = false;
    const Qt::KeyboardModifiers mods = e->modifiers();
    if (e->button() == Qt::LeftButton && (mods & (Qt::ShiftModifier | Qt::ControlModifier)) &&
        canDragItem(pressItem_)) {
        dragArmed_ = true;
        pressCopy_ = (mods & Qt::ControlModifier) != 0;
        return; // the drag leaves focus and selection where they were
    }
    QTreeWidget::mousePressEvent(e);
}

void TvMain::mouseMoveEvent(QMouseEvent* e) {
    if (!dragArmed_) {
        // Plain drags of items are not ours: only Shift/Ctrl drags move or copy.
        if (!(e->buttons() & Qt::LeftButton)) QTreeWidget::mouseMoveEvent(e);
        return;
    }
    if ((e->position().toPoint() - pressPos_).manhattanLength() < QApplication::startDragDistance()) return;
    dragArmed_ = false;
    dragItem_ = pressItem_;
    const EditTriggers triggers = editTriggers();
    setEditTriggers(NoEditTriggers);
    auto* mime = new QMimeData;
    mime->setData(QString::fromLatin1(kNodeMime), itemId(dragItem_).toUtf8());
    auto* drag = new QDrag(this);
    drag->setMimeData(mime);
    drag->exec(pressCopy_ ? Qt::CopyAction : Qt::MoveAction, pressCopy_ ? Qt::CopyAction : Qt::MoveAction);
    setEditTriggers(triggers);
    dragItem_ = nullptr;
    dragEnded_ = true;
}

void TvMain::mouseReleaseEvent(QMouseEvent* e) {
    dragArmed_ = false;
    QTreeWidget::mouseReleaseEvent(e);
    if (dragEnded_) {
        dragEnded_ = false;
        return;
    }
    QTreeWidgetItem* item = itemAt(e->position().toPoint());
    if (e->button() == Qt::LeftButton) {
        if (item && item == pressItem_) emit itemReleased(item);
    } else if (e->button() == Qt::RightButton) {
        if (item) setCurrentItem(item);
        emit contextMenuWanted(item, e->globalPosition().toPoint());
    }
}

void TvMain::keyPressEvent(QKeyEvent* e) {
    keyPressItem_ = currentItem();
    if (state() != EditingState) {
        if (e->key() == Qt::Key_Return || e->key() == Qt::Key_Enter) {
            emit enterPressed();
            return;
        }
        if (e->key() == Qt::Key_Delete) {
            emit deletePressed();
            return;
        }
    }
    QTreeWidget::keyPressEvent(e);
}

void TvMain::keyReleaseEvent(QKeyEvent* e) {
    QTreeWidget::keyReleaseEvent(e);
    if (e->isAutoRepeat() || e->key() == Qt::Key_Return || e->key() == Qt::Key_Enter) return;
    if (state() != EditingState) emit focusMovedByKey();
}

void TvMain::dragEnterEvent(QDragEnterEvent* e) {
    const QMimeData* m = e->mimeData();
    if ((m->hasFormat(QString::fromLatin1(kNodeMime)) && dragItem_) ||
        (m->hasFormat(QString::fromLatin1(kRowsMime)) && rowDrag_))
        e->accept();
    else
        e->ignore();
}

void TvMain::dragMoveEvent(QDragMoveEvent* e) {
    QTreeWidgetItem* target = dropTarget(e->position().toPoint());
    const QMimeData* m = e->mimeData();
    bool ok = false;
    if (m->hasFormat(QString::fromLatin1(kNodeMime)))
        ok = acceptsNodeDrop(dragItem_, target);
    else if (m->hasFormat(QString::fromLatin1(kRowsMime)))
        ok = acceptsRowsDrop(target);
    if (ok)
        e->acceptProposedAction();
    else
        e->ignore();
}

void TvMain::dropEvent(QDropEvent* e) {
    QTreeWidgetItem* target = dropTarget(e->position().toPoint());
    const QMimeData* m = e->mimeData();
    if (m->hasFormat(QString::fromLatin1(kNodeMime)) && acceptsNodeDrop(dragItem_, target)) {
        e->acceptProposedAction();
        emit nodeDropped(dragItem_, target, e->dropAction() == Qt::CopyAction);
    } else if (m->hasFormat(QString::fromLatin1(kRowsMime)) && acceptsRowsDrop(target)) {
        e->acceptProposedAction();
        emit rowsDropped(target);
    } else {
        e->ignore();
    }
}

} // namespace zel
