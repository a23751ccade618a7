#pragma once

#include <QByteArray>
#include <QString>

namespace zel {

// The 8-bit "system code page" of stored texts that carry no other marking. Default "windows-1252".
void setSystemCodePage(const QByteArray& name);
QByteArray systemCodePage();
QString fromSystemCodePage(const QByteArray& bytes);
QByteArray toSystemCodePage(const QString& text);

// Decodes text that may start with a byte-order mark: FF FE (UTF-16 LE), FE FF (UTF-16 BE),
// EF BB BF (UTF-8); anything else is read in the system code page.
QString decodeWithBom(const QByteArray& bytes);
// UTF-16 little-endian with the FF FE mark.
QByteArray encodeUtf16LeWithBom(const QString& text);

} // namespace zel
