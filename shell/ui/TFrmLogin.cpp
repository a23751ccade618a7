#include "shell/ui/TFrmLogin.h"

#include "shell/RuntimeSettings.h"
#include "shell/Strings.h"
#include "shell/ui/Messages.h"
#include "shell/ui/TFrmSetDataBase.h"
#include "store/KnowledgeBase.h"

#include <QCheckBox>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

namespace zel {

TFrmLogin::TFrmLogin(QWidget* parent)
    : QDialog(parent), edtDataBase_(new QLineEdit(this)), btnSelect_(new QPushButton(QStringLiteral("..."), this)),
      edtUser_(new QLineEdit(this)), edtPassword_(new QLineEdit(this)), chkRemember_(new QCheckBox(this)) {
    setObjectName(QStringLiteral("FrmLogin"));
    PrepareDialog(this);
    edtDataBase_->setObjectName(QStringLiteral("edtDataBase"));
    btnSelect_->setObjectName(QStringLiteral("btnSelect"));
    btnSelect_->setAccessibleName(QStringLiteral("..."));
    edtUser_->setObjectName(QStringLiteral("edtUser"));
    edtPassword_->setObjectName(QStringLiteral("edtPassword"));
    edtPassword_->setEchoMode(QLineEdit::Password);
    chkRemember_->setObjectName(QStringLiteral("chkRemember"));

    auto* heading = new QLabel(this);
    heading->setObjectName(QStringLiteral("lblTitle"));
    QFont big = heading->font();
    big.setPointSize(big.pointSize() + 4);
    big.setBold(true);
    heading->setFont(big);
    captions_.text(heading, 40503);

    auto* form = new QFormLayout;
    auto* kbRow = new QHBoxLayout;
    kbRow->addWidget(edtDataBase_, 1);
    kbRow->addWidget(btnSelect_);
    auto* lblKb = new QLabel(this);
    auto* lblUser = new QLabel(this);
    auto* lblPassword = new QLabel(this);
    form->addRow(lblKb, kbRow);
    form->addRow(lblUser, edtUser_);
    form->addRow(lblPassword, edtPassword_);
    form->addRow(QString(), chkRemember_);
    captions_.field(lblKb, edtDataBase_, 40722);
    captions_.field(lblUser, edtUser_, 40723);
    captions_.field(lblPassword, edtPassword_, 40724);
    captions_.text(chkRemember_, 40725);

    auto* buttons = new QDialogButtonBox(this);
    QPushButton* ok = buttons->addButton(QString(), QDialogButtonBox::AcceptRole);
    QPushButton* cancel = buttons->addButton(QString(), QDialogButtonBox::RejectRole);
    ok->setObjectName(QStringLiteral("btnOK"));
    cancel->setObjectName(QStringLiteral("btnCancel"));
    ok->setDefault(true);
    captions_.text(ok, 43002);
    captions_.text(cancel, 43003);
    captions_.window(this, 40509);

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(heading);
    layout->addLayout(form);
    layout->addWidget(buttons);
    captions_.apply();
    setMinimumWidth(420);

    const TRuntimeReg& reg = RuntimeSettings();
    edtDataBase_->setText(reg.catalogueName);
    edtUser_->setText(reg.userCode);
    chkRemember_->setChecked(reg.rememberLogin);
    if (reg.rememberLogin) edtPassword_->setText(reg.password);

    connect(btnSelect_, &QPushButton::clicked, this, [this] {
        const QString chosen = TFrmSetDataBase::ChooseCatalogueEntry(this, edtDataBase_->text());
        if (!chosen.isEmpty()) edtDataBase_->setText(chosen);
    });
    connect(ok, &QPushButton::clicked, this, &TFrmLogin::btnOKClick);
    connect(cancel, &QPushButton::clicked, this, &QDialog::reject);
}

QString TFrmLogin::catalogueName() const {
    return edtDataBase_->text().trimmed();
}

void TFrmLogin::btnOKClick() {
    if (edtDataBase_->text().trimmed().isEmpty()) {
        ShowInformation(this, GetString(40501));
        edtDataBase_->setFocus();
        return;
    }
    if (edtUser_->text().trimmed().isEmpty()) {
        ShowInformation(this, GetString(40502));
        edtUser_->setFocus();
        return;
    }
    TMainData& data = MainData();
    const OpenResult r = OpenKnowledgeBase(data.acGlint, data.catalogue, catalogueName(), edtUser_->text(), true, false,
                                           chkRemember_->isChecked(), edtPassword_->text());
    if (r.ok()) {
        accept();
        return;
    }
    // A name that the catalogue does not hold gets the "select a knowledge base" message rather than none.
    const QString message = r.status == OpenStatus::NoEntry ? GetString(40501) : OpenMessage(r, edtUser_->text());
    ShowInformation(this, message);
    if (++failures_ >= 3) reject();
}

} // namespace zel
