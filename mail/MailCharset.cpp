#include "mail/MailCharset.h"

#include <QHash>
#include <cerrno>
#include <iconv.h>

#include "platform/CodePage.h"

namespace zel {

int HexDigitValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

namespace {

// Names mail programs write for charsets that iconv knows under another name, or that are in
// practice a superset.
QByteArray iconvName(const QByteArray& charset) {
    QByteArray c = charset.trimmed().toLower();
    if (c.startsWith('"') && c.endsWith('"') && c.size() >= 2) c = c.mid(1, c.size() - 2);
    const qsizetype star = c.indexOf('*'); // RFC 2231 language suffix
    if (star >= 0) c.truncate(star);
    static const QHash<QByteArray, QByteArray> aliases{
        {"gb2312", "GB18030"},
        {"gbk", "GB18030"},
        {"x-gbk", "GB18030"},
        {"cp936", "GB18030"},
        {"ks_c_5601-1987", "CP949"},
        {"euc-kr", "CP949"},
        {"iso-8859-1", "WINDOWS-1252"},
        {"us-ascii", "WINDOWS-1252"},
        {"ascii", "WINDOWS-1252"},
        {"latin1", "WINDOWS-1252"},
        {"x-sjis", "CP932"},
        {"shift_jis", "CP932"},
        {"ms932", "CP932"},
        {"big5", "BIG5-HKSCS"},
        {"unicode-1-1-utf-7", "UTF-7"},
        {"utf8", "UTF-8"},
        {"iso-2022-jp", "ISO-2022-JP-3"},
    };
    const auto it = aliases.constFind(c);
    return it != aliases.constEnd() ? *it : c.toUpper();
}

bool convert(const QByteArray& in, const QByteArray& from, QString* out) {
    iconv_t cd = iconv_open("UTF-8", from.constData());
    if (cd == iconv_t(-1)) return false;
    QByteArray buf;
    buf.resize(in.size() * 4 + 16);
    char* src = const_cast<char*>(in.constData());
    size_t srcLeft = size_t(in.size());
    char* dst = buf.data();
    size_t dstLeft = size_t(buf.size());
    bool ok = true;
    while (srcLeft > 0) {
        if (iconv(cd, &src, &srcLeft, &dst, &dstLeft) == size_t(-1)) {
            if (errno == E2BIG) {
                const qsizetype used = dst - buf.data();
                buf.resize(buf.size() * 2);
                dst = buf.data() + used;
                dstLeft = size_t(buf.size() - used);
                continue;
            }
            ok = false;
            break;
        }
    }
    if (ok) iconv(cd, nullptr, nullptr, &dst, &dstLeft); // flush shift states
    iconv_close(cd);
    if (!ok) return false;
    buf.truncate(dst - buf.data());
    *out = QString::fromUtf8(buf);
    return true;
}

// Length of the valid UTF-8 sequence at p (1 for ASCII), 0 when invalid.
int utf8SequenceLength(const unsigned char* p, qsizetype left) {
    const unsigned char c = p[0];
    if (c < 0x80) return 1;
    int n;
    unsigned min;
    unsigned cp;
    if (c >= 0xC2 && c <= 0xDF)
        n = 2, min = 0x80, cp = c & 0x1F;
    else if (c >= 0xE0 && c <= 0xEF)
        n = 3, min = 0x800, cp = c & 0x0F;
    else if (c >= 0xF0 && c <= 0xF4)
        n = 4, min = 0x10000, cp = c & 0x07;
    else
        return 0;
    if (left < n) return 0;
    for (int i = 1; i < n; ++i) {
        if ((p[i] & 0xC0) != 0x80) return 0;
        cp = (cp << 6) | (p[i] & 0x3F);
    }
    if (cp < min || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return 0;
    return n;
}

// Scans bytes: returns false on an invalid sequence; multi is set when a multi-byte sequence was seen.
bool scanUtf8(const QByteArray& bytes, bool* multi) {
    const auto* p = reinterpret_cast<const unsigned char*>(bytes.constData());
    const qsizetype n = bytes.size();
    *multi = false;
    for (qsizetype i = 0; i < n;) {
        if (p[i] < 0x80) {
            ++i;
            continue;
        }
        const int len = utf8SequenceLength(p + i, n - i);
        if (len == 0) return false;
        *multi = true;
        i += len;
    }
    return true;
}

QByteArray decodeQWord(QByteArrayView text) {
    QByteArray out;
    out.reserve(text.size());
    for (qsizetype i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (c == '_') {
            out += ' ';
        } else if (c == '=' && i + 2 < text.size() && HexDigitValue(text[i + 1]) >= 0 &&
                   HexDigitValue(text[i + 2]) >= 0) {
            out += char(HexDigitValue(text[i + 1]) * 16 + HexDigitValue(text[i + 2]));
            i += 2;
        } else {
            out += c;
        }
    }
    return out;
}

} // namespace

bool IsValidUtf8(const QByteArray& bytes) {
    bool multi = false;
    return scanUtf8(bytes, &multi);
}

bool LooksLikeUtf8(const QByteArray& bytes) {
    bool multi = false;
    return scanUtf8(bytes, &multi) && multi;
}

QString decodeUnlabelled(const QByteArray& bytes) {
    bool multi = false;
    if (scanUtf8(bytes, &multi)) return multi ? QString::fromUtf8(bytes) : QString::fromLatin1(bytes);
    return fromSystemCodePage(bytes);
}

QString decodeCharset(const QByteArray& bytes, const QByteArray& charset, bool* ok) {
    if (ok) *ok = false;
    const QByteArray name = iconvName(charset);
    if (name.isEmpty()) return decodeUnlabelled(bytes);
    if (name == "UTF-8") {
        if (IsValidUtf8(bytes)) {
            if (ok) *ok = true;
            return QString::fromUtf8(bytes);
        }
        return fromSystemCodePage(bytes); // labelled UTF-8 but is not: older mailers' code page text
    }
    QString out;
    if (convert(bytes, name, &out)) {
        if (ok) *ok = true;
        return out;
    }
    return decodeUnlabelled(bytes);
}

QString DecodeHeaderWords(const QByteArray& value) {
    QString out;
    QByteArray pendingBytes, pendingCharset; // adjacent words of one charset are converted together
    auto flush = [&] {
        if (!pendingBytes.isEmpty()) out += decodeCharset(pendingBytes, pendingCharset);
        pendingBytes.clear();
    };
    const qsizetype n = value.size();
    qsizetype i = 0;
    bool lastWasWord = false;
    QByteArray plain, skippedGap;
    auto flushPlain = [&] {
        if (!plain.isEmpty()) out += decodeUnlabelled(plain);
        plain.clear();
    };
    while (i < n) {
        const qsizetype start = value.indexOf("=?", i);
        const qsizetype stop = start < 0 ? n : start;
        // Text between words: blanks alone between two encoded words go.
        if (stop > i) {
            const QByteArray gap = value.mid(i, stop - i);
            const bool blank = gap.trimmed().isEmpty();
            if (lastWasWord && blank && start >= 0) {
                skippedGap = gap;
            } else {
                flush();
                plain += gap;
                lastWasWord = false;
            }
        }
        if (start < 0) break;
        // =?charset?X?text?=
        const qsizetype q1 = value.indexOf('?', start + 2);
        const qsizetype q2 = q1 < 0 ? -1 : value.indexOf('?', q1 + 1);
        const qsizetype end = q2 < 0 ? -1 : value.indexOf("?=", q2 + 1);
        const bool shaped = q1 > start + 2 && q2 == q1 + 2 && end > q2 && QByteArray("bBqQ").contains(value[q1 + 1]) &&
                            value.mid(start, end - start).indexOf(' ') < 0;
        if (!shaped) {
            flush();
            plain += skippedGap + "=?";
            skippedGap.clear();
            i = start + 2;
            lastWasWord = false;
            continue;
        }
        flushPlain();
        const QByteArray charset = value.mid(start + 2, q1 - start - 2);
        const QByteArrayView text(value.constData() + q2 + 1, end - q2 - 1);
        const QByteArray bytes = (value[q1 + 1] == 'b' || value[q1 + 1] == 'B')
                                     ? QByteArray::fromBase64(text.toByteArray())
                                     : decodeQWord(text);
        if (charset.toLower() != pendingCharset.toLower()) flush();
        pendingCharset = charset;
        pendingBytes += bytes;
        skippedGap.clear();
        lastWasWord = true;
        i = end + 2;
    }
    flush();
    flushPlain();
    // Header values are one line; control characters never travel on.
    for (QChar& c : out)
        if (c == u'\r' || c == u'\n' || c == u'\t') c = u' ';
    out.remove(QChar(0));
    return out;
}

} // namespace zel
