#pragma once

#include <QDialog>

class QLineEdit;
class QPushButton;

namespace zel {

class Database;

// "Set Document Password": a new password typed twice; an empty one removes the protection.
class TFrmDocPassword : public QDialog {
    Q_OBJECT
public:
    TFrmDocPassword(Database& db, const QString& nodeId, QWidget* parent = nullptr);
    // OK: refuses different entries (message, focus on the first field), else stores the password.
    bool btnOKClick();

    QLineEdit *edtNew, *edtConfirm;
    QPushButton *btnOK, *btnCancel;

private:
    Database& db_;
    QString nodeId_;
};

} // namespace zel
