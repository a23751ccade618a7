#pragma once

#include <QDialog>

#include "shell/ui/Captions.h"
#include "store/Catalogue.h"

class QComboBox;
class QGroupBox;
class QLabel;
class QLineEdit;
class QPushButton;

namespace zel {

// The knowledge base option dialog: add an existing knowledge base (mode 0), edit a catalogue entry
// (mode 1) or create a new knowledge base (mode 2).
class TFrmDataLink : public QDialog {
    Q_OBJECT
public:
    enum Mode { AddExisting = 0, Edit = 1, Create = 2 };
    TFrmDataLink(Mode mode, QWidget* parent = nullptr);

    // Mode 1: fills the fields from an entry; its name is the one the name check lets pass.
    void setEntry(const CatalogueEntry& entry);
    void setServerType(int type);
    void setName(const QString& name);
    // The entry as the dialog stores it (text fields UTF-8, password in the system code page).
    CatalogueEntry entry() const;
    QString adminCode() const;
    QString adminPassword() const;

    // The input check run by OK and "Try connect"; shows the first failure's message.
    bool checkInput();
    void btnTryConnectClick();
    void btnOKClick();

    // "&New knowledge base": the dialog in mode 2, then the creation. True when one was created.
    static bool NewKnowledgeBase(QWidget* parent);
    // Creates the knowledge base the dialog describes and lists it; shows the messages.
    bool createKnowledgeBase();

private:
    void typeChanged(int type);
    void browse();
    bool fail(int ident, QWidget* field);

    Mode mode_;
    QString originalName_;
    QComboBox* cbServerType_;
    QLineEdit* edtName_;
    QLabel* lblServer_;
    QLineEdit* edtServer_;
    QPushButton* btnBrowse_;
    QLineEdit* edtDataBase_;
    QLineEdit* edtUser_;
    QLineEdit* edtPassword_;
    QLabel* lblConfirm_;
    QLineEdit* edtConfirm_;
    QGroupBox* grpAdmin_;
    QLineEdit* edtAdmin_;
    QLineEdit* edtAdminPassword_;
    QLineEdit* edtAdminConfirm_;
    QPushButton* btnTryConnect_;
    QPushButton* btnOK_;
    QString folderKept_;
    QString serverKept_;
    int currentType_ = 0;
    Captions captions_;
};

} // namespace zel
