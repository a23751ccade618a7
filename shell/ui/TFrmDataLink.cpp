#include "shell/ui/TFrmDataLink.h"

#include "shell/Strings.h"
#include "shell/ui/Messages.h"
#include "store/KnowledgeBase.h"

#include <QComboBox>
#include <QDialogButtonBox>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QFormLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

namespace zel {

namespace {
QLineEdit* lineEdit(QWidget* parent, const char16_t* name, bool password = false) {
    auto* e = new QLineEdit(parent);
    e->setObjectName(QString::fromUtf16(name));
    if (password) e->setEchoMode(QLineEdit::Password);
    return e;
}
} // namespace

TFrmDataLink::TFrmDataLink(Mode mode, QWidget* parent) : QDialog(parent), mode_(mode) {
    setObjectName(QStringLiteral("FrmDataLink"));
    PrepareDialog(this);
    cbServerType_ = new QComboBox(this);
    cbServerType_->setObjectName(QStringLiteral("cbServerType"));
    cbServerType_->addItem(GetString(40554));
    cbServerType_->addItem(GetString(40555));
    edtName_ = lineEdit(this, u"edtName");
    lblServer_ = new QLabel(this);
    edtServer_ = lineEdit(this, u"edtServer");
    btnBrowse_ = new QPushButton(QStringLiteral("..."), this);
    btnBrowse_->setObjectName(QStringLiteral("btnBrowse"));
    btnBrowse_->setAccessibleName(QStringLiteral("..."));
    edtDataBase_ = lineEdit(this, u"edtDataBase");
    edtUser_ = lineEdit(this, u"edtUser");
    edtPassword_ = lineEdit(this, u"edtPassword", true);
    lblConfirm_ = new QLabel(this);
    edtConfirm_ = lineEdit(this, u"edtConfirm", true);

    auto* form = new QFormLayout;
    auto addRow = [&](QLabel* label, QWidget* field, int ident) {
        form->addRow(label, field);
        captions_.field(label, field, ident);
    };
    addRow(new QLabel(this), cbServerType_, 40726);
    addRow(new QLabel(this), edtName_, 40727);
    auto* serverRow = new QWidget(this);
    auto* serverLayout = new QHBoxLayout(serverRow);
    serverLayout->setContentsMargins(0, 0, 0, 0);
    serverLayout->addWidget(edtServer_, 1);
    serverLayout->addWidget(btnBrowse_);
    form->addRow(lblServer_, serverRow);
    lblServer_->setBuddy(edtServer_);
    addRow(new QLabel(this), edtDataBase_, 40705);
    addRow(new QLabel(this), edtUser_, 40728);
    addRow(new QLabel(this), edtPassword_, 40729);
    addRow(lblConfirm_, edtConfirm_, 40730);

    grpAdmin_ = new QGroupBox(this);
    grpAdmin_->setObjectName(QStringLiteral("grpAdmin"));
    captions_.text(grpAdmin_, 40642);
    auto* adminForm = new QFormLayout(grpAdmin_);
    edtAdmin_ = lineEdit(grpAdmin_, u"edtAdmin");
    edtAdminPassword_ = lineEdit(grpAdmin_, u"edtAdminPassword", true);
    edtAdminConfirm_ = lineEdit(grpAdmin_, u"edtAdminConfirm", true);
    const std::pair<QLineEdit*, int> adminFields[] = {
        {edtAdmin_, 40731}, {edtAdminPassword_, 40732}, {edtAdminConfirm_, 40733}};
    for (const auto& [edit, ident] : adminFields) {
        auto* l = new QLabel(grpAdmin_);
        adminForm->addRow(l, edit);
        captions_.field(l, edit, ident);
    }

    auto* buttons = new QDialogButtonBox(this);
    btnTryConnect_ = buttons->addButton(QString(), QDialogButtonBox::ActionRole);
    btnTryConnect_->setObjectName(QStringLiteral("btnTryConnect"));
    btnOK_ = buttons->addButton(QString(), QDialogButtonBox::AcceptRole);
    btnOK_->setObjectName(QStringLiteral("btnOK"));
    btnOK_->setDefault(true);
    QPushButton* cancel = buttons->addButton(QString(), QDialogButtonBox::RejectRole);
    cancel->setObjectName(QStringLiteral("btnCancel"));
    captions_.text(btnTryConnect_, 40721);
    captions_.text(btnOK_, mode == Create ? 40706 : 43002);
    captions_.text(cancel, 43003);
    captions_.window(this, mode == Create ? 46018 : 40701);

    auto* layout = new QVBoxLayout(this);
    layout->addLayout(form);
    layout->addWidget(grpAdmin_);
    layout->addWidget(buttons);
    captions_.apply();

    folderKept_ = defaultDataFolder();
    serverKept_ = QStringLiteral("localhost");
    edtServer_->setText(folderKept_);
    btnTryConnect_->setVisible(mode != Create);
    grpAdmin_->setVisible(mode == Create);
    typeChanged(0);
    setMinimumWidth(460);

    connect(cbServerType_, &QComboBox::currentIndexChanged, this, &TFrmDataLink::typeChanged);
    connect(btnBrowse_, &QPushButton::clicked, this, &TFrmDataLink::browse);
    connect(btnTryConnect_, &QPushButton::clicked, this, &TFrmDataLink::btnTryConnectClick);
    connect(btnOK_, &QPushButton::clicked, this, &TFrmDataLink::btnOKClick);
    connect(cancel, &QPushButton::clicked, this, &QDialog::reject);
}

void TFrmDataLink::typeChanged(int type) {
    // Each type keeps its own folder or server aside while the other is shown.
    if (type != currentType_) {
        if (currentType_ == 0)
            folderKept_ = edtServer_->text();
        else
            serverKept_ = edtServer_->text();
        edtServer_->setText(type == 0 ? folderKept_ : serverKept_);
        currentType_ = type;
    }
    const int label = type == 0 ? 40704 : 40712;
    lblServer_->setText(GetString(label));
    edtServer_->setAccessibleName(PlainCaption(GetString(label)));
    edtUser_->setEnabled(type != 0);
    if (type == 0) edtUser_->clear();
    edtConfirm_->setEnabled(type == 0);
    // Outside creation the confirmation is not asked.
    lblConfirm_->setVisible(mode_ == Create);
    edtConfirm_->setVisible(mode_ == Create);
}

void TFrmDataLink::setServerType(int type) {
    cbServerType_->setCurrentIndex(type == 1 ? 1 : 0);
}

void TFrmDataLink::setName(const QString& name) {
    edtName_->setText(name);
}

void TFrmDataLink::setEntry(const CatalogueEntry& e) {
    setServerType(e.serverType);
    originalName_ = e.nameText();
    edtName_->setText(originalName_);
    edtServer_->setText(e.serverNameText());
    edtDataBase_->setText(e.databaseText());
    edtUser_->setText(e.userText());
    edtPassword_->setText(e.passwordText());
}

CatalogueEntry TFrmDataLink::entry() const {
    return CatalogueEntry::make(cbServerType_->currentIndex(), edtName_->text().trimmed(), edtServer_->text().trimmed(),
                                edtDataBase_->text().trimmed(), edtUser_->text().trimmed(), edtPassword_->text());
}

QString TFrmDataLink::adminCode() const {
    return edtAdmin_->text().trimmed();
}
QString TFrmDataLink::adminPassword() const {
    return edtAdminPassword_->text();
}

void TFrmDataLink::browse() {
    if (mode_ == Create) {
        const QString dir = QFileDialog::getExistingDirectory(
            this, GetString(40711), edtServer_->text().isEmpty() ? QDir::homePath() : edtServer_->text());
        if (!dir.isEmpty()) edtServer_->setText(dir);
        return;
    }
    const QString filter = QStringLiteral("Kavrel ") + GetString(40621) + QStringLiteral("(*.SKM *.skm);;") +
                           GetString(40705) + QStringLiteral(" (*.mdb);;") + GetString(40329) + QStringLiteral("(*)");
    const QString file = QFileDialog::getOpenFileName(this, GetString(40701),
                                                      QDir(edtServer_->text()).filePath(edtDataBase_->text()), filter);
    if (file.isEmpty()) return;
    const QFileInfo info(file);
    edtServer_->setText(info.absolutePath() + u'/');
    edtDataBase_->setText(info.fileName());
}

bool TFrmDataLink::fail(int ident, QWidget* field) {
    ShowInformation(this, GetString(ident));
    if (field) field->setFocus();
    return false;
}

bool TFrmDataLink::checkInput() {
    const QString name = edtName_->text().trimmed();
    if (name.isEmpty()) return fail(40715, edtName_);
    // The catalogue file gives a name 50 bytes.
    if (name.toUtf8().size() > kCatalogueTextWidth) return fail(40751, edtName_);
    const int found = MainData().catalogue.FindCatalogueEntry(name);
    if (found >= 0 && !(mode_ == Edit && name == originalName_)) return fail(40716, edtName_);
    const int type = cbServerType_->currentIndex();
    if (type != 0 && edtServer_->text().trimmed().isEmpty()) return fail(40717, edtServer_);
    if (edtServer_->text().trimmed().toUtf8().size() > kCatalogueServerWidth) return fail(40757, edtServer_);
    if (edtDataBase_->text().trimmed().isEmpty()) return fail(40718, edtDataBase_);
    if (edtDataBase_->text().trimmed().toUtf8().size() > kCatalogueTextWidth ||
        edtUser_->text().trimmed().toUtf8().size() > kCatalogueTextWidth ||
        entry().password.size() > kCatalogueTextWidth)
        return fail(40756, edtDataBase_);
    if (mode_ != Create) return true;
    if (edtAdmin_->text().trimmed().isEmpty()) return fail(40611, edtAdmin_);
    if (edtAdminPassword_->text() != edtAdminConfirm_->text()) return fail(40720, edtAdminConfirm_);
    if (type == 0 && edtPassword_->text() != edtConfirm_->text()) return fail(40719, edtConfirm_);
    if (type != 0) {
        Database test;
        if (!TryConnect(test, type, edtServer_->text().trimmed(), edtPassword_->text(), edtUser_->text().trimmed(),
                        QString()))
            return fail(40714, edtServer_);
    }
    return true;
}

void TFrmDataLink::btnTryConnectClick() {
    if (!checkInput()) return;
    const CatalogueEntry e = entry();
    Database test;
    const bool ok =
        TryConnect(test, e.serverType, e.serverNameText(), e.passwordText(), e.userText(), e.databaseText());
    test.close();
    ShowInformation(this, GetString(ok ? 40713 : 40714));
}

void TFrmDataLink::btnOKClick() {
    if (checkInput()) accept();
}

bool TFrmDataLink::createKnowledgeBase() {
    QString error;
    CatalogueEntry e = entry();
    if (!zel::NewKnowledgeBase(MainData().catalogue, e, adminCode(), adminPassword(), &error)) {
        if (!error.isEmpty()) ShowInformation(this, error);
        return false;
    }
    ShowInformation(this, GetString(40707));
    return true;
}

bool TFrmDataLink::NewKnowledgeBase(QWidget* parent) {
    TFrmDataLink dialog(Create, parent);
    if (dialog.exec() != QDialog::Accepted) return false;
    return dialog.createKnowledgeBase();
}

} // namespace zel
