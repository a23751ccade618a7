#pragma once

#include <QWidget>
#include <functional>

class QLineEdit;
class QPushButton;
class QTreeWidget;

namespace zel {

class Database;

// The bookmark page of the index panel: the user's bookmarks, the last opened node's caption, and
// "Add", "Show", "Remove" on the store's bookmark operations.
class TBookmarkPage : public QWidget {
    Q_OBJECT
public:
    explicit TBookmarkPage(QWidget* parent = nullptr);

    void setDatabase(Database* db);
    // Opening a bookmarked node goes through the tree.
    void setOpener(std::function<bool(const QString& id, const QString& url)> opener) { opener_ = std::move(opener); }
    // The node opened last.
    void setCurrent(const QString& id, const QString& caption);
    void fill();

    QTreeWidget* list() const { return tvBookMark_; }
    QLineEdit* currentEdit() const { return edtCurbookMark_; }

public slots:
    bool addBookmark();
    bool showBookmark();
    bool removeBookmark();

private:
    QTreeWidget* tvBookMark_;
    QLineEdit* edtCurbookMark_;
    QPushButton* btnAdd_;
    QPushButton* btnShow_;
    QPushButton* btnRemove_;
    Database* db_ = nullptr;
    QString currentId_;
    std::function<bool(const QString&, const QString&)> opener_;
};

} // namespace zel
