#include "tree/ui/TfrmSelectNode.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTreeWidget>
#include <QTreeWidgetItemIterator>
#include <QVBoxLayout>

#include "shell/Strings.h"
#include "store/Nodes.h"
#include "store/Users.h"
#include "tree/TreeRules.h"
#include "tree/ui/NodeImages.h"
#include "tree/ui/TreeAsk.h"

namespace zel {

namespace {

constexpr int kLoadedRole = Qt::UserRole + 2;
constexpr int kIdColumn = 1;

class SelectItem : public QTreeWidgetItem {
public:
    SelectItem(int section) : section_(section) {}
    bool operator<(const QTreeWidgetItem& other) const override {
        // Column k + 1 holds the index tree's section k (the caption is column 0 in both).
        const int col = section_ == 0 ? 0 : section_ + 1;
        return CompareTreeValues(section_, text(col), other.text(col)) < 0;
    }

private:
    int section_;
};

} // namespace

TfrmSelectNode::TfrmSelectNode(Database& db, Form form, bool foldersOnly, QWidget* parent)
    : QDialog(parent), db_(db), form_(form), foldersOnly_(foldersOnly) {
    setObjectName(QStringLiteral("frmSelectNode"));
    setWindowTitle(GetString(40539));
    tvSelect = new QTreeWidget;
    tvSelect->setObjectName(QStringLiteral("tvSelect"));
    tvSelect->setAccessibleName(GetString(40539));
    // Caption, id, then the index tree's sections 2 to 8 so that the same sort numbers apply.
    tvSelect->setColumnCount(10);
    for (int c = 1; c < 10; ++c)
        tvSelect->setColumnHidden(c, true);
    tvSelect->setHeaderHidden(true);
    lblHint = new QLabel(GetString(40540));
    lblHint->setObjectName(QStringLiteral("lblHint"));
    edtName = new QLineEdit;
    edtName->setObjectName(QStringLiteral("edtName"));
    edtName->setAccessibleName(QStringLiteral("Name"));
    rbNew = new QRadioButton(GetString(40310));
    rbNew->setObjectName(QStringLiteral("rbNew"));
    rbNew->setAccessibleName(rbNew->text());
    rbInsert = new QRadioButton(GetString(40541));
    rbInsert->setObjectName(QStringLiteral("rbInsert"));
    rbInsert->setAccessibleName(rbInsert->text());
    rbNew->setChecked(true);
    btnOK = new QPushButton(GetString(43002).remove(u'&'));
    btnOK->setObjectName(QStringLiteral("btnOK"));
    btnOK->setAccessibleName(btnOK->text());
    btnOK->setDefault(true);
    btnCancel = new QPushButton(GetString(43003).remove(u'&'));
    btnCancel->setObjectName(QStringLiteral("btnCancel"));
    btnCancel->setAccessibleName(btnCancel->text());

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(lblHint);
    layout->addWidget(edtName);
    layout->addWidget(rbNew);
    layout->addWidget(rbInsert);
    layout->addWidget(tvSelect, 1);
    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(btnOK);
    buttons->addWidget(btnCancel);
    layout->addLayout(buttons);
    const bool handOver = form == Form::HandOver;
    lblHint->setVisible(handOver);
    edtName->setVisible(handOver);
    rbNew->setVisible(handOver);
    rbInsert->setVisible(handOver);
    resize(360, handOver ? 400 : 480);

    connect(rbNew, &QRadioButton::toggled, tvSelect, &QWidget::setEnabled);
    connect(tvSelect, &QTreeWidget::itemExpanded, this, &TfrmSelectNode::onExpanded);
    connect(tvSelect, &QTreeWidget::itemChanged, this, &TfrmSelectNode::onChanged);
    connect(btnOK, &QPushButton::clicked, this, &TfrmSelectNode::btnOKClick);
    connect(btnCancel, &QPushButton::clicked, this, &QDialog::reject);
}

void TfrmSelectNode::loadChildren(QTreeWidgetItem* parent) {
    const QString parentId = parent ? parent->text(kIdColumn) : QStringLiteral("0");
    const int number = IsKnownSortNumber(CurrentUser().sortOrder) ? CurrentUser().sortOrder : 0;
    const int section = SortSection(number);
    const QList<NodeItem> rows = ListChildren(db_, parentId, [this](const QString& t, const QString& p) {
        return Ask().password ? Ask().password(this, t, p) : std::nullopt;
    });
    const Qt::CheckState inherited = parent ? parent->checkState(0) : Qt::Unchecked;
    QList<QTreeWidgetItem*> items;
    settingChecks_ = true;
    for (const NodeItem& r : rows) {
        const bool folder = r.hasChild == QStringLiteral("Y");
        if (foldersOnly_ && !folder) continue;
        auto* item = new SelectItem(section);
        item->setText(0, r.caption);
        item->setText(kIdColumn, QString::number(r.id));
        // The index tree's section k sits in column k + 1 here (column 1 is the id).
        item->setText(ColModified + 1, TreeTimeText(r.modified));
        item->setText(ColSortNumber + 1, QString::number(r.sortNumber));
        item->setText(ColCreated + 1, TreeTimeText(r.created));
        item->setIcon(0, NodeIcon(folder ? ImgFolder : ImgDocument));
        item->setChildIndicatorPolicy(folder ? QTreeWidgetItem::ShowIndicator : QTreeWidgetItem::DontShowIndicator);
        if (form_ == Form::CheckBoxes) item->setCheckState(0, inherited);
        items << item;
    }
    if (parent) {
        parent->addChildren(items);
        parent->setData(0, kLoadedRole, true);
    } else {
        tvSelect->addTopLevelItems(items);
    }
    settingChecks_ = false;
    // Sorting goes through the items' own comparison (column argument unused by it).
    const Qt::SortOrder order = SortAscending(number) ? Qt::AscendingOrder : Qt::DescendingOrder;
    if (parent)
        parent->sortChildren(0, order);
    else
        tvSelect->sortItems(0, order);
}

void TfrmSelectNode::start(const QString& selectedId) {
    tvSelect->clear();
    loadChildren(nullptr);
    const QString id = selectedId.trimmed();
    QTreeWidgetItem* pick = nullptr;
    if (!id.isEmpty() && id != QStringLiteral("0")) {
        // Walk the id path down, loading each level.
        const QString path = GetChildPath(db_, id);
        const QStringList chain = path.split(u'/', Qt::SkipEmptyParts) << id;
        QTreeWidgetItem* level = nullptr;
        for (const QString& step : chain) {
            QTreeWidgetItem* found = nullptr;
            const int n = level ? level->childCount() : tvSelect->topLevelItemCount();
            for (int k = 0; k < n && !found; ++k) {
                QTreeWidgetItem* c = level ? level->child(k) : tvSelect->topLevelItem(k);
                if (c->text(kIdColumn) == step) found = c;
            }
            if (!found) break;
            if (step == id) {
                pick = found;
                break;
            }
            found->setExpanded(true);
            level = found;
        }
    }
    if (!pick && tvSelect->topLevelItemCount()) pick = tvSelect->topLevelItem(0);
    if (pick) {
        tvSelect->setCurrentItem(pick);
        tvSelect->scrollToItem(pick);
    }
}

void TfrmSelectNode::onExpanded(QTreeWidgetItem* item) {
    // Collapsing keeps the children: they are read once.
    if (item->data(0, kLoadedRole).toBool()) return;
    loadChildren(item);
    if (!item->childCount()) item->setChildIndicatorPolicy(QTreeWidgetItem::DontShowIndicator);
}

void TfrmSelectNode::onChanged(QTreeWidgetItem* item, int column) {
    if (settingChecks_ || column != 0 || form_ != Form::CheckBoxes) return;
    settingChecks_ = true;
    const Qt::CheckState state = item->checkState(0);
    QList<QTreeWidgetItem*> pending{item};
    while (!pending.isEmpty()) {
        QTreeWidgetItem* i = pending.takeLast();
        for (int k = 0; k < i->childCount(); ++k) {
            i->child(k)->setCheckState(0, state);
            pending << i->child(k);
        }
    }
    settingChecks_ = false;
}

QTreeWidgetItem* TfrmSelectNode::findItem(const QString& id) const {
    for (QTreeWidgetItemIterator it(tvSelect); *it; ++it)
        if ((*it)->text(kIdColumn) == id) return *it;
    return nullptr;
}

QString TfrmSelectNode::selectedId() const {
    QTreeWidgetItem* item = tvSelect->currentItem();
    return item ? item->text(kIdColumn) : QString();
}

QString TfrmSelectNode::selectedPath() const {
    QStringList captions;
    for (QTreeWidgetItem* i = tvSelect->currentItem(); i; i = i->parent())
        captions.prepend(i->text(0));
    if (captions.isEmpty()) return {};
    return u'/' + captions.join(u'/') + u'/';
}

bool TfrmSelectNode::selectedHasChildren() const {
    QTreeWidgetItem* item = tvSelect->currentItem();
    return item && item->childIndicatorPolicy() == QTreeWidgetItem::ShowIndicator;
}

QStringList TfrmSelectNode::checkedIds() const {
    QStringList out;
    for (QTreeWidgetItemIterator it(tvSelect); *it; ++it)
        if ((*it)->checkState(0) == Qt::Checked) out << (*it)->text(kIdColumn);
    return out;
}

QString TfrmSelectNode::documentName() const {
    return edtName->text().trimmed();
}

bool TfrmSelectNode::insertIntoCurrent() const {
    return rbInsert->isChecked();
}

void TfrmSelectNode::btnOKClick() {
    if (form_ != Form::CheckBoxes && !insertIntoCurrent() && !tvSelect->currentItem()) return;
    accept();
}

std::optional<TfrmSelectNode::Choice> TfrmSelectNode::choose(Database& db, const QString& startId, QWidget* parent,
                                                             bool foldersOnly) {
    TfrmSelectNode dialog(db, Form::Placement, foldersOnly, parent);
    dialog.start(startId);
    if (!Ask().exec(&dialog) || dialog.selectedId().isEmpty()) return std::nullopt;
    return Choice{dialog.selectedId(), dialog.selectedPath(), dialog.selectedHasChildren()};
}

} // namespace zel
