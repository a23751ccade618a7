#pragma once

#include <QByteArray>
#include <QString>

namespace zel {

// True when every byte from 0x80 up (the last byte excepted) leads a well-formed two-byte (C0-DF) or
// three-byte (E0-EF) UTF-8 sequence, and at least one such sequence occurs. Pure ASCII is not UTF-8.
bool FieldLooksLikeUtf8(const QByteArray& bytes);
// A stored 8-bit text field: UTF-8 when it looks like it, else the system code page.
QString ReadFieldText(const QByteArray& bytes);

} // namespace zel
