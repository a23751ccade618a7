#pragma once

#include <QByteArray>
#include <QString>
#include <optional>

namespace zel {

// The 8-bit "system code page" of stored texts that carry no other marking. Default "windows-1252".
void setSystemCodePage(const QByteArray& name);
QByteArray systemCodePage();
QString fromSystemCodePage(const QByteArray& bytes);
QByteArray toSystemCodePage(const QString& text);

// Decodes text that may start with a byte-order mark: FF FE (UTF-16 LE), FE FF (UTF-16 BE),
// EF BB BF (UTF-8); anything else is read in the system code page.
QString decodeWithBom(const QByteArray& bytes);
// The text of a document file given as bytes: a byte-order mark decides; else the charset given
// (empty: none); else the one a <meta> tag near the start declares; else UTF-8 when the bytes are valid
// UTF-8; else the system code page. Fails (nullopt, error set) for bytes that are not text (a NUL
// byte outside UTF-16) and for a given charset that is not known.
std::optional<QString> decodeDocumentBytes(const QByteArray& bytes, const QByteArray& charset, QString* error);
// The charset a <meta charset=...> or <meta http-equiv ... content="...; charset=..."> declares
// within the first 4 KB; empty when none.
QByteArray declaredCharset(const QByteArray& bytes);

// UTF-16 little-endian with the FF FE mark.
QByteArray encodeUtf16LeWithBom(const QString& text);

} // namespace zel
