#include "tree/ui/TFrmDocPassword.h"

#include <QFormLayout>
#include <QHBoxLayout>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

#include "platform/Database.h"
#include "shell/Strings.h"
#include "store/Nodes.h"
#include "tree/ui/TreeAsk.h"

namespace zel {

namespace {

QPushButton* button(const char* name, int ident) {
    auto* b = new QPushButton(GetString(ident).remove(u'&'));
    b->setObjectName(QString::fromLatin1(name));
    b->setAccessibleName(b->text());
    return b;
}

QLineEdit* field(QFormLayout* form, const char* name, const QString& caption, bool password) {
    auto* e = new QLineEdit;
    e->setObjectName(QString::fromLatin1(name));
    e->setAccessibleName(caption);
    if (password)
        e->setEchoMode(QLineEdit::Password);
    else
        e->setReadOnly(true);
    form->addRow(caption, e);
    return e;
}

} // namespace

TFrmDocPassword::TFrmDocPassword(Database& db, const QString& nodeId, QWidget* parent)
    : QDialog(parent), db_(db), nodeId_(nodeId) {
    setObjectName(QStringLiteral("FrmDocPassword"));
    setWindowTitle(GetString(41335));
    auto* form = new QFormLayout;
    edtNew = field(form, "edtNew", QStringLiteral("New password"), true);
    edtConfirm = field(form, "edtConfirm", GetString(41332), true);
    btnOK = button("btnOK", 43002);
    btnOK->setDefault(true);
    btnCancel = button("btnCancel", 43003);
    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(btnOK);
    buttons->addWidget(btnCancel);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(form);
    layout->addLayout(buttons);
    connect(btnOK, &QPushButton::clicked, this, [this] {
        if (btnOKClick()) accept();
    });
    connect(btnCancel, &QPushButton::clicked, this, &QDialog::reject);
}

bool TFrmDocPassword::btnOKClick() {
    if (edtNew->text() != edtConfirm->text()) {
        Ask().inform(this, GetString(40686));
        edtNew->setFocus();
        return false;
    }
    return SetDocumentPassword(db_, nodeId_, edtNew->text());
}

} // namespace zel
