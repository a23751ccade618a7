#pragma once

#include <QString>

class QWidget;

namespace zel {

// Information box with the OK caption and title of the language in force.
void ShowInformation(QWidget* parent, const QString& text);
// Yes/No question; true for Yes.
bool AskYesNo(QWidget* parent, const QString& text);

} // namespace zel
