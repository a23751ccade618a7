#pragma once

#include <QDialog>

#include "shell/ui/Captions.h"

class QLineEdit;

namespace zel {

class Database;

// Change password of the logged-in user: old, new and confirmation.
class TfrmPassword : public QDialog {
    Q_OBJECT
public:
    explicit TfrmPassword(Database& db, QWidget* parent = nullptr);
    QString newPassword() const;
    void btnOKClick();
    // Runs the dialog and stores the new password; true when it was changed.
    static bool run(QWidget* parent, Database& db);

private:
    Database& db_;
    QLineEdit* edtOld_;
    QLineEdit* edtNew_;
    QLineEdit* edtConfirm_;
    Captions captions_;
};

} // namespace zel
