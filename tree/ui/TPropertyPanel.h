#pragma once

#include <QTabWidget>

class QCheckBox;
class QLineEdit;
class QPlainTextEdit;

namespace zel {

class Database;

// The property panel above the document: tabs "Property", "Security", "Memo" and "Mail" showing the
// current node's values. Keyword, flags and memo are edited here and stored with the document.
class TPropertyPanel : public QTabWidget {
    Q_OBJECT
public:
    explicit TPropertyPanel(QWidget* parent = nullptr);
    void setDatabase(Database* db) { db_ = db; }

    // Shows the node's properties; raises no change. An id of 0 or less clears the panel.
    void fill(const QString& nodeId);
    // Writes flags, keyword and memo of the shown node (the owner is not stored); clears the flag.
    bool store();
    void clear();
    QString nodeId() const { return nodeId_; }
    bool modified() const { return modified_; }

    QLineEdit *edtKeyword, *edtCreated, *edtModified, *edtOwner, *edtFullPath;
    QCheckBox *chkPassword, *chkHide;
    QPlainTextEdit* memMemo;
    QLineEdit *edtMailFrom, *edtMailTo, *edtReceived, *edtSent;

signals:
    // A change of keyword, flags or memo: "Save" becomes available.
    void modifiedChanged(bool modified);

private:
    void changed();
    Database* db_ = nullptr;
    QString nodeId_;
    bool modified_ = false;
    bool filling_ = false;
};

} // namespace zel
