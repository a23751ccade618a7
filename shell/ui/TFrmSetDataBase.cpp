#include "shell/ui/TFrmSetDataBase.h"

#include "shell/Strings.h"
#include "shell/ui/Messages.h"
#include "shell/ui/TFrmDataLink.h"
#include "store/KnowledgeBase.h"

#include <QDialogButtonBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QPushButton>
#include <QTreeWidget>
#include <QVBoxLayout>

namespace zel {

namespace {
// Column 5 keeps nothing: the item finds its entry by its text, the name.
enum Column { ColName = 0, ColType, ColServer, ColDataBase, ColUser };
} // namespace

TFrmSetDataBase::TFrmSetDataBase(bool pickMode, const QString& current, QWidget* parent)
    : QDialog(parent), pick_(pickMode), tree_(new QTreeWidget(this)) {
    setObjectName(QStringLiteral("FrmSetDataBase"));
    PrepareDialog(this);
    tree_->setObjectName(QStringLiteral("tvDataBase"));
    tree_->setColumnCount(5);
    captions_.header(tree_, 0, 40550);
    captions_.header(tree_, 2, 40551);
    captions_.header(tree_, 3, 40552);
    tree_->headerItem()->setText(ColType, QString());
    tree_->headerItem()->setText(ColUser, QString());
    // Type and user stay in the item for the dialogs; the header shows name, server and database.
    tree_->setColumnHidden(ColType, true);
    tree_->setColumnHidden(ColUser, true);
    tree_->header()->setSectionResizeMode(QHeaderView::ResizeToContents);

    btnAdd_ = new QPushButton(this);
    btnAdd_->setObjectName(QStringLiteral("btnAdd"));
    btnSetting_ = new QPushButton(this);
    btnSetting_->setObjectName(QStringLiteral("btnSetting"));
    btnDelete_ = new QPushButton(this);
    btnDelete_->setObjectName(QStringLiteral("btnDelete"));
    captions_.text(btnAdd_, 43010);
    captions_.text(btnSetting_, 43008);
    captions_.text(btnDelete_, 43009);
    auto* buttons = new QDialogButtonBox(this);
    QPushButton* ok = buttons->addButton(QString(), QDialogButtonBox::AcceptRole);
    ok->setObjectName(QStringLiteral("btnOK"));
    QPushButton* cancel = buttons->addButton(QString(), QDialogButtonBox::RejectRole);
    cancel->setObjectName(QStringLiteral("btnCancel"));
    captions_.text(ok, 43002);
    captions_.text(cancel, 43003);
    captions_.window(this, 40553);
    tree_->setAccessibleName(PlainCaption(GetString(40553)));

    auto* side = new QVBoxLayout;
    side->addWidget(btnAdd_);
    side->addWidget(btnSetting_);
    side->addWidget(btnDelete_);
    side->addStretch();
    auto* top = new QHBoxLayout;
    top->addWidget(tree_, 1);
    top->addLayout(side);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(top);
    layout->addWidget(buttons);
    captions_.apply();
    resize(620, 360);

    fill(current);
    connect(tree_, &QTreeWidget::currentItemChanged, this, &TFrmSetDataBase::selectionChanged);
    connect(tree_, &QTreeWidget::itemDoubleClicked, this, [this](QTreeWidgetItem* item) {
        if (pick_ && item && item->parent()) btnOKClick();
    });
    connect(btnAdd_, &QPushButton::clicked, this, &TFrmSetDataBase::btnAddClick);
    connect(btnSetting_, &QPushButton::clicked, this, &TFrmSetDataBase::btnSettingClick);
    connect(btnDelete_, &QPushButton::clicked, this, &TFrmSetDataBase::btnDeleteClick);
    connect(ok, &QPushButton::clicked, this, &TFrmSetDataBase::btnOKClick);
    connect(cancel, &QPushButton::clicked, this, &QDialog::reject);
    selectionChanged();
}

void TFrmSetDataBase::setItem(QTreeWidgetItem* item, int index) {
    const CatalogueEntry& e = MainData().catalogue.entries()[index];
    item->setText(ColName, e.nameText());
    item->setText(ColType, QString::number(e.serverType));
    item->setText(ColServer, e.serverNameText());
    item->setText(ColDataBase, e.databaseText());
    item->setText(ColUser, e.userText());
}

QTreeWidgetItem* TFrmSetDataBase::addItem(int index) {
    const int type = MainData().catalogue.entries()[index].serverType == 0 ? 0 : 1;
    auto* item = new QTreeWidgetItem(groups_[type]);
    setItem(item, index);
    return item;
}

void TFrmSetDataBase::fill(const QString& current) {
    tree_->clear();
    const int idents[] = {40554, 40555};
    for (int g = 0; g < 2; ++g) {
        groups_[g] = new QTreeWidgetItem(tree_);
        groups_[g]->setText(ColName, GetString(idents[g]));
        groups_[g]->setText(ColType, QString::number(g));
    }
    QTreeWidgetItem* select = groups_[0];
    const auto& entries = MainData().catalogue.entries();
    for (int i = 0; i < entries.size(); ++i) {
        if (entries[i].serverType != 0 && entries[i].serverType != 1) continue;
        QTreeWidgetItem* item = addItem(i);
        if (!current.isEmpty() && entries[i].nameText() == current) select = item;
    }
    tree_->expandAll();
    tree_->setCurrentItem(select);
}

void TFrmSetDataBase::selectionChanged() {
    QTreeWidgetItem* item = tree_->currentItem();
    const bool entry = item && item->parent();
    btnAdd_->setEnabled(item != nullptr);
    btnSetting_->setEnabled(entry);
    btnDelete_->setEnabled(entry);
}

void TFrmSetDataBase::btnAddClick() {
    QTreeWidgetItem* item = tree_->currentItem();
    if (!item) return;
    const int type = (item->parent() ? item->parent() : item)->text(ColType).toInt();
    TFrmDataLink dialog(TFrmDataLink::AddExisting, this);
    dialog.setServerType(type);
    dialog.setName(GetString(46018));
    if (dialog.exec() != QDialog::Accepted) return;
    Catalogue& catalogue = MainData().catalogue;
    catalogue.entries() << dialog.entry();
    if (!catalogue.SaveCatalogue()) {
        catalogue.entries().removeLast();
        ShowInformation(this, QStringLiteral("cannot write %1").arg(catalogue.filePath()));
        return;
    }
    tree_->setCurrentItem(addItem(int(catalogue.entries().size() - 1)));
}

void TFrmSetDataBase::btnSettingClick() {
    QTreeWidgetItem* item = tree_->currentItem();
    if (!item || !item->parent()) return;
    Catalogue& catalogue = MainData().catalogue;
    const int index = catalogue.FindCatalogueEntry(item->text(ColName));
    if (index < 0) return;
    TFrmDataLink dialog(TFrmDataLink::Edit, this);
    dialog.setEntry(catalogue.entries()[index]);
    if (dialog.exec() != QDialog::Accepted) return;
    const CatalogueEntry before = catalogue.entries()[index];
    catalogue.entries()[index] = dialog.entry();
    if (!catalogue.SaveCatalogue()) {
        catalogue.entries()[index] = before;
        ShowInformation(this, QStringLiteral("cannot write %1").arg(catalogue.filePath()));
        return;
    }
    // A changed type moves the item to the other group.
    const int group = catalogue.entries()[index].serverType == 0 ? 0 : 1;
    if (item->parent() != groups_[group]) {
        delete item;
        item = addItem(index);
    } else {
        setItem(item, index);
    }
    tree_->setCurrentItem(item);
}

void TFrmSetDataBase::btnDeleteClick() {
    QTreeWidgetItem* item = tree_->currentItem();
    if (!item || !item->parent()) return;
    if (!AskYesNo(this, GetString(40549))) return;
    Catalogue& catalogue = MainData().catalogue;
    const int index = catalogue.FindCatalogueEntry(item->text(ColName));
    if (index < 0) return;
    const CatalogueEntry removed = catalogue.entries().takeAt(index);
    if (!catalogue.SaveCatalogue()) {
        catalogue.entries().insert(index, removed);
        ShowInformation(this, QStringLiteral("cannot write %1").arg(catalogue.filePath()));
        return;
    }
    delete item;
    selectionChanged();
}

void TFrmSetDataBase::btnOKClick() {
    if (!pick_) {
        accept();
        return;
    }
    QTreeWidgetItem* item = tree_->currentItem();
    if (!item || !item->parent()) {
        ShowInformation(this, GetString(40548));
        return;
    }
    chosen_ = item->text(ColName);
    accept();
}

void TFrmSetDataBase::ManageCatalogue(QWidget* parent) {
    TFrmSetDataBase dialog(false, QString(), parent);
    dialog.exec();
}

QString TFrmSetDataBase::ChooseCatalogueEntry(QWidget* parent, const QString& current) {
    TFrmSetDataBase dialog(true, current, parent);
    return dialog.exec() == QDialog::Accepted ? dialog.chosenName() : QString();
}

} // namespace zel
