#pragma once

#include <QDialog>

#include "shell/ui/Captions.h"

class QCheckBox;
class QLineEdit;
class QPushButton;
class QSpinBox;
class QStackedWidget;
class QTextBrowser;

namespace zel {

// What the first-run wizard collected.
struct FirstRunValues {
    QString adminCode, adminPassword;
    bool remember = true;
    QString displayName, address, pop3Server, pop3Account, pop3Password, smtpServer;
    bool smtpAuth = false;
    bool mailAtLogin = false;
    bool autoMail = false;
    int mailInterval = 30;
    bool hasMailAccount() const { return !displayName.isEmpty() && !address.isEmpty(); }
};

// The mail step's values, kept until the mail accounts can take them.
FirstRunValues& PendingFirstRunMail();

// The first-run wizard: welcome page, introduction, administrator, mail account, finish.
class TFrmFirstRun : public QDialog {
    Q_OBJECT
public:
    enum Step { Welcome, Introduction, Administrator, MailAccount, Finish };
    explicit TFrmFirstRun(QWidget* parent = nullptr);
    FirstRunValues values() const;
    int step() const;

    void btnNextClick();
    void btnPreviousClick();

private:
    void showStep(int step);
    bool checkAdministrator();
    bool checkMail();
    QString pagePath(const QString& file) const;

    QStackedWidget* pages_;
    QTextBrowser* browser_;
    QLineEdit* edtUser_;
    QLineEdit* edtPassword_;
    QLineEdit* edtConfirm_;
    QCheckBox* chkRemember_;
    QLineEdit* edtDisplayName_;
    QLineEdit* edtAddress_;
    QLineEdit* edtPop3_;
    QLineEdit* edtAccount_;
    QLineEdit* edtMailPassword_;
    QLineEdit* edtSmtp_;
    QCheckBox* chkAuth_;
    QCheckBox* chkMailAtLogin_;
    QCheckBox* chkAutoMail_;
    QSpinBox* spnInterval_;
    QPushButton* btnPrevious_;
    QPushButton* btnNext_;
    Captions captions_;
    int step_ = Welcome;
};

} // namespace zel
