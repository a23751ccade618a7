#include "shell/ui/TBookmarkPage.h"

#include "shell/Strings.h"
#include "store/Nodes.h"
#include "store/Users.h"

#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTreeWidget>
#include <QVBoxLayout>

namespace zel {

namespace {
enum Column { ColCaption = 0, ColPath, ColNode, ColBookmark };
} // namespace

TBookmarkPage::TBookmarkPage(QWidget* parent)
    : QWidget(parent), tvBookMark_(new QTreeWidget(this)), edtCurbookMark_(new QLineEdit(this)),
      btnAdd_(new QPushButton(this)), btnShow_(new QPushButton(this)), btnRemove_(new QPushButton(this)) {
    setObjectName(QStringLiteral("BookmarkPage"));
    tvBookMark_->setObjectName(QStringLiteral("tvBookMark"));
    tvBookMark_->setColumnCount(4);
    tvBookMark_->setRootIsDecorated(false);
    tvBookMark_->setColumnHidden(ColNode, true);
    tvBookMark_->setColumnHidden(ColBookmark, true);
    tvBookMark_->header()->setSectionResizeMode(QHeaderView::ResizeToContents);
    captions_.header(tvBookMark_, ColCaption, 40218);
    captions_.header(tvBookMark_, ColPath, 40225);
    captions_.window(tvBookMark_, 40217);
    edtCurbookMark_->setObjectName(QStringLiteral("edtCurbookMark"));
    edtCurbookMark_->setReadOnly(true);
    btnAdd_->setObjectName(QStringLiteral("btnAddBookMark"));
    btnShow_->setObjectName(QStringLiteral("btnshowBookMark"));
    btnRemove_->setObjectName(QStringLiteral("btnRemoveBookMark"));
    captions_.text(btnAdd_, 40220);
    captions_.text(btnShow_, 40222);
    captions_.text(btnRemove_, 40221);
    auto* heading = new QLabel(this);
    heading->setObjectName(QStringLiteral("lblbookmark"));
    captions_.text(heading, 40217, QStringLiteral("  "));
    auto* current = new QLabel(this);
    current->setObjectName(QStringLiteral("lblct"));
    captions_.field(current, edtCurbookMark_, 40219);
    auto* buttons = new QHBoxLayout;
    buttons->addWidget(btnAdd_);
    buttons->addWidget(btnShow_);
    buttons->addWidget(btnRemove_);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(2, 2, 2, 2);
    layout->addWidget(heading);
    layout->addWidget(current);
    layout->addWidget(edtCurbookMark_);
    layout->addLayout(buttons);
    layout->addWidget(tvBookMark_, 1);
    connect(btnAdd_, &QPushButton::clicked, this, &TBookmarkPage::btnAddBookMarkClick);
    connect(btnShow_, &QPushButton::clicked, this, &TBookmarkPage::btnshowBookMarkClick);
    connect(tvBookMark_, &QTreeWidget::itemDoubleClicked, this, &TBookmarkPage::btnshowBookMarkClick);
    connect(btnRemove_, &QPushButton::clicked, this, &TBookmarkPage::btnRemoveBookMarkClick);
    setDatabase(nullptr);
}

void TBookmarkPage::setDatabase(Database* db) {
    db_ = db;
    tvBookMark_->clear();
    currentId_.clear();
    edtCurbookMark_->clear();
    if (db_) {
        for (const BookmarkItem& b : FillBookmarkList(*db_)) {
            auto* item = new QTreeWidgetItem(tvBookMark_);
            item->setText(ColCaption, b.caption);
            item->setText(ColPath, b.path);
            item->setText(ColNode, QString::number(b.nodeId));
            item->setText(ColBookmark, QString::number(b.bookmarkId));
        }
    }
    btnAdd_->setEnabled(db_ != nullptr);
    btnShow_->setEnabled(db_ != nullptr);
    btnRemove_->setEnabled(db_ != nullptr);
}

void TBookmarkPage::setCurrentNode(const QString& id, const QString& caption) {
    currentId_ = id;
    edtCurbookMark_->setText(caption);
}

void TBookmarkPage::btnAddBookMarkClick() {
    if (!db_ || currentId_.isEmpty() || currentId_ == QStringLiteral("0")) return;
    const qint64 bookmark = AddBookmark(*db_, currentId_.toLongLong());
    if (bookmark == 0) return;
    QString path = GetChildName(*db_, currentId_);
    if (path.endsWith(u'/')) path.chop(1);
    auto* item = new QTreeWidgetItem(tvBookMark_);
    item->setText(ColCaption, edtCurbookMark_->text());
    item->setText(ColPath, path + QStringLiteral(".htm"));
    item->setText(ColNode, currentId_);
    item->setText(ColBookmark, QString::number(bookmark));
    tvBookMark_->setCurrentItem(item);
    tvBookMark_->setFocus();
}

void TBookmarkPage::btnshowBookMarkClick() {
    QTreeWidgetItem* item = tvBookMark_->currentItem();
    if (!item || item->text(ColNode) == currentId_) return;
    emit openRequested(QStringLiteral("link://document") + item->text(ColPath), item->text(ColNode));
}

void TBookmarkPage::btnRemoveBookMarkClick() {
    QTreeWidgetItem* item = tvBookMark_->currentItem();
    if (!item || !db_) return;
    if (DeleteBookmark(*db_, item->text(ColBookmark).toLongLong())) delete item;
}

} // namespace zel
