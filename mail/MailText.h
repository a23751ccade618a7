#pragma once

#include <QString>

#include "shell/Strings.h"

namespace zel {

// A mail text by its ident, with the English text for idents the language table does not carry yet.
inline QString MailText(int ident, const char16_t* english) {
    const QString s = GetString(ident);
    return s.isEmpty() ? QString::fromUtf16(english) : s;
}

} // namespace zel
