#pragma once

#include <QTreeWidget>

#include <functional>

#include "store/Nodes.h"
#include "tree/TreeRules.h"

namespace zel {

class Database;
class TTreePanel;

// The file list ("Filelist" tab, lvaddfile): the children of the current node, or the nodes in the
// recycle bin. Rows open, go to the bin (or are purged in it), are restored, marked, coloured,
// renamed in place and dragged onto the tree.
class TFileList : public QTreeWidget {
    Q_OBJECT
public:
    enum Column {
        ColName,
        ColId,
        ColFrom,
        ColTo,
        ColReceived,
        ColSent,
        ColSize,
        ColType,
        ColModified,
        ColCreated,
        ColSourceLink,
        ColSendType,
        ColumnCount
    };

    explicit TFileList(QWidget* parent = nullptr);
    void setTreePanel(TTreePanel* panel) { panel_ = panel; }
    void setDatabase(Database* db) { db_ = db; }

    // Reads the rows of a node ("-1": the recycle bin) and chooses the normal or the mail columns.
    void fill(const QString& nodeId);
    // Column captions in the language now in force.
    void applyLanguage();
    void clearRows();
    QString shownId() const { return shownId_; }
    bool isShown() const { return !shownId_.isEmpty(); }
    bool binShown() const { return shownId_ == QStringLiteral("-1"); }
    bool mailView() const { return mailView_; }

    // Rows by node id.
    QTreeWidgetItem* rowFor(const QString& id) const;
    void addRow(const QString& id);
    void removeRow(const QString& id);
    void setRowRead(const QString& id, bool read);
    void setRowColour(const QString& id, qint64 stored);
    void setRowCaption(const QString& id, const QString& caption);
    static QString rowId(const QTreeWidgetItem* row);
    QString focusedId() const;

    // Commands with the list focused.
    void openFocused();
    void deleteRows();
    void restoreRows();
    void markRows(bool read);
    void colourRows();
    void editFocused();
    bool renameRow(QTreeWidgetItem* row, const QString& text);
    // Moves the selected rows' nodes under the tree item target.
    void moveRows(QTreeWidgetItem* target);
    // Sorts by a column; a second click on the same column turns the direction.
    void sortByColumn(int column);

    // Whether the list has the focus for the commands; entering and leaving it set this.
    bool isActive() const { return active_; }
    void setActive(bool active);
    FileRowFacts facts(const QTreeWidgetItem* row = nullptr) const;

signals:
    void statusText(const QString& text);

protected:
    void focusInEvent(QFocusEvent* e) override;
    void focusOutEvent(QFocusEvent* e) override;
    void mousePressEvent(QMouseEvent* e) override;
    void mouseMoveEvent(QMouseEvent* e) override;
    void mouseReleaseEvent(QMouseEvent* e) override;
    void keyReleaseEvent(QKeyEvent* e) override;
    void keyPressEvent(QKeyEvent* e) override;

private:
    QTreeWidgetItem* makeRow(const FileListRow& r) const;
    QList<QTreeWidgetItem*> selectedRows() const;
    // Calls `change` with the id of each row, last first, under the wait window for more than two rows.
    void forEachRow(const QList<QTreeWidgetItem*>& rows, const std::function<void(const QString&)>& change);
    void afterRowsChanged(int remaining);
    bool moveOne(QTreeWidgetItem* row, QTreeWidgetItem* target);

    TTreePanel* panel_ = nullptr;
    Database* db_ = nullptr;
    QString shownId_;
    bool mailView_ = false;
    bool active_ = false;
    int sortColumn_ = -1;
    Qt::SortOrder sortOrder_ = Qt::AscendingOrder;
    QPoint pressPos_;
    bool pressOnRow_ = false;
};

} // namespace zel
