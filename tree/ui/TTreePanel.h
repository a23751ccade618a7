#pragma once

#include <QTimer>
#include <QWidget>
#include <functional>

#include "tree/TreeRules.h"

class QAction;
class QActionGroup;
class QMenu;
class QTreeWidgetItem;

namespace zel {

class Database;
class TFileList;
class TPropertyPanel;
class TvMain;

// The index panel's knowledge tree with every tree command. It knows the file list and the property
// panel when the window gives them, and tells the window which node to show.
class TTreePanel : public QWidget {
    Q_OBJECT
public:
    explicit TTreePanel(QWidget* parent = nullptr);

    TvMain* tree() const { return tv_; }
    Database* database() const { return db_; }
    void setFileList(TFileList* list);
    TFileList* fileList() const { return fileList_; }
    void setPropertyPanel(TPropertyPanel* panel);
    // Asked before another node opens (an unsaved document); false keeps the current node.
    void setLeaveGuard(std::function<bool()> guard) { leaveGuard_ = std::move(guard); }

    // The commands' actions; the window may hand in its own (menus and tool bars share them).
    QAction* action(TreeCommand c) const { return actions_[int(c)]; }
    void bindAction(TreeCommand c, QAction* a);
    // The checkable action of a sort number (0, 1, 4, 5, 6, 7, 16, 17).
    QAction* sortAction(int number) const;
    void bindSortAction(int number, QAction* a);
    QMenu* treeMenu() const { return pmTree_; }
    QMenu* recycleMenu() const { return pmRecycle_; }
    bool isEnabled(TreeCommand c) const { return states_[c]; }

    QString currentId() const { return currentId_; }
    QString currentUrl() const { return currentUrl_; }
    // The item the last mouse or key event concerned, by id.
    QString clickedId() const { return clickedId_; }

    // --- Operations behind the commands (also used by the file list) ---
    // Opens a node: asks its document password, makes it current, fills the property panel, starts
    // the read-mark timer, shows the file list for the root and the bin. False when refused.
    bool openNode(const QString& id, const QString& url, bool fromHistory = false);
    void openItem(QTreeWidgetItem* item, bool fromHistory = false);
    // Moves a node under target with the refusals and messages of the tree; item may be null when the
    // node has no loaded item. True when it moved.
    bool moveNode(const QString& id, QTreeWidgetItem* item, QTreeWidgetItem* target, bool fromFileList);
    bool moveItem(QTreeWidgetItem* item, QTreeWidgetItem* target) {
        return moveNode(itemIdOf(item), item, target, false);
    }
    bool copyItem(QTreeWidgetItem* item, QTreeWidgetItem* target);
    // Delete with both questions; true when the node went to the bin.
    bool deleteItem(QTreeWidgetItem* item);
    bool renameItem(QTreeWidgetItem* item, const QString& text);
    // A node that another user deleted (or that is gone) is refused with a message and its parent
    // item shows the store's state again. True when the node is live.
    bool ensureLive(const QString& id, QTreeWidgetItem* item);
    // The tree items of restored nodes: parents shown expanded are read again, top-level ones added.
    void nodesRestored(const QList<qint64>& ids, const QList<qint64>& topLevel);
    void recomputeStates();
    // Relabels what the panel owns (its own actions, the bin item, the file list's columns) after a
    // language change; actions bound to the window's commands are relabelled by the window.
    void applyLanguage();
    bool fileListActive() const;

    // Runs a store change. One that touches at least longOperationRows() nodes runs on a thread of its
    // own with a connection of its own while the wait window shows text, so the window keeps painting;
    // a smaller one runs here under the wait cursor. A failure's database text is left in database().
    bool runStore(const QString& text, int rows, const std::function<bool(Database&)>& op);
    static int longOperationRows();
    static void setLongOperationRows(int rows);

public slots:
    // Session hooks.
    void openSession(Database* db, const QString& knowledgeBaseName);
    void closeSession();

    // Tree commands.
    void open();
    void newDocument();
    void newSubDocument();
    void deleteDocument();
    void rename();
    void moveTo();
    void markRead();
    void markUnread();
    void colourSign();
    void sortBy(int number);
    void moveUp();
    void moveDown();
    void setDefaultDocument();
    void defaultPage();
    void back();
    void forward();
    void emptyRecycleBin();
    void restore();
    void property();
    void setDocumentPassword();
    void maintenance();

signals:
    // The document pane shows this node (id > 0) or the file list (id 0 = root, -1 = recycle bin).
    void nodeOpened(const QString& id, const QString& url);
    void fileListWanted(const QString& id);
    // A new document was made: the editor opens it for editing.
    void editRequested(const QString& id);
    void commandStatesChanged();
    void statusText(const QString& text);

private:
    static QString itemIdOf(const QTreeWidgetItem* item);
    void onReleased(QTreeWidgetItem* item);
    void onEnter();
    void onKeyMoved();
    void onDeleteKey();
    void onDropped(QTreeWidgetItem* dragged, QTreeWidgetItem* target, bool copy);
    void onRowsDropped(QTreeWidgetItem* target);
    void onContextMenu(QTreeWidgetItem* item, const QPoint& pos);
    void onReadTimer();
    void createNode(bool subDocument);
    void markFocused(bool read);
    void moveSibling(int delta);
    void applyStates(const CommandStates& s);
    void applySortChecks();

    TvMain* tv_;
    TFileList* fileList_ = nullptr;
    TPropertyPanel* props_ = nullptr;
    Database* db_ = nullptr;
    QString kbName_;
    QAction* actions_[kTreeCommandCount] = {};
    QAction* sortActions_[8] = {};
    QActionGroup* sortGroup_;
    QMenu* pmTree_;
    QMenu* pmRecycle_;
    CommandStates states_;
    NodeHistory history_;
    std::function<bool()> leaveGuard_;
    QString currentId_, currentUrl_, clickedId_;
    QTimer readTimer_;
};

} // namespace zel
