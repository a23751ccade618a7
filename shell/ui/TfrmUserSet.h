#pragma once

#include <QDialog>

#include "shell/ui/Captions.h"

class QCheckBox;
class QComboBox;
class QLineEdit;
class QSpinBox;

namespace zel {

class Database;

// User settings: default document, sort type, default background, external editor, read-mark time and
// the mail timing. The document and picture fields take typed text (a name path and a picture URL).
class TfrmUserSet : public QDialog {
    Q_OBJECT
public:
    explicit TfrmUserSet(Database& db, QWidget* parent = nullptr);
    // Stores the values in the current user record and the knowledge base.
    bool store();
    void btnOKClick();
    // Runs the dialog; true when the settings were saved.
    static bool run(QWidget* parent, Database& db);

private:
    Database& db_;
    QLineEdit* edtDefaultDocument_;
    QComboBox* cbSortType_;
    QLineEdit* edtBackground_;
    QLineEdit* edtEditor_;
    QSpinBox* spnMarkTime_;
    QCheckBox* chkAutoMail_;
    QSpinBox* spnInterval_;
    QCheckBox* chkMailAtLogin_;
    QString startDocument_;
    Captions captions_;
};

} // namespace zel
