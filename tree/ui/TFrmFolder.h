#pragma once

#include <QDialog>

class QCheckBox;
class QLabel;
class QLineEdit;
class QPushButton;

namespace zel {

class Database;

// The node dialog: creates a node (name, keyword, flags, placeholder paragraph) or edits one.
class TFrmFolder : public QDialog {
    Q_OBJECT
public:
    enum class Mode { Create, Edit };
    TFrmFolder(Database& db, Mode mode, QWidget* parent = nullptr);

    // Create mode: the new node goes under parentId, whose name path is shown.
    void fillForCreate(const QString& parentId);
    // Edit mode: the node's stored properties; false when there is no such node.
    bool fillForEdit(const QString& nodeId);

    Mode mode() const { return mode_; }
    QString nodeId() const { return nodeId_; }
    QString parentId() const { return parentId_; }
    QString name() const;
    QString keyword() const;
    bool hide() const;
    bool passwordProtect() const;
    bool newDocumentMessage() const;

    // The checks of OK: false (with the message shown) keeps the dialog open.
    bool validate();
    // Edit mode after OK: renames unless a sibling took the name meanwhile (then the old name stays,
    // with a message), and stores keyword and flags either way. Returns the node's caption afterwards.
    QString applyEdit();

    QLineEdit *edtName, *edtKeyword, *edtOwner, *edtCreated, *edtModified, *edtFullPath;
    QCheckBox *chkHide, *chkPassword, *chkNewDocMessage;
    QLabel* lblInclude;
    QPushButton *btnOK, *btnCancel;

    // "dddddd,hh:nn:ss": the long date and the time of day.
    static QString timeText(const QDateTime& dt);

private:
    void btnOKClick();
    Database& db_;
    Mode mode_;
    QString nodeId_ = QStringLiteral("0");
    QString parentId_ = QStringLiteral("0");
    QString oldCaption_;
    QString memo_;
};

} // namespace zel
