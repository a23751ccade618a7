#include "shell/ui/TfrmUserSet.h"

#include "shell/Strings.h"
#include "shell/ui/Messages.h"
#include "store/Content.h"
#include "store/Nodes.h"
#include "store/Users.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QFileDialog>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSpinBox>
#include <QVBoxLayout>

namespace zel {

TfrmUserSet::TfrmUserSet(Database& db, QWidget* parent) : QDialog(parent), db_(db) {
    setObjectName(QStringLiteral("frmUserSet"));
    PrepareDialog(this);
    const TuserReg& user = CurrentUser();
    auto* form = new QFormLayout;
    auto row = [&](QWidget* field, int ident) {
        auto* l = new QLabel(this);
        form->addRow(l, field);
        captions_.field(l, field, ident);
    };
    edtDefaultDocument_ = new QLineEdit(this);
    edtDefaultDocument_->setObjectName(QStringLiteral("edtDefaultDocument"));
    row(edtDefaultDocument_, 41316);
    cbSortType_ = new QComboBox(this);
    cbSortType_->setObjectName(QStringLiteral("cbSortType"));
    for (int i = 0; i < 8; ++i)
        cbSortType_->addItem(GetString(46080 + i));
    row(cbSortType_, 41315);
    edtBackground_ = new QLineEdit(this);
    edtBackground_->setObjectName(QStringLiteral("edtBackground"));
    row(edtBackground_, 41314);
    edtEditor_ = new QLineEdit(this);
    edtEditor_->setObjectName(QStringLiteral("edtEditor"));
    auto* browse = new QPushButton(QStringLiteral("..."), this);
    browse->setObjectName(QStringLiteral("btnEditor"));
    browse->setAccessibleName(PlainCaption(GetString(41320)));
    auto* editorRow = new QWidget(this);
    auto* editorLayout = new QHBoxLayout(editorRow);
    editorLayout->setContentsMargins(0, 0, 0, 0);
    editorLayout->addWidget(edtEditor_, 1);
    editorLayout->addWidget(browse);
    auto* editorLabel = new QLabel(this);
    form->addRow(editorLabel, editorRow);
    captions_.field(editorLabel, edtEditor_, 41320);
    spnMarkTime_ = new QSpinBox(this);
    spnMarkTime_->setObjectName(QStringLiteral("spnMarkTime"));
    spnMarkTime_->setRange(0, 86400);
    row(spnMarkTime_, 41323);
    chkAutoMail_ = new QCheckBox(this);
    chkAutoMail_->setObjectName(QStringLiteral("chkAutoMail"));
    captions_.text(chkAutoMail_, 41318);
    spnInterval_ = new QSpinBox(this);
    spnInterval_->setObjectName(QStringLiteral("spnInterval"));
    spnInterval_->setRange(1, 1440);
    auto* minutes = new QLabel(this);
    captions_.field(minutes, spnInterval_, 40745);
    auto* mailRow = new QHBoxLayout;
    mailRow->addWidget(chkAutoMail_);
    mailRow->addWidget(spnInterval_);
    mailRow->addWidget(minutes);
    mailRow->addStretch();
    form->addRow(mailRow);
    chkMailAtLogin_ = new QCheckBox(this);
    chkMailAtLogin_->setObjectName(QStringLiteral("chkMailAtLogin"));
    captions_.text(chkMailAtLogin_, 41317);
    form->addRow(chkMailAtLogin_);

    auto* buttons = new QDialogButtonBox(this);
    QPushButton* ok = buttons->addButton(QString(), QDialogButtonBox::AcceptRole);
    ok->setObjectName(QStringLiteral("btnOK"));
    ok->setDefault(true);
    QPushButton* cancel = buttons->addButton(QString(), QDialogButtonBox::RejectRole);
    cancel->setObjectName(QStringLiteral("btnCancel"));
    captions_.text(ok, 43002);
    captions_.text(cancel, 43003);
    captions_.window(this, 40026);
    cbSortType_->setAccessibleName(PlainCaption(GetString(41315)));
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(form);
    layout->addWidget(buttons);
    captions_.apply();
    setMinimumWidth(480);

    // Start values from the user record.
    if (!user.defaultDocument.isEmpty() && user.defaultDocument != QStringLiteral("0"))
        startDocument_ = GetChildName(db_, user.defaultDocument);
    edtDefaultDocument_->setText(startDocument_);
    cbSortType_->setCurrentIndex(qBound(0, user.sortOrder, 7));
    edtBackground_->setText(CidUrlToPathUrl(db_, user.background));
    edtEditor_->setText(user.externalEditor);
    spnMarkTime_->setValue(user.markTime);
    chkAutoMail_->setChecked(user.mailInterval > 0);
    spnInterval_->setValue(user.mailInterval > 0 ? user.mailInterval : 30);
    spnInterval_->setEnabled(chkAutoMail_->isChecked());
    chkMailAtLogin_->setChecked(user.mailAtLogin);

    connect(chkAutoMail_, &QCheckBox::toggled, spnInterval_, &QWidget::setEnabled);
    connect(browse, &QPushButton::clicked, this, [this] {
        const QString file = QFileDialog::getOpenFileName(this, GetString(41320), edtEditor_->text());
        if (!file.isEmpty()) edtEditor_->setText(file);
    });
    connect(ok, &QPushButton::clicked, this, &TfrmUserSet::btnOKClick);
    connect(cancel, &QPushButton::clicked, this, &QDialog::reject);
}

bool TfrmUserSet::store() {
    TuserReg& user = CurrentUser();
    const QString path = edtDefaultDocument_->text().trimmed();
    if (path != startDocument_ && !path.isEmpty()) {
        const QString id = FindNodeByName(db_, path);
        if (id != QStringLiteral("0")) user.defaultDocument = id;
    }
    user.sortOrder = cbSortType_->currentIndex();
    user.background = PathUrlToCidUrl(db_, edtBackground_->text().trimmed());
    user.externalEditor = edtEditor_->text();
    user.markTime = spnMarkTime_->value();
    user.mailInterval = chkAutoMail_->isChecked() ? spnInterval_->value() : -1;
    user.mailAtLogin = chkMailAtLogin_->isChecked();
    return SaveUserSettings(db_);
}

void TfrmUserSet::btnOKClick() {
    if (!store()) {
        ShowInformation(this, GetString(40609));
        return;
    }
    accept();
}

bool TfrmUserSet::run(QWidget* parent, Database& db) {
    TfrmUserSet dialog(db, parent);
    return dialog.exec() == QDialog::Accepted;
}

} // namespace zel
