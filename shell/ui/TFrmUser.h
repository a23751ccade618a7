#pragma once

#include <QDialog>

#include "shell/ui/Captions.h"

class QLineEdit;
class QPushButton;
class QTreeWidget;
class QTreeWidgetItem;

namespace zel {

class Database;

// The user property dialog: code, full name, description, and for a new user password and confirmation.
class TFrmUserProperty : public QDialog {
    Q_OBJECT
public:
    // id 0: a new user (with the password fields).
    TFrmUserProperty(Database& db, qint64 id, QWidget* parent = nullptr);
    void setValues(const QString& code, const QString& name, const QString& description);
    QString code() const;
    QString fullName() const;
    QString description() const;
    QString password() const;
    void btnOKClick();

private:
    Database& db_;
    qint64 id_;
    QLineEdit* edtCode_;
    QLineEdit* edtName_;
    QLineEdit* edtDescription_;
    QLineEdit* edtPassword_;
    QLineEdit* edtConfirm_;
    Captions captions_;
};

// The user manager: every user of the knowledge base; administrators only.
class TFrmUser : public QDialog {
    Q_OBJECT
public:
    explicit TFrmUser(Database& db, QWidget* parent = nullptr);
    QTreeWidget* list() const { return list_; }

    void btnNewUserClick();
    void btnPropertyClick();
    void btnRemoveUserClick();

private:
    void fill();
    Database& db_;
    QTreeWidget* list_;
    Captions captions_;
};

} // namespace zel
