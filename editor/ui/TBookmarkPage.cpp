#include "editor/ui/TBookmarkPage.h"

#include <QHBoxLayout>
#include <QHeaderView>
#include <QLineEdit>
#include <QPushButton>
#include <QTreeWidget>
#include <QVBoxLayout>

#include "shell/Strings.h"
#include "store/Nodes.h"
#include "store/Users.h"

namespace zel {

namespace {
QString htmPath(const QString& namePath) {
    QString p = namePath;
    if (p.endsWith(u'/')) p.chop(1);
    return p + QStringLiteral(".htm");
}
} // namespace

TBookmarkPage::TBookmarkPage(QWidget* parent) : QWidget(parent) {
    setObjectName(QStringLiteral("pnlbookmark"));
    auto* top = new QVBoxLayout(this);
    top->setContentsMargins(2, 2, 2, 2);
    edtCurbookMark_ = new QLineEdit(this);
    edtCurbookMark_->setObjectName(QStringLiteral("edtCurbookMark"));
    edtCurbookMark_->setAccessibleName(GetString(40476));
    edtCurbookMark_->setReadOnly(true);
    top->addWidget(edtCurbookMark_);
    auto* buttons = new QHBoxLayout;
    btnAdd_ = new QPushButton(GetString(40473), this);
    btnAdd_->setObjectName(QStringLiteral("btnAddBookMark"));
    btnShow_ = new QPushButton(GetString(40474), this);
    btnShow_->setObjectName(QStringLiteral("btnshowBookMark"));
    btnRemove_ = new QPushButton(GetString(40475), this);
    btnRemove_->setObjectName(QStringLiteral("btnRemoveBookMark"));
    for (QPushButton* b : {btnAdd_, btnShow_, btnRemove_}) {
        b->setAccessibleName(b->text());
        buttons->addWidget(b);
    }
    top->addLayout(buttons);
    tvBookMark_ = new QTreeWidget(this);
    tvBookMark_->setObjectName(QStringLiteral("tvBookMark"));
    tvBookMark_->setAccessibleName(GetString(46104));
    tvBookMark_->setColumnCount(4);
    tvBookMark_->setRootIsDecorated(false);
    tvBookMark_->setHeaderHidden(true);
    for (int c = 1; c < 4; ++c)
        tvBookMark_->setColumnHidden(c, true);
    top->addWidget(tvBookMark_);
    connect(btnAdd_, &QPushButton::clicked, this, &TBookmarkPage::addBookmark);
    connect(btnShow_, &QPushButton::clicked, this, &TBookmarkPage::showBookmark);
    connect(btnRemove_, &QPushButton::clicked, this, &TBookmarkPage::removeBookmark);
    connect(tvBookMark_, &QTreeWidget::itemDoubleClicked, this, &TBookmarkPage::showBookmark);
    setDatabase(nullptr);
}

void TBookmarkPage::setDatabase(Database* db) {
    db_ = db;
    tvBookMark_->clear();
    edtCurbookMark_->clear();
    currentId_.clear();
    for (QPushButton* b : {btnAdd_, btnShow_, btnRemove_})
        b->setEnabled(db != nullptr);
    if (db_) fill();
}

void TBookmarkPage::setCurrent(const QString& id, const QString& caption) {
    currentId_ = id;
    edtCurbookMark_->setText(caption);
}

// Item text: caption; columns 1 to 3 (hidden): the name path as a page, the node id, the bookmark id.
void TBookmarkPage::fill() {
    tvBookMark_->clear();
    if (!db_) return;
    for (const BookmarkItem& b : FillBookmarkList(*db_)) {
        auto* item = new QTreeWidgetItem(tvBookMark_);
        item->setText(0, b.caption);
        item->setText(1, b.path);
        item->setText(2, QString::number(b.nodeId));
        item->setText(3, QString::number(b.bookmarkId));
    }
}

bool TBookmarkPage::addBookmark() {
    if (!db_ || currentId_.toLongLong() <= 0) return false;
    const qint64 id = AddBookmark(*db_, currentId_.toLongLong());
    if (id <= 0) return false;
    tvBookMark_->setUpdatesEnabled(false);
    auto* item = new QTreeWidgetItem(tvBookMark_);
    item->setText(0, edtCurbookMark_->text());
    item->setText(1, htmPath(GetChildName(*db_, currentId_)));
    item->setText(2, currentId_);
    item->setText(3, QString::number(id));
    tvBookMark_->setUpdatesEnabled(true);
    tvBookMark_->setCurrentItem(item);
    tvBookMark_->setFocus();
    return true;
}

bool TBookmarkPage::showBookmark() {
    QTreeWidgetItem* item = tvBookMark_->currentItem();
    if (!item || !opener_ || item->text(2) == currentId_) return false;
    return opener_(item->text(2), QStringLiteral("link://document") + item->text(1));
}

bool TBookmarkPage::removeBookmark() {
    QTreeWidgetItem* item = tvBookMark_->currentItem();
    if (!db_ || !item) return false;
    if (!DeleteBookmark(*db_, item->text(3).toLongLong())) return false;
    delete item;
    return true;
}

} // namespace zel
