#pragma once

#include <QDialog>
#include <QStringList>

class QComboBox;
class QLineEdit;
class QListWidget;
class QPushButton;
class QTabWidget;

namespace zel {

// What the bookmark and link dialog starts from (read from the selection).
struct AnchorStart {
    bool editing = false; // the selection touches an anchor, which is edited
    bool nameEnabled = true;
    QString name, href;
    QStringList names; // the document's named anchors
};

// "Bookmark setting": the bookmark page names an anchor, the link page gives it an address.
class TFrmBookmark : public QDialog {
    Q_OBJECT
public:
    TFrmBookmark(const AnchorStart& start, bool link, QWidget* parent = nullptr);

    bool linkMode() const;
    QString name() const;
    QString address() const;
    bool deleteChosen() const { return delete_; }

    QLineEdit* nameEdit() const { return edtName_; }
    QLineEdit* addressEdit() const { return edtAddress_; }
    QComboBox* targetBox() const { return cbTarget_; }
    QListWidget* anchorList() const { return lstAnchors_; }
    QPushButton* okButton() const { return btnOk_; }
    QPushButton* deleteButton() const { return btnDelete_; }
    // The target list's fixed entries: 0 knowledge document, 1 file link, 2 internet; anchors follow.
    void chooseTarget(int index);

signals:
    // A named anchor double-clicked in the list: the caller selects it and refills the dialog.
    void anchorWanted(const QString& name);

public:
    void restart(const AnchorStart& start);
    void tryAccept();

private:
    AnchorStart start_;
    QTabWidget* pages_;
    QLineEdit* edtName_;
    QLineEdit* edtAddress_;
    QComboBox* cbTarget_;
    QListWidget* lstAnchors_;
    QPushButton* btnChoose_;
    QPushButton* btnOk_;
    QPushButton* btnDelete_;
    bool delete_ = false;
};

} // namespace zel
