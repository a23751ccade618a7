#pragma once

#include <QColor>
#include <QString>
#include <functional>
#include <optional>

class QDialog;
class QWidget;

namespace zel {

// Every question the tree puts to the user goes through here, so one place decides how it is shown.
// The defaults show the modal boxes; a test stands in for the user by replacing them.
struct TreeAsk {
    std::function<void(QWidget* parent, const QString& text)> inform;
    std::function<bool(QWidget* parent, const QString& text)> confirm; // Yes/No, true for Yes
    std::function<std::optional<QString>(QWidget* parent, const QString& title, const QString& prompt)> password;
    std::function<std::optional<QColor>(QWidget* parent, const QColor& initial)> colour;
    // Runs a dialog modally; true when it was accepted.
    std::function<bool(QDialog* dialog)> exec;
};
TreeAsk& Ask();
// Back to the modal boxes.
void ResetAsk();

// A node's text colour as stored (0x00BBGGRR) and back.
QColor StoredToColor(qint64 stored);
qint64 ColorToStored(const QColor& c);

} // namespace zel
