#include "shell/ui/TFrmUser.h"

#include "shell/Strings.h"
#include "shell/ui/Messages.h"
#include "store/Users.h"

#include <QDialogButtonBox>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTreeWidget>
#include <QVBoxLayout>

namespace zel {

namespace {
enum Column { ColCode = 0, ColName, ColDescription, ColId, ColAdmin };
} // namespace

TFrmUserProperty::TFrmUserProperty(Database& db, qint64 id, QWidget* parent) : QDialog(parent), db_(db), id_(id) {
    setObjectName(QStringLiteral("FrmUserProperty"));
    PrepareDialog(this);
    auto make = [this](const char16_t* name, bool password) {
        auto* e = new QLineEdit(this);
        e->setObjectName(QString::fromUtf16(name));
        if (password) e->setEchoMode(QLineEdit::Password);
        return e;
    };
    edtCode_ = make(u"edtCode", false);
    edtName_ = make(u"edtName", false);
    edtDescription_ = make(u"edtDescription", false);
    edtPassword_ = make(u"edtPassword", true);
    edtConfirm_ = make(u"edtConfirm", true);
    auto* form = new QFormLayout;
    const std::pair<QLineEdit*, int> fields[] = {
        {edtCode_, 57003}, {edtName_, 57004}, {edtDescription_, 57005}, {edtPassword_, 57008}, {edtConfirm_, 57009}};
    for (const auto& [edit, ident] : fields) {
        auto* l = new QLabel(this);
        form->addRow(l, edit);
        captions_.field(l, edit, ident);
        if (id != 0 && (edit == edtPassword_ || edit == edtConfirm_)) {
            l->hide();
            edit->hide();
        }
    }
    auto* buttons = new QDialogButtonBox(this);
    QPushButton* ok = buttons->addButton(QString(), QDialogButtonBox::AcceptRole);
    ok->setObjectName(QStringLiteral("btnOK"));
    ok->setDefault(true);
    QPushButton* cancel = buttons->addButton(QString(), QDialogButtonBox::RejectRole);
    cancel->setObjectName(QStringLiteral("btnCancel"));
    captions_.text(ok, 43002);
    captions_.text(cancel, 43003);
    captions_.window(this, id == 0 ? 57002 : 57001);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(form);
    layout->addWidget(buttons);
    captions_.apply();
    setMinimumWidth(380);
    connect(ok, &QPushButton::clicked, this, &TFrmUserProperty::btnOKClick);
    connect(cancel, &QPushButton::clicked, this, &QDialog::reject);
}

void TFrmUserProperty::setValues(const QString& code, const QString& name, const QString& description) {
    edtCode_->setText(code);
    edtName_->setText(name);
    edtDescription_->setText(description);
}
QString TFrmUserProperty::code() const {
    return edtCode_->text().trimmed();
}
QString TFrmUserProperty::fullName() const {
    return edtName_->text().trimmed();
}
QString TFrmUserProperty::description() const {
    return edtDescription_->text().trimmed();
}
QString TFrmUserProperty::password() const {
    return edtPassword_->text();
}

void TFrmUserProperty::btnOKClick() {
    if (code().isEmpty()) {
        ShowInformation(this, GetString(57011));
        edtCode_->setFocus();
        return;
    }
    if (id_ == 0 && edtPassword_->text() != edtConfirm_->text()) {
        ShowInformation(this, GetString(57012));
        edtConfirm_->setFocus();
        return;
    }
    if (IsUserCodeTaken(db_, id_, code())) {
        ShowInformation(this, GetString(57013));
        edtCode_->setFocus();
        return;
    }
    accept();
}

TFrmUser::TFrmUser(Database& db, QWidget* parent) : QDialog(parent), db_(db), list_(new QTreeWidget(this)) {
    setObjectName(QStringLiteral("FrmUser"));
    PrepareDialog(this);
    list_->setObjectName(QStringLiteral("lvUser"));
    list_->setRootIsDecorated(false);
    list_->setColumnCount(5);
    captions_.header(list_, ColCode, 57003);
    captions_.header(list_, ColName, 57004);
    captions_.header(list_, ColDescription, 57005);
    captions_.header(list_, ColId, 40242);
    captions_.header(list_, ColAdmin, 40403);
    list_->header()->setSectionResizeMode(QHeaderView::ResizeToContents);
    auto* btnNew = new QPushButton(this);
    btnNew->setObjectName(QStringLiteral("btnNewUser"));
    auto* btnProperty = new QPushButton(this);
    btnProperty->setObjectName(QStringLiteral("btnProperty"));
    auto* btnRemove = new QPushButton(this);
    btnRemove->setObjectName(QStringLiteral("btnRemoveUser"));
    auto* btnClose = new QPushButton(this);
    btnClose->setObjectName(QStringLiteral("btnExit"));
    captions_.text(btnNew, 56001);
    captions_.text(btnProperty, 56004);
    captions_.text(btnRemove, 56002);
    captions_.text(btnClose, 56005);
    captions_.window(this, 40036);
    list_->setAccessibleName(PlainCaption(GetString(40036)));
    auto* side = new QVBoxLayout;
    side->addWidget(btnNew);
    side->addWidget(btnProperty);
    side->addWidget(btnRemove);
    side->addStretch();
    side->addWidget(btnClose);
    auto* layout = new QHBoxLayout(this);
    layout->addWidget(list_, 1);
    layout->addLayout(side);
    captions_.apply();
    resize(640, 360);
    fill();
    connect(btnNew, &QPushButton::clicked, this, &TFrmUser::btnNewUserClick);
    connect(btnProperty, &QPushButton::clicked, this, &TFrmUser::btnPropertyClick);
    connect(list_, &QTreeWidget::itemDoubleClicked, this, &TFrmUser::btnPropertyClick);
    connect(btnRemove, &QPushButton::clicked, this, &TFrmUser::btnRemoveUserClick);
    connect(btnClose, &QPushButton::clicked, this, &QDialog::accept);
}

void TFrmUser::fill() {
    list_->clear();
    for (const UserRow& u : ListUsers(db_)) {
        auto* item = new QTreeWidgetItem(list_);
        item->setText(ColCode, u.code);
        item->setText(ColName, u.name);
        item->setText(ColDescription, u.description);
        item->setText(ColId, QString::number(u.id));
        item->setText(ColAdmin, u.administrator ? QStringLiteral("Y") : QStringLiteral("N"));
    }
    if (list_->topLevelItemCount() > 0) list_->setCurrentItem(list_->topLevelItem(0));
}

void TFrmUser::btnNewUserClick() {
    TFrmUserProperty dialog(db_, 0, this);
    if (dialog.exec() != QDialog::Accepted) return;
    TuserReg rec;
    rec.code = dialog.code();
    rec.name = dialog.fullName();
    rec.description = dialog.description();
    rec.password = dialog.password();
    const qint64 id = AddUser(db_, rec);
    if (id == 0) {
        ShowInformation(this, GetString(40609));
        return;
    }
    auto* item = new QTreeWidgetItem(list_);
    item->setText(ColCode, rec.code);
    item->setText(ColName, rec.name);
    item->setText(ColDescription, rec.description);
    item->setText(ColId, QString::number(id));
    item->setText(ColAdmin, QStringLiteral("N"));
    list_->setCurrentItem(item);
}

void TFrmUser::btnPropertyClick() {
    QTreeWidgetItem* item = list_->currentItem();
    if (!item) return;
    const qint64 id = item->text(ColId).toLongLong();
    TFrmUserProperty dialog(db_, id, this);
    dialog.setValues(item->text(ColCode), item->text(ColName), item->text(ColDescription));
    if (dialog.exec() != QDialog::Accepted) return;
    TuserReg rec;
    rec.code = dialog.code();
    rec.name = dialog.fullName();
    rec.description = dialog.description();
    if (!UpdateUser(db_, id, rec)) {
        ShowInformation(this, GetString(40609));
        return;
    }
    item->setText(ColCode, rec.code);
    item->setText(ColName, rec.name);
    item->setText(ColDescription, rec.description);
}

void TFrmUser::btnRemoveUserClick() {
    QTreeWidgetItem* item = list_->currentItem();
    if (!item) return;
    if (item->text(ColAdmin) == QStringLiteral("Y")) {
        ShowInformation(this, GetString(57006));
        return;
    }
    if (!AskYesNo(this, GetString(57007))) return;
    if (!DeleteUser(db_, item->text(ColId).toLongLong())) {
        ShowInformation(this, GetString(40609));
        return;
    }
    delete item;
}

} // namespace zel
