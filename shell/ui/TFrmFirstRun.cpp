#include "shell/ui/TFrmFirstRun.h"

#include "shell/Resources.h"
#include "shell/Strings.h"
#include "shell/ui/Messages.h"

#include <QCheckBox>
#include <QFile>
#include <QFileInfo>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSpinBox>
#include <QStackedWidget>
#include <QTextBrowser>
#include <QUrl>
#include <QVBoxLayout>

namespace zel {

FirstRunValues& PendingFirstRunMail() {
    static FirstRunValues v;
    return v;
}

namespace {
QLineEdit* lineEdit(QWidget* parent, const char16_t* name, bool password = false) {
    auto* e = new QLineEdit(parent);
    e->setObjectName(QString::fromUtf16(name));
    if (password) e->setEchoMode(QLineEdit::Password);
    return e;
}
} // namespace

TFrmFirstRun::TFrmFirstRun(QWidget* parent)
    : QDialog(parent), pages_(new QStackedWidget(this)), browser_(new QTextBrowser(this)) {
    setObjectName(QStringLiteral("FrmFirstRun"));
    PrepareDialog(this);
    browser_->setObjectName(QStringLiteral("wbPage"));
    browser_->setOpenLinks(false);
    pages_->addWidget(browser_);

    // Administrator page.
    auto* admin = new QWidget(pages_);
    admin->setObjectName(QStringLiteral("pgAdministrator"));
    auto* adminLayout = new QVBoxLayout(admin);
    auto* adminHeading = new QLabel(admin);
    adminHeading->setObjectName(QStringLiteral("lblAdminTitle"));
    captions_.text(adminHeading, 41330);
    adminLayout->addWidget(adminHeading);
    auto* adminForm = new QFormLayout;
    edtUser_ = lineEdit(admin, u"edtUser");
    edtUser_->setText(QStringLiteral("admin"));
    edtPassword_ = lineEdit(admin, u"edtPassword", true);
    edtConfirm_ = lineEdit(admin, u"edtConfirm", true);
    chkRemember_ = new QCheckBox(admin);
    chkRemember_->setObjectName(QStringLiteral("chkRemember"));
    chkRemember_->setChecked(true);
    const std::pair<QLineEdit*, int> adminFields[] = {{edtUser_, 40723}, {edtPassword_, 40724}, {edtConfirm_, 41332}};
    for (const auto& [edit, ident] : adminFields) {
        auto* l = new QLabel(admin);
        adminForm->addRow(l, edit);
        captions_.field(l, edit, ident);
    }
    adminForm->addRow(QString(), chkRemember_);
    captions_.text(chkRemember_, 40725);
    adminLayout->addLayout(adminForm);
    adminLayout->addStretch();
    pages_->addWidget(admin);

    // Mail account page.
    auto* mail = new QWidget(pages_);
    mail->setObjectName(QStringLiteral("pgMailAccount"));
    auto* mailLayout = new QVBoxLayout(mail);
    auto* mailHeading = new QLabel(mail);
    mailHeading->setObjectName(QStringLiteral("lblMailTitle"));
    captions_.text(mailHeading, 41331);
    mailLayout->addWidget(mailHeading);
    auto* mailForm = new QFormLayout;
    edtDisplayName_ = lineEdit(mail, u"edtDisplayName");
    edtAddress_ = lineEdit(mail, u"edtAddress");
    edtPop3_ = lineEdit(mail, u"edtPop3Server");
    edtAccount_ = lineEdit(mail, u"edtAccount");
    edtMailPassword_ = lineEdit(mail, u"edtMailPassword", true);
    edtSmtp_ = lineEdit(mail, u"edtSmtpServer");
    const std::pair<QLineEdit*, int> mailFields[] = {{edtDisplayName_, 40739},  {edtAddress_, 40740},
                                                     {edtPop3_, 40741},         {edtAccount_, 40742},
                                                     {edtMailPassword_, 40724}, {edtSmtp_, 40743}};
    for (const auto& [edit, ident] : mailFields) {
        auto* l = new QLabel(mail);
        mailForm->addRow(l, edit);
        captions_.field(l, edit, ident);
    }
    chkAuth_ = new QCheckBox(mail);
    chkAuth_->setObjectName(QStringLiteral("chkAuth"));
    captions_.text(chkAuth_, 40744);
    chkMailAtLogin_ = new QCheckBox(mail);
    chkMailAtLogin_->setObjectName(QStringLiteral("chkMailAtLogin"));
    captions_.text(chkMailAtLogin_, 41317);
    chkAutoMail_ = new QCheckBox(mail);
    chkAutoMail_->setObjectName(QStringLiteral("chkAutoMail"));
    captions_.text(chkAutoMail_, 41318);
    spnInterval_ = new QSpinBox(mail);
    spnInterval_->setObjectName(QStringLiteral("spnInterval"));
    spnInterval_->setRange(1, 1440);
    spnInterval_->setValue(30);
    auto* minutes = new QLabel(mail);
    captions_.field(minutes, spnInterval_, 40745);
    mailForm->addRow(QString(), chkAuth_);
    mailForm->addRow(QString(), chkMailAtLogin_);
    auto* autoRow = new QHBoxLayout;
    autoRow->addWidget(chkAutoMail_);
    autoRow->addWidget(spnInterval_);
    autoRow->addWidget(minutes);
    autoRow->addStretch();
    mailForm->addRow(autoRow);
    mailLayout->addLayout(mailForm);
    mailLayout->addStretch();
    pages_->addWidget(mail);

    btnPrevious_ = new QPushButton(this);
    btnPrevious_->setObjectName(QStringLiteral("btnPrevious"));
    btnNext_ = new QPushButton(this);
    btnNext_->setObjectName(QStringLiteral("btnNext"));
    btnNext_->setDefault(true);
    auto* cancel = new QPushButton(this);
    cancel->setObjectName(QStringLiteral("btnCancel"));
    captions_.text(btnPrevious_, 40746);
    captions_.text(cancel, 43003);
    captions_.window(this, 41005);
    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(btnPrevious_);
    buttons->addWidget(btnNext_);
    buttons->addWidget(cancel);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(pages_, 1);
    layout->addLayout(buttons);
    captions_.apply();
    resize(600, 440);

    connect(btnNext_, &QPushButton::clicked, this, &TFrmFirstRun::btnNextClick);
    connect(btnPrevious_, &QPushButton::clicked, this, &TFrmFirstRun::btnPreviousClick);
    connect(cancel, &QPushButton::clicked, this, &QDialog::reject);
    showStep(Welcome);
}

QString TFrmFirstRun::pagePath(const QString& file) const {
    return programDirectory() + QStringLiteral("language/") + GetString(20004) + u'/' + file;
}

void TFrmFirstRun::showStep(int step) {
    step_ = step;
    const char16_t* files[] = {u"welcome.htm", u"intro.htm", nullptr, nullptr, u"finish.htm"};
    if (files[step]) {
        const QString path = pagePath(QString::fromUtf16(files[step]));
        QFile f(path);
        browser_->setSearchPaths({QFileInfo(path).absolutePath(), programDirectory()});
        browser_->setHtml(f.open(QIODevice::ReadOnly) ? QString::fromUtf8(f.readAll()) : QString());
        browser_->setAccessibleName(PlainCaption(GetString(41005)));
        pages_->setCurrentWidget(browser_);
    } else {
        pages_->setCurrentIndex(step == Administrator ? 1 : 2);
        (step == Administrator ? edtUser_ : edtDisplayName_)->setFocus();
    }
    btnPrevious_->setVisible(step != Welcome);
    const int nextIdent = step == Finish ? 40657 : 40747;
    btnNext_->setText(GetString(nextIdent));
    btnNext_->setAccessibleName(PlainCaption(GetString(nextIdent)));
}

int TFrmFirstRun::step() const {
    return step_;
}

bool TFrmFirstRun::checkAdministrator() {
    if (edtPassword_->text() != edtConfirm_->text()) {
        ShowInformation(this, GetString(40686));
        edtConfirm_->setFocus();
        return false;
    }
    if (edtUser_->text().trimmed().isEmpty()) {
        ShowInformation(this, GetString(41336));
        edtUser_->setFocus();
        return false;
    }
    return true;
}

bool TFrmFirstRun::checkMail() {
    const QLineEdit* all[] = {edtDisplayName_, edtAddress_, edtPop3_, edtAccount_, edtMailPassword_, edtSmtp_};
    bool empty = true;
    for (const QLineEdit* e : all)
        empty = empty && e->text().isEmpty();
    if (empty) return true;
    auto fail = [this](int ident, QLineEdit* field) {
        ShowInformation(this, GetString(ident));
        field->setFocus();
        return false;
    };
    if (edtDisplayName_->text().trimmed().isEmpty()) return fail(41337, edtDisplayName_);
    if (edtAddress_->text().trimmed().isEmpty()) return fail(41338, edtAddress_);
    if (!edtAddress_->text().contains(u'@')) return fail(41339, edtAddress_);
    if (edtPop3_->text().trimmed().isEmpty()) return fail(41340, edtPop3_);
    if (edtSmtp_->text().trimmed().isEmpty()) return fail(41341, edtSmtp_);
    return true;
}

void TFrmFirstRun::btnNextClick() {
    if (step_ == Administrator && !checkAdministrator()) return;
    if (step_ == MailAccount && !checkMail()) return;
    if (step_ == Finish) {
        accept();
        return;
    }
    showStep(step_ + 1);
}

void TFrmFirstRun::btnPreviousClick() {
    if (step_ > Welcome) showStep(step_ - 1);
}

FirstRunValues TFrmFirstRun::values() const {
    FirstRunValues v;
    v.adminCode = edtUser_->text().trimmed();
    v.adminPassword = edtPassword_->text();
    v.remember = chkRemember_->isChecked();
    v.displayName = edtDisplayName_->text().trimmed();
    v.address = edtAddress_->text().trimmed();
    v.pop3Server = edtPop3_->text().trimmed();
    v.pop3Account = edtAccount_->text().trimmed();
    v.pop3Password = edtMailPassword_->text();
    v.smtpServer = edtSmtp_->text().trimmed();
    v.smtpAuth = chkAuth_->isChecked();
    v.mailAtLogin = chkMailAtLogin_->isChecked();
    v.autoMail = chkAutoMail_->isChecked();
    v.mailInterval = spnInterval_->value();
    return v;
}

} // namespace zel
