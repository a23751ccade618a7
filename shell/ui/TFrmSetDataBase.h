#pragma once

#include <QDialog>

#include "shell/ui/Captions.h"

class QPushButton;
class QTreeWidget;
class QTreeWidgetItem;

namespace zel {

// The catalogue manager: the known knowledge bases under their two type groups. Manage mode edits the
// catalogue; pick mode returns the chosen entry's name.
class TFrmSetDataBase : public QDialog {
    Q_OBJECT
public:
    TFrmSetDataBase(bool pickMode, const QString& current, QWidget* parent = nullptr);
    QString chosenName() const { return chosen_; }
    QTreeWidget* tree() const { return tree_; }

    void btnAddClick();
    void btnSettingClick();
    void btnDeleteClick();
    void btnOKClick();

    static void ManageCatalogue(QWidget* parent);
    static QString ChooseCatalogueEntry(QWidget* parent, const QString& current);

private:
    void fill(const QString& current);
    void selectionChanged();
    QTreeWidgetItem* addItem(int entryIndex);
    static void setItem(QTreeWidgetItem* item, int entryIndex);

    bool pick_;
    QString chosen_;
    QTreeWidget* tree_;
    QTreeWidgetItem* groups_[2] = {};
    QPushButton* btnAdd_;
    QPushButton* btnSetting_;
    QPushButton* btnDelete_;
    Captions captions_;
};

} // namespace zel
