#pragma once

#include <QByteArray>
#include <QList>
#include <QMap>
#include <QString>

namespace zel {

// One entity of a MIME message: the message itself or one of its parts, as a tree.
struct TMimePart {
    struct Header {
        QByteArray name;  // as written
        QByteArray value; // unfolded, leading blanks removed, not decoded
    };
    QList<Header> headers;
    QByteArray contentType;                         // lower case "type/subtype"; empty when the header is missing
    QMap<QByteArray, QByteArray> typeParams;        // names lower case; values as written (RFC 2231 joined)
    QByteArray disposition;                         // lower case token
    QMap<QByteArray, QByteArray> dispositionParams; // as typeParams
    QByteArray transferEncoding;                    // lower case token
    QByteArray contentId;                           // without the angle brackets
    QByteArray contentLocation;
    QByteArray body;        // a leaf's data with its transfer encoding undone
    bool truncated = false; // a multipart whose closing boundary never came
    QList<TMimePart> children;

    // First header of that name (letter case ignored), unfolded; empty when missing.
    QByteArray header(const char* name) const;
    bool isMultipart() const { return contentType.startsWith("multipart/") && !children.isEmpty(); }
    // The charset parameter, lower case.
    QByteArray charset() const;
    // filename (disposition), else name (type), RFC 2231 and RFC 2047 forms decoded; empty when none.
    QString fileName() const;
};

// The MIME parser: lines end at LF (a CR before it goes), headers unfold, multiparts nest by their
// exact boundaries (trailing blanks allowed), parameters follow RFC 2045/2231, bodies are decoded from
// base64, quoted-printable and uuencode. It never fails: what does not parse stays data.
class TMimeDecode {
public:
    static TMimePart parse(const QByteArray& raw);
    // Transfer decodings, also for callers with data of their own.
    static QByteArray decodeBase64(QByteArrayView data);
    static QByteArray decodeQuotedPrintable(QByteArrayView data);
    // The data of the first "begin MODE NAME" ... "end" block; name receives NAME.
    static QByteArray decodeUuencode(QByteArrayView data, QByteArray* name = nullptr);
    // "value; a=b; c*=utf-8''x" -> value (lower case) and parameters (names lower case).
    static QByteArray parseParameters(const QByteArray& headerValue, QMap<QByteArray, QByteArray>* params);
};

} // namespace zel
