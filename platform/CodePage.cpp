#include "platform/CodePage.h"

#include <QMutex>
#include <QMutexLocker>
#include <QRegularExpression>
#include <QStringDecoder>
#include <QtEndian>
#include <iconv.h>

namespace zel {

namespace {

QMutex mutex;
QByteArray codePage = "windows-1252";

// 0x80..0x9F of windows-1252; the five unassigned bytes map to the C1 controls, as the system does.
constexpr char16_t kCp1252High[32] = {0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021,
                                      0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0x008D, 0x017D, 0x008F,
                                      0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,
                                      0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178};

bool isCp1252(const QByteArray& name) {
    const QByteArray n = name.toLower();
    return n == "windows-1252" || n == "cp1252";
}

QByteArray iconvConvert(const QByteArray& in, const char* to, const char* from, bool* ok) {
    *ok = false;
    iconv_t cd = iconv_open(to, from);
    if (cd == iconv_t(-1)) return {};
    QByteArray out;
    out.resize(in.size() * 4 + 16);
    char* src = const_cast<char*>(in.constData());
    size_t srcLeft = size_t(in.size());
    char* dst = out.data();
    size_t dstLeft = size_t(out.size());
    while (srcLeft > 0) {
        if (iconv(cd, &src, &srcLeft, &dst, &dstLeft) == size_t(-1)) {
            if (errno == EILSEQ || errno == EINVAL) { // skip a byte that has no mapping
                ++src;
                --srcLeft;
                continue;
            }
            break;
        }
    }
    out.truncate(out.size() - qsizetype(dstLeft));
    iconv_close(cd);
    *ok = true;
    return out;
}

} // namespace

void setSystemCodePage(const QByteArray& name) {
    QMutexLocker lock(&mutex);
    codePage = name.isEmpty() ? QByteArray("windows-1252") : name;
}

QByteArray systemCodePage() {
    QMutexLocker lock(&mutex);
    return codePage;
}

QString fromSystemCodePage(const QByteArray& bytes) {
    const QByteArray cp = systemCodePage();
    if (isCp1252(cp)) {
        QString out(bytes.size(), Qt::Uninitialized);
        QChar* d = out.data();
        for (const char c : bytes) {
            const auto b = static_cast<unsigned char>(c);
            *d++ = QChar((b >= 0x80 && b < 0xA0) ? kCp1252High[b - 0x80] : char16_t(b));
        }
        return out;
    }
    bool ok = false;
    const QByteArray utf8 = iconvConvert(bytes, "UTF-8", cp.constData(), &ok);
    return ok ? QString::fromUtf8(utf8) : QString::fromLatin1(bytes);
}

QByteArray toSystemCodePage(const QString& text) {
    const QByteArray cp = systemCodePage();
    if (isCp1252(cp)) {
        QByteArray out;
        out.reserve(text.size());
        for (const QChar ch : text) {
            const char16_t u = ch.unicode();
            if (u < 0x80 || (u >= 0xA0 && u < 0x100)) {
                out += char(u);
                continue;
            }
            char repl = '?';
            for (int i = 0; i < 32; ++i)
                if (kCp1252High[i] == u) repl = char(0x80 + i);
            out += repl;
        }
        return out;
    }
    bool ok = false;
    const QByteArray conv = iconvConvert(text.toUtf8(), (cp + "//TRANSLIT").constData(), "UTF-8", &ok);
    return ok ? conv : text.toLatin1();
}

QString decodeWithBom(const QByteArray& bytes) {
    const auto* p = reinterpret_cast<const unsigned char*>(bytes.constData());
    const qsizetype n = bytes.size();
    if (n >= 2 && p[0] == 0xFF && p[1] == 0xFE) {
        QStringDecoder dec(QStringDecoder::Utf16LE, QStringDecoder::Flag::Stateless);
        return dec(QByteArrayView(bytes).sliced(2));
    }
    if (n >= 2 && p[0] == 0xFE && p[1] == 0xFF) {
        QStringDecoder dec(QStringDecoder::Utf16BE, QStringDecoder::Flag::Stateless);
        return dec(QByteArrayView(bytes).sliced(2));
    }
    if (n >= 3 && p[0] == 0xEF && p[1] == 0xBB && p[2] == 0xBF) return QString::fromUtf8(bytes.constData() + 3, n - 3);
    return fromSystemCodePage(bytes);
}

QByteArray declaredCharset(const QByteArray& bytes) {
    static const QRegularExpression meta(
        QStringLiteral("<meta\\b[^>]*?\\bcharset\\s*=\\s*[\"']?\\s*([A-Za-z0-9._:-]+)"),
        QRegularExpression::CaseInsensitiveOption);
    const QRegularExpressionMatch m = meta.match(QString::fromLatin1(bytes.left(4096)));
    return m.hasMatch() ? m.captured(1).toLatin1() : QByteArray();
}

namespace {
// Decodes bytes in a named charset; nullopt when the charset is not known.
std::optional<QString> decodeIn(const QByteArray& bytes, const QByteArray& charset) {
    const QByteArray name = charset.trimmed().toLower();
    if (name == "utf-8" || name == "utf8") return QString::fromUtf8(bytes);
    if (isCp1252(name) && isCp1252(systemCodePage())) return fromSystemCodePage(bytes);
    bool ok = false;
    const QByteArray utf8 = iconvConvert(bytes, "UTF-8", name.constData(), &ok);
    if (!ok) return std::nullopt;
    return QString::fromUtf8(utf8);
}
} // namespace

std::optional<QString> decodeDocumentBytes(const QByteArray& bytes, const QByteArray& charset, QString* error) {
    const auto* p = reinterpret_cast<const unsigned char*>(bytes.constData());
    const qsizetype n = bytes.size();
    const bool marked = (n >= 2 && ((p[0] == 0xFF && p[1] == 0xFE) || (p[0] == 0xFE && p[1] == 0xFF))) ||
                        (n >= 3 && p[0] == 0xEF && p[1] == 0xBB && p[2] == 0xBF);
    if (marked) return decodeWithBom(bytes);
    // Text in an 8-bit or UTF-8 form holds no NUL: such bytes are a binary file, which would be
    // stored as different bytes.
    if (bytes.contains('\0')) {
        if (error) *error = QStringLiteral("the file is not text (it holds NUL bytes)");
        return std::nullopt;
    }
    if (!charset.isEmpty()) {
        auto text = decodeIn(bytes, charset);
        if (!text && error) *error = QStringLiteral("unknown charset \"%1\"").arg(QString::fromLatin1(charset));
        return text;
    }
    // A declaration the system does not know is passed over, and so is a 16- or 32-bit form that the
    // bytes (no mark, no NUL) cannot be in.
    if (const QByteArray declared = declaredCharset(bytes).toLower();
        !declared.isEmpty() && !declared.startsWith("utf-16") && !declared.startsWith("utf-32"))
        if (auto text = decodeIn(bytes, declared)) return text;
    QStringDecoder utf8(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    const QString text = utf8(bytes);
    if (!utf8.hasError()) return text;
    return fromSystemCodePage(bytes);
}

QByteArray encodeUtf16LeWithBom(const QString& text) {
    QByteArray out;
    out.resize(2 + text.size() * 2);
    out[0] = char(0xFF);
    out[1] = char(0xFE);
    qToLittleEndian<char16_t>(text.utf16(), text.size(), out.data() + 2);
    return out;
}

} // namespace zel
