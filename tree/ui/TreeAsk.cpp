#include "tree/ui/TreeAsk.h"

#include <QApplication>
#include <QColorDialog>
#include <QDialog>
#include <QInputDialog>
#include <QLineEdit>
#include <QMessageBox>

namespace zel {

namespace {

TreeAsk defaults() {
    TreeAsk a;
    a.inform = [](QWidget* parent, const QString& text) {
        QMessageBox::information(parent, QApplication::applicationName(), text);
    };
    a.confirm = [](QWidget* parent, const QString& text) {
        return QMessageBox::question(parent, QApplication::applicationName(), text,
                                     QMessageBox::Yes | QMessageBox::No) == QMessageBox::Yes;
    };
    a.password = [](QWidget* parent, const QString& title, const QString& prompt) -> std::optional<QString> {
        bool ok = false;
        const QString typed = QInputDialog::getText(parent, title, prompt, QLineEdit::Password, QString(), &ok);
        if (!ok) return std::nullopt;
        return typed;
    };
    a.colour = [](QWidget* parent, const QColor& initial) -> std::optional<QColor> {
        const QColor c = QColorDialog::getColor(initial, parent);
        if (!c.isValid()) return std::nullopt;
        return c;
    };
    a.exec = [](QDialog* dialog) { return dialog->exec() == QDialog::Accepted; };
    return a;
}

} // namespace

TreeAsk& Ask() {
    static TreeAsk ask = defaults();
    return ask;
}

void ResetAsk() {
    Ask() = defaults();
}

QColor StoredToColor(qint64 stored) {
    return QColor(int(stored & 0xff), int((stored >> 8) & 0xff), int((stored >> 16) & 0xff));
}

qint64 ColorToStored(const QColor& c) {
    return qint64(c.red()) | (qint64(c.green()) << 8) | (qint64(c.blue()) << 16);
}

} // namespace zel
