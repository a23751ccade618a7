#include "shell/ui/TfrmPassword.h"

#include "shell/RuntimeSettings.h"
#include "shell/Strings.h"
#include "shell/ui/Messages.h"
#include "store/Users.h"

#include <QDialogButtonBox>
#include <QFormLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

namespace zel {

TfrmPassword::TfrmPassword(Database& db, QWidget* parent) : QDialog(parent), db_(db) {
    setObjectName(QStringLiteral("frmPassword"));
    PrepareDialog(this);
    auto* form = new QFormLayout;
    auto make = [&](const char16_t* name, int ident) {
        auto* e = new QLineEdit(this);
        e->setObjectName(QString::fromUtf16(name));
        e->setEchoMode(QLineEdit::Password);
        auto* l = new QLabel(this);
        form->addRow(l, e);
        captions_.field(l, e, ident);
        return e;
    };
    edtOld_ = make(u"edtOldPassword", 40735);
    edtNew_ = make(u"edtNewPassword", 40736);
    edtConfirm_ = make(u"edtConfirm", 41332);
    auto* buttons = new QDialogButtonBox(this);
    QPushButton* ok = buttons->addButton(QString(), QDialogButtonBox::AcceptRole);
    ok->setObjectName(QStringLiteral("btnOK"));
    ok->setDefault(true);
    QPushButton* cancel = buttons->addButton(QString(), QDialogButtonBox::RejectRole);
    cancel->setObjectName(QStringLiteral("btnCancel"));
    captions_.text(ok, 43002);
    captions_.text(cancel, 43003);
    captions_.window(this, 40031);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(form);
    layout->addWidget(buttons);
    captions_.apply();
    setMinimumWidth(360);
    connect(ok, &QPushButton::clicked, this, &TfrmPassword::btnOKClick);
    connect(cancel, &QPushButton::clicked, this, &QDialog::reject);
}

QString TfrmPassword::newPassword() const {
    return edtNew_->text();
}

void TfrmPassword::btnOKClick() {
    const LoginStatus s = LoginCheck(db_, CurrentUser().code, edtOld_->text(), false);
    if (s != LoginStatus::Ok) {
        ShowInformation(this, s == LoginStatus::DatabaseError ? GetString(40609) : GetString(40407));
        edtOld_->setFocus();
        return;
    }
    if (edtNew_->text() != edtConfirm_->text()) {
        ShowInformation(this, GetString(40686));
        edtConfirm_->setFocus();
        return;
    }
    accept();
}

bool TfrmPassword::run(QWidget* parent, Database& db) {
    TfrmPassword dialog(db, parent);
    if (dialog.exec() != QDialog::Accepted) return false;
    if (!SetUserPassword(db, CurrentUser().code, dialog.newPassword())) {
        ShowInformation(parent, GetString(40609));
        return false;
    }
    // A remembered login follows the new password, or the next start would fail with it.
    TRuntimeReg& reg = RuntimeSettings();
    if (reg.rememberLogin && reg.userCode == CurrentUser().code) {
        reg.password = dialog.newPassword();
        SaveSettings();
    }
    ShowInformation(parent, GetString(40685));
    return true;
}

} // namespace zel
