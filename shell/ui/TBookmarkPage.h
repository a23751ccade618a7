#pragma once

#include <QWidget>

#include "shell/ui/Captions.h"

class QLabel;
class QLineEdit;
class QPushButton;
class QTreeWidget;

namespace zel {

class Database;

// The bookmark page of the index panel: the current user's bookmarks, the caption of the node opened
// last, and the buttons "Add", "Show" and "Remove".
class TBookmarkPage : public QWidget {
    Q_OBJECT
public:
    explicit TBookmarkPage(QWidget* parent = nullptr);
    QTreeWidget* list() const { return tvBookMark_; }
    Captions& captions() { return captions_; }

    // The session's connection (nullptr: none); fills the list from it.
    void setDatabase(Database* db);
    // The node opened last: its id and caption.
    void setCurrentNode(const QString& id, const QString& caption);

    void btnAddBookMarkClick();
    void btnshowBookMarkClick();
    void btnRemoveBookMarkClick();

signals:
    // Show: open the node with its link URL ("link://document" + name path).
    void openRequested(const QString& url, const QString& nodeId);

private:
    Database* db_ = nullptr;
    QString currentId_;
    QTreeWidget* tvBookMark_;
    QLineEdit* edtCurbookMark_;
    QPushButton* btnAdd_;
    QPushButton* btnShow_;
    QPushButton* btnRemove_;
    Captions captions_;
};

} // namespace zel
