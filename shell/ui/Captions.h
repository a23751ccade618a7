#pragma once

#include <QFont>
#include <QList>
#include <QPointer>
#include <QString>

class QAction;
class QMenu;
class QTabWidget;
class QTreeWidget;
class QWidget;
class QLabel;

namespace zel {

// The caption text without its "&" accelerator marks, as screen readers say it.
QString PlainCaption(const QString& caption);

// A table of (widget or action, ident). apply() relabels everything in one pass, so a language change
// reaches every caption; the accessible name follows the caption.
class Captions {
public:
    // Label, button, check box, group box title, menu title, tool bar title or window title.
    void text(QWidget* w, int ident, const QString& prefix = {});
    // A field named by its label: the field's accessible name is the label's caption.
    void field(QLabel* label, QWidget* field, int ident);
    void action(QAction* a, int captionIdent, int hintIdent = 0);
    void menu(QMenu* m, int captionIdent, int hintIdent = 0);
    void tab(QTabWidget* t, int index, int ident);
    void header(QTreeWidget* t, int column, int ident);
    void window(QWidget* w, int ident);
    void apply() const;

private:
    enum class Kind { Text, Field, Action, Menu, Tab, Header, Window };
    struct Entry {
        Kind kind;
        QPointer<QObject> target;
        QPointer<QWidget> other;
        int ident;
        int hint;
        int index;
        QString prefix;
    };
    QList<Entry> entries_;
};

// The font of the main window; dialogs copy it when they are created.
QFont MainWindowFont();
void SetMainWindowFont(const QFont& font);
// Gives a dialog the main window's font.
void PrepareDialog(QWidget* dialog);

} // namespace zel
