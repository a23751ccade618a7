#include "shell/ui/Captions.h"

#include "shell/Strings.h"

#include <QAbstractButton>
#include <QAction>
#include <QApplication>
#include <QGroupBox>
#include <QLabel>
#include <QMenu>
#include <QTabWidget>
#include <QToolBar>
#include <QTreeWidget>

namespace zel {

namespace {
QFont& mainFont() {
    static QFont font = QApplication::font();
    return font;
}
} // namespace

QString PlainCaption(const QString& caption) {
    QString s;
    for (qsizetype i = 0; i < caption.size(); ++i) {
        if (caption[i] == u'&') {
            if (i + 1 < caption.size() && caption[i + 1] == u'&') {
                s += u'&';
                ++i;
            }
            continue;
        }
        s += caption[i];
    }
    return s.trimmed();
}

void Captions::text(QWidget* w, int ident, const QString& prefix) {
    entries_.append({Kind::Text, w, nullptr, ident, 0, 0, prefix});
}
void Captions::field(QLabel* label, QWidget* field, int ident) {
    label->setBuddy(field);
    entries_.append({Kind::Field, label, field, ident, 0, 0, {}});
}
void Captions::action(QAction* a, int captionIdent, int hintIdent) {
    entries_.append({Kind::Action, a, nullptr, captionIdent, hintIdent, 0, {}});
}
void Captions::menu(QMenu* m, int captionIdent, int hintIdent) {
    entries_.append({Kind::Menu, m, nullptr, captionIdent, hintIdent, 0, {}});
}
void Captions::tab(QTabWidget* t, int index, int ident) {
    entries_.append({Kind::Tab, t, nullptr, ident, 0, index, {}});
}
void Captions::header(QTreeWidget* t, int column, int ident) {
    entries_.append({Kind::Header, t, nullptr, ident, 0, column, {}});
}
void Captions::window(QWidget* w, int ident) {
    entries_.append({Kind::Window, w, nullptr, ident, 0, 0, {}});
}

void Captions::apply() const {
    for (const Entry& e : entries_) {
        if (!e.target) continue;
        const QString caption = e.prefix + GetString(e.ident);
        const QString plain = PlainCaption(caption);
        switch (e.kind) {
        case Kind::Text:
        case Kind::Field: {
            QWidget* w = static_cast<QWidget*>(e.target.data());
            if (auto* l = qobject_cast<QLabel*>(w))
                l->setText(caption);
            else if (auto* b = qobject_cast<QAbstractButton*>(w))
                b->setText(caption);
            else if (auto* g = qobject_cast<QGroupBox*>(w))
                g->setTitle(caption);
            else
                w->setWindowTitle(caption);
            w->setAccessibleName(plain);
            if (e.kind == Kind::Field && e.other) e.other->setAccessibleName(plain);
            break;
        }
        case Kind::Action: {
            auto* a = static_cast<QAction*>(e.target.data());
            a->setText(caption);
            a->setIconText(plain);
            const QString hint = e.hint ? PlainCaption(GetString(e.hint)) : plain;
            a->setToolTip(hint);
            a->setStatusTip(hint);
            break;
        }
        case Kind::Menu: {
            auto* m = static_cast<QMenu*>(e.target.data());
            m->setTitle(caption);
            m->setAccessibleName(plain);
            if (e.hint) m->menuAction()->setStatusTip(PlainCaption(GetString(e.hint)));
            break;
        }
        case Kind::Tab: {
            auto* t = static_cast<QTabWidget*>(e.target.data());
            if (e.index < t->count()) {
                t->setTabText(e.index, caption);
                t->widget(e.index)->setAccessibleName(plain);
            }
            break;
        }
        case Kind::Header: {
            auto* t = static_cast<QTreeWidget*>(e.target.data());
            if (e.index < t->columnCount()) t->headerItem()->setText(e.index, caption);
            break;
        }
        case Kind::Window: {
            auto* w = static_cast<QWidget*>(e.target.data());
            w->setWindowTitle(caption);
            w->setAccessibleName(plain);
            break;
        }
        }
    }
}

QFont MainWindowFont() {
    return mainFont();
}
void SetMainWindowFont(const QFont& font) {
    mainFont() = font;
}
void PrepareDialog(QWidget* dialog) {
    dialog->setFont(mainFont());
}

} // namespace zel
