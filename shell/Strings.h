#pragma once

#include <QHash>
#include <QString>

namespace zel {

// The text of a numbered ident in the current language; the built-in English table is the fallback.
QString GetString(int ident);
// Installs the current language's texts (ident -> text); an empty map returns to English only.
void SetLanguageStrings(const QHash<int, QString>& strings);

} // namespace zel
