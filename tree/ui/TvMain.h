#pragma once

#include <QPoint>
#include <QTreeWidget>

#include "store/Nodes.h"
#include "tree/TreeRules.h"

namespace zel {

class Database;

// The knowledge tree: one root item for the knowledge base, the nodes below it loaded when their
// item expands and dropped when it collapses, and the recycle bin as the root's last child. Each item
// keeps the caption and eight hidden columns (id, modification time, sort number, inbox, mail id,
// mail type, MIME id, creation time) that drive sorting.
class TvMain : public QTreeWidget {
    Q_OBJECT
public:
    static constexpr const char* kNodeMime = "application/x-zel-tree-node";
    static constexpr const char* kRowsMime = "application/x-zel-file-rows";

    explicit TvMain(QWidget* parent = nullptr);

    void setDatabase(Database* db) { db_ = db; }
    Database* database() const { return db_; }

    // Clears the tree and adds the root item, expanded (which lists the top level and adds the bin).
    void buildRoot(const QString& knowledgeBaseName);
    // Lists the children of an item anew (the loader behind expansion).
    void loadChildren(QTreeWidgetItem* item);
    // Adds one node under parent from its row; nullptr when there is no such row.
    QTreeWidgetItem* addNodeItem(QTreeWidgetItem* parent, const QString& id);
    QTreeWidgetItem* addNodeItem(QTreeWidgetItem* parent, const NodeItem& row);
    // Collapses and expands an item so that its children are read again.
    void reloadChildren(QTreeWidgetItem* item);

    QTreeWidgetItem* rootItem() const { return topLevelItemCount() ? topLevelItem(0) : nullptr; }
    QTreeWidgetItem* binItem() const;
    // The accessible name and the bin item's caption in the language now in force.
    void applyLanguage();
    // The first loaded item with that id.
    QTreeWidgetItem* findItem(const QString& id) const;
    // Expands the path to the node and focuses and selects its item.
    bool selectNode(const QString& id);

    // Recounts the node's live children, sets the expand button and the folder or document images.
    void updateItem(QTreeWidgetItem* item);
    // Sets the bin's image from the number of nodes in it.
    void refreshBin();

    // Sorts the whole tree by a sort number (0, 1, 4, 5, 6, 7, 16, 17).
    void applySort(int number);
    void sortChildrenOf(QTreeWidgetItem* parent);
    int sortNumber() const { return sortNumber_; }
    int sortSection() const { return sortSection_; }
    bool sortAscendingNow() const { return ascending_; }

    static QString itemId(const QTreeWidgetItem* item);
    static qint64 itemIdValue(const QTreeWidgetItem* item);
    static int itemImage(const QTreeWidgetItem* item);
    static void setItemImage(QTreeWidgetItem* item, int image);
    static bool itemBold(const QTreeWidgetItem* item);
    void setItemRead(QTreeWidgetItem* item, bool read);
    void setItemColour(QTreeWidgetItem* item, qint64 stored);
    bool isOutbox(qint64 id) const;
    bool isSentbox(qint64 id) const;
    // The item lies below (or is) an outbox or sent-box item.
    bool isInMailBox(const QTreeWidgetItem* item) const;
    static bool isBelow(const QTreeWidgetItem* item, const QTreeWidgetItem* ancestor);
    // The link URL of an item from the captions of its chain.
    static QString linkUrl(const QTreeWidgetItem* item);

    // Drag rules: a node drag starts on Shift (move) or Ctrl (copy) over a node other than the root,
    // the bin, the outbox and the sent box; the target must not be the dragged item, its parent, below
    // it, or the outbox, the sent box or below one of them.
    bool canDragItem(const QTreeWidgetItem* item) const;
    bool acceptsNodeDrop(const QTreeWidgetItem* dragged, const QTreeWidgetItem* target) const;
    bool acceptsRowsDrop(const QTreeWidgetItem* target) const;
    // The file list tells the tree while one of its row drags runs.
    void setRowDragRunning(bool on) { rowDrag_ = on; }

    // Answers the document password question before listing; empty: refuse every protected node.
    void setPasswordPrompt(PasswordPrompt prompt) { prompt_ = std::move(prompt); }

signals:
    // A mouse-up over an item that was not the end of a drag (left button).
    void itemReleased(QTreeWidgetItem* item);
    void contextMenuWanted(QTreeWidgetItem* item, const QPoint& globalPos);
    void enterPressed();
    void deletePressed();
    // A key other than Enter was released after the focus moved to another item.
    void focusMovedByKey();
    void nodeDropped(QTreeWidgetItem* dragged, QTreeWidgetItem* target, bool copy);
    void rowsDropped(QTreeWidgetItem* target);
    // The in-place editor closed with a new text for the item; the receiver decides.
    void renameRequested(QTreeWidgetItem* item, const QString& text);

protected:
    void mousePressEvent(QMouseEvent* e) override;
    void mouseMoveEvent(QMouseEvent* e) override;
    void mouseReleaseEvent(QMouseEvent* e) override;
    void keyPressEvent(QKeyEvent* e) override;
    void keyReleaseEvent(QKeyEvent* e) override;
    void dragEnterEvent(QDragEnterEvent* e) override;
    void dragMoveEvent(QDragMoveEvent* e) override;
    void dropEvent(QDropEvent* e) override;

private:
    void onExpanded(QTreeWidgetItem* item);
    void onCollapsed(QTreeWidgetItem* item);
    QTreeWidgetItem* makeItem(const NodeItem& row) const;
    QTreeWidgetItem* makeBinItem() const;
    QTreeWidgetItem* dropTarget(const QPoint& pos) const;

    Database* db_ = nullptr;
    PasswordPrompt prompt_;
    int sortNumber_ = 0;
    int sortSection_ = 0;
    bool ascending_ = true;
    // Drag state.
    QTreeWidgetItem* pressItem_ = nullptr;
    QPoint pressPos_;
    bool pressCopy_ = false;
    bool dragArmed_ = false;
    bool dragEnded_ = false;
    QTreeWidgetItem* dragItem_ = nullptr;
    bool rowDrag_ = false;
    QTreeWidgetItem* keyPressItem_ = nullptr;
    bool loading_ = false;
};

} // namespace zel
