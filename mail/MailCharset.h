#pragma once

#include <QByteArray>
#include <QString>

namespace zel {

// Bytes in a declared charset as text. Unknown charsets and bytes the charset cannot hold fall back to
// UTF-8 when the bytes are valid UTF-8, else to the system code page; ok (when given) tells whether
// the declared charset served.
QString decodeCharset(const QByteArray& bytes, const QByteArray& charset, bool* ok = nullptr);
// Text of unknown charset: UTF-8 when the bytes are valid UTF-8, else the system code page.
QString decodeUnlabelled(const QByteArray& bytes);

// True when the bytes hold at least one multi-byte UTF-8 sequence (two to four bytes, no overlong
// forms or surrogates) and every byte of 0x80 and above belongs to such a sequence.
bool LooksLikeUtf8(const QByteArray& bytes);
// The value of a hexadecimal digit, -1 for any other character (quoted-printable, encoded words, %XX).
int HexDigitValue(char c);
// True when the bytes are valid UTF-8 (pure ASCII included).
bool IsValidUtf8(const QByteArray& bytes);

// RFC 2047 encoded words of a header value decoded to text. The blanks between two adjacent encoded
// words go; everything else stays, once. Unencoded 8-bit runs: UTF-8 when valid, else the code page.
// CR, LF and NUL do not survive.
QString DecodeHeaderWords(const QByteArray& value);

} // namespace zel
