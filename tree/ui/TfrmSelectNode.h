#pragma once

#include <QDialog>
#include <optional>

class QLabel;
class QLineEdit;
class QPushButton;
class QRadioButton;
class QTreeWidget;
class QTreeWidgetItem;

namespace zel {

class Database;

// The node chooser: a tree of the knowledge base from its top-level nodes, loaded like the index tree
// in the user's sort order. Placement form (pick a target), check-box form (tick several nodes) and
// hand-over form (a name and whether to make a new document or insert into the current one).
class TfrmSelectNode : public QDialog {
    Q_OBJECT
public:
    enum class Form { Placement, CheckBoxes, HandOver };
    TfrmSelectNode(Database& db, Form form, bool foldersOnly = false, QWidget* parent = nullptr);

    // Loads the top level and selects the given node (the first item for none or "0").
    void start(const QString& selectedId = QString());

    // Result of the placement and hand-over forms: the focused item.
    QString selectedId() const;
    QString selectedPath() const;
    bool selectedHasChildren() const;
    // Check-box form: the ticked items that are loaded.
    QStringList checkedIds() const;
    // Hand-over form.
    QString documentName() const;
    bool insertIntoCurrent() const;

    QTreeWidgetItem* findItem(const QString& id) const;

    struct Choice {
        QString id, path;
        bool hasChildren = false;
    };
    // Placement form as one call: shows the chooser and returns the node picked.
    static std::optional<Choice> choose(Database& db, const QString& startId, QWidget* parent = nullptr,
                                        bool foldersOnly = false);

    QTreeWidget* tvSelect;
    QLabel* lblHint;
    QLineEdit* edtName;
    QRadioButton *rbNew, *rbInsert;
    QPushButton *btnOK, *btnCancel;

private:
    void loadChildren(QTreeWidgetItem* parent);
    void onExpanded(QTreeWidgetItem* item);
    void onChanged(QTreeWidgetItem* item, int column);
    void btnOKClick();
    Database& db_;
    Form form_;
    bool foldersOnly_;
    bool settingChecks_ = false;
};

} // namespace zel
