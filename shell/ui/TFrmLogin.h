#pragma once

#include <QDialog>

#include "shell/ui/Captions.h"

class QCheckBox;
class QLineEdit;
class QPushButton;

namespace zel {

// The login dialog: knowledge base, user code, password, remember. Three failed attempts close it with
// Cancel.
class TFrmLogin : public QDialog {
    Q_OBJECT
public:
    explicit TFrmLogin(QWidget* parent = nullptr);
    QString catalogueName() const;
    int failures() const { return failures_; }

    void btnOKClick();

private:
    QLineEdit* edtDataBase_;
    QPushButton* btnSelect_;
    QLineEdit* edtUser_;
    QLineEdit* edtPassword_;
    QCheckBox* chkRemember_;
    Captions captions_;
    int failures_ = 0;
};

} // namespace zel
