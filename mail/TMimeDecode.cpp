#include "mail/TMimeDecode.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <tuple>

#include "mail/MailCharset.h"

namespace zel {

namespace {

constexpr int kMaxDepth = 40; // deeper nesting stays data of the innermost part

// A line of data: [begin, end) without its line end; next is where the following line starts.
struct Line {
    qsizetype begin, end, next;
};

inline Line lineAt(QByteArrayView d, qsizetype pos) {
    const char* base = d.data();
    const void* nl = pos < d.size() ? memchr(base + pos, '\n', size_t(d.size() - pos)) : nullptr;
    const qsizetype lf = nl ? static_cast<const char*>(nl) - base : d.size();
    qsizetype end = lf;
    if (end > pos && base[end - 1] == '\r') --end;
    return {pos, end, nl ? lf + 1 : d.size()};
}

bool isBlank(char c) {
    return c == ' ' || c == '\t';
}

QByteArray trimmed(QByteArrayView v) {
    return v.trimmed().toByteArray();
}

// A header name: printable characters other than ":" and blanks, at least one.
bool isHeaderName(QByteArrayView name) {
    if (name.isEmpty()) return false;
    for (char c : name)
        if (uchar(c) <= 32 || uchar(c) >= 127) return false;
    return true;
}

QByteArray percentDecode(QByteArrayView v) {
    QByteArray out;
    out.reserve(v.size());
    for (qsizetype i = 0; i < v.size(); ++i) {
        if (v[i] == '%' && i + 2 < v.size() && HexDigitValue(v[i + 1]) >= 0 && HexDigitValue(v[i + 2]) >= 0) {
            out += char(HexDigitValue(v[i + 1]) * 16 + HexDigitValue(v[i + 2]));
            i += 2;
        } else {
            out += v[i];
        }
    }
    return out;
}

void parseHeaders(QByteArrayView d, qsizetype& pos, TMimePart& part, bool topLevel) {
    bool first = true;
    while (pos < d.size()) {
        const Line l = lineAt(d, pos);
        const QByteArrayView text = d.sliced(l.begin, l.end - l.begin);
        if (text.isEmpty()) {
            pos = l.next;
            return;
        }
        // An mbox separator before the first header of a saved message.
        if (first && topLevel && text.startsWith("From ")) {
            first = false;
            pos = l.next;
            continue;
        }
        first = false;
        if (isBlank(text[0])) {
            if (part.headers.isEmpty()) return; // data where a header was expected
            QByteArray& v = part.headers.last().value;
            v += text.toByteArray(); // unfolding removes only the line break
            pos = l.next;
            continue;
        }
        const qsizetype colon = text.indexOf(':');
        if (colon <= 0 || !isHeaderName(text.first(colon))) return; // the data begin without a blank line
        part.headers.append({text.first(colon).toByteArray(), trimmed(text.sliced(colon + 1))});
        pos = l.next;
    }
}

QByteArray unquote(QByteArrayView v) {
    QByteArray t = trimmed(v);
    if (t.size() >= 2 && t.startsWith('<') && t.endsWith('>')) t = t.mid(1, t.size() - 2).trimmed();
    return t;
}

void interpretHeaders(TMimePart& part) {
    part.contentType = TMimeDecode::parseParameters(part.header("content-type"), &part.typeParams);
    if (!part.contentType.contains('/')) part.contentType.clear();
    part.disposition = TMimeDecode::parseParameters(part.header("content-disposition"), &part.dispositionParams);
    QByteArray cte = part.header("content-transfer-encoding").trimmed().toLower();
    const qsizetype semi = cte.indexOf(';');
    if (semi >= 0) cte = cte.left(semi).trimmed();
    part.transferEncoding = cte;
    part.contentId = unquote(part.header("content-id"));
    part.contentLocation = part.header("content-location").trimmed();
    // A location folded over lines carries the blanks of the folding.
    part.contentLocation.replace(" ", "").replace("\t", "");
}

QByteArray decodeBody(const TMimePart& part, QByteArrayView data) {
    const QByteArray& te = part.transferEncoding;
    if (te == "base64") return TMimeDecode::decodeBase64(data);
    if (te == "quoted-printable") return TMimeDecode::decodeQuotedPrintable(data);
    if (te == "x-uuencode" || te == "uuencode" || te == "x-uue") {
        QByteArray name;
        const QByteArray out = TMimeDecode::decodeUuencode(data, &name);
        return out.isEmpty() ? data.toByteArray() : out;
    }
    return data.toByteArray();
}

// Does the line (without its line end) delimit the multipart? 1: a separator, 2: the closing line.
int boundaryKind(QByteArrayView line, QByteArrayView delimiter) {
    if (!line.startsWith(delimiter)) return 0;
    QByteArrayView rest = line.sliced(delimiter.size());
    int kind = 1;
    if (rest.startsWith("--")) {
        kind = 2;
        rest = rest.sliced(2);
    }
    for (char c : rest)
        if (!isBlank(c)) return 0;
    return kind;
}

TMimePart parseEntity(QByteArrayView d, int depth, bool topLevel) {
    TMimePart part;
    qsizetype pos = 0;
    parseHeaders(d, pos, part, topLevel);
    interpretHeaders(part);
    const QByteArrayView body = d.sliced(pos);
    const QByteArray boundary = part.typeParams.value("boundary");
    if (part.contentType.startsWith("multipart/") && !boundary.isEmpty() && depth < kMaxDepth) {
        const QByteArray delimiter = "--" + boundary;
        qsizetype partStart = -1; // start of the current part's text, -1 before the first separator
        bool closed = false;
        for (qsizetype p = 0; p < body.size();) {
            const Line l = lineAt(body, p);
            const int kind = (l.end - l.begin >= delimiter.size() && body[l.begin] == '-')
                                 ? boundaryKind(body.sliced(l.begin, l.end - l.begin), delimiter)
                                 : 0;
            if (kind) {
                if (partStart >= 0) {
                    // The line break before a boundary line belongs to the boundary.
                    qsizetype end = l.begin;
                    if (end > partStart && body[end - 1] == '\n') --end;
                    if (end > partStart && body[end - 1] == '\r') --end;
                    part.children.append(parseEntity(body.sliced(partStart, end - partStart), depth + 1, false));
                }
                partStart = l.next;
                if (kind == 2) {
                    closed = true;
                    break;
                }
            }
            p = l.next;
        }
        if (!closed && partStart >= 0) {
            part.truncated = true;
            if (partStart < body.size()) part.children.append(parseEntity(body.sliced(partStart), depth + 1, false));
        }
        if (!part.children.isEmpty()) return part;
        // No boundary line at all: the body is data, shown as text.
    }
    part.body = decodeBody(part, body);
    return part;
}

// RFC 2231: "name*0*", "name*1", "name*" pieces joined and their charset applied (result in UTF-8).
void joinContinuations(QMap<QByteArray, QByteArray>* params,
                       const QMap<QByteArray, QList<std::tuple<int, bool, QByteArray>>>& pieces) {
    for (auto it = pieces.constBegin(); it != pieces.constEnd(); ++it) {
        QList<std::tuple<int, bool, QByteArray>> list = it.value();
        std::stable_sort(list.begin(), list.end(),
                         [](const auto& a, const auto& b) { return std::get<0>(a) < std::get<0>(b); });
        QByteArray charset, bytes;
        bool anyEncoded = false;
        for (qsizetype i = 0; i < list.size(); ++i) {
            auto [index, encoded, value] = list[i];
            if (encoded) {
                if (!anyEncoded) {
                    // charset'language'text on the first encoded piece.
                    const qsizetype q1 = value.indexOf('\'');
                    const qsizetype q2 = q1 < 0 ? -1 : value.indexOf('\'', q1 + 1);
                    if (q2 > q1) {
                        charset = value.left(q1);
                        value = value.mid(q2 + 1);
                    }
                    anyEncoded = true;
                }
                bytes += percentDecode(value);
            } else {
                bytes += value;
            }
        }
        params->insert(it.key(), anyEncoded && !charset.isEmpty() ? decodeCharset(bytes, charset).toUtf8() : bytes);
    }
}

} // namespace

QByteArray TMimePart::header(const char* name) const {
    for (const Header& h : headers)
        if (h.name.compare(name, Qt::CaseInsensitive) == 0) return h.value;
    return {};
}

QByteArray TMimePart::charset() const {
    return typeParams.value("charset").trimmed().toLower();
}

QString TMimePart::fileName() const {
    QByteArray raw = dispositionParams.value("filename");
    if (raw.trimmed().isEmpty()) raw = typeParams.value("name");
    return DecodeHeaderWords(raw).trimmed();
}

TMimePart TMimeDecode::parse(const QByteArray& raw) {
    return parseEntity(QByteArrayView(raw), 0, true);
}

QByteArray TMimeDecode::parseParameters(const QByteArray& headerValue, QMap<QByteArray, QByteArray>* params) {
    params->clear();
    const QByteArrayView v(headerValue);
    qsizetype i = 0;
    const qsizetype n = v.size();
    while (i < n && v[i] != ';')
        ++i;
    QByteArray value = trimmed(v.first(i)).toLower();
    // Some mailers fold "text/html;" into "text/html" followed by blanks and more words.
    if (const qsizetype sp = value.indexOf(' '); sp >= 0) value.truncate(sp);
    QMap<QByteArray, QList<std::tuple<int, bool, QByteArray>>> pieces;
    while (i < n) {
        while (i < n && (v[i] == ';' || isBlank(v[i])))
            ++i;
        const qsizetype nameStart = i;
        while (i < n && v[i] != '=' && v[i] != ';')
            ++i;
        QByteArray name = trimmed(v.sliced(nameStart, i - nameStart)).toLower();
        if (i >= n || v[i] == ';') continue; // a parameter without value
        ++i;                                 // "="
        while (i < n && isBlank(v[i]))
            ++i;
        QByteArray val;
        if (i < n && v[i] == '"') {
            ++i;
            while (i < n && v[i] != '"') {
                if (v[i] == '\\' && i + 1 < n) ++i;
                val += v[i++];
            }
            if (i < n) ++i; // closing quote
            while (i < n && v[i] != ';')
                ++i; // anything after the quoted string up to the next parameter
        } else {
            const qsizetype s = i;
            while (i < n && v[i] != ';')
                ++i;
            val = trimmed(v.sliced(s, i - s));
        }
        if (name.isEmpty()) continue;
        const qsizetype star = name.indexOf('*');
        if (star > 0) {
            const QByteArray base = name.left(star);
            QByteArray rest = name.mid(star + 1);
            bool encoded = false;
            if (rest.endsWith('*')) {
                encoded = true;
                rest.chop(1);
            } else if (rest.isEmpty()) {
                encoded = true; // "name*=charset''text"
            }
            bool ok = true;
            const int index = rest.isEmpty() ? 0 : rest.toInt(&ok);
            if (ok) pieces[base].append({index, encoded, val});
            continue;
        }
        if (!params->contains(name)) params->insert(name, val);
    }
    joinContinuations(params, pieces);
    return value;
}

QByteArray TMimeDecode::decodeBase64(QByteArrayView data) {
    static const auto table = [] {
        std::array<signed char, 256> t{};
        t.fill(-1);
        const char* alphabet = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
        for (int i = 0; i < 64; ++i)
            t[uchar(alphabet[i])] = char(i);
        t[uchar('-')] = 62; // URL-safe forms some senders use
        t[uchar('_')] = 63;
        return t;
    }();
    QByteArray out;
    out.resize(data.size() * 3 / 4 + 3);
    char* o = out.data();
    quint32 acc = 0;
    int have = 0;
    for (char c : data) {
        if (c == '=') {
            // Padding ends a group; a later group (joined blocks) starts afresh.
            if (have == 2)
                *o++ = char(acc >> 4);
            else if (have == 3) {
                *o++ = char(acc >> 10);
                *o++ = char(acc >> 2);
            }
            acc = 0;
            have = 0;
            continue;
        }
        const signed char v = table[uchar(c)];
        if (v < 0) continue;
        acc = (acc << 6) | quint32(v);
        if (++have == 4) {
            *o++ = char(acc >> 16);
            *o++ = char(acc >> 8);
            *o++ = char(acc);
            acc = 0;
            have = 0;
        }
    }
    if (have == 2)
        *o++ = char(acc >> 4);
    else if (have == 3) {
        *o++ = char(acc >> 10);
        *o++ = char(acc >> 2);
    }
    out.truncate(o - out.data());
    return out;
}

QByteArray TMimeDecode::decodeQuotedPrintable(QByteArrayView data) {
    QByteArray out;
    out.reserve(data.size());
    for (qsizetype p = 0; p < data.size();) {
        const Line l = lineAt(data, p);
        qsizetype end = l.end;
        while (end > l.begin && isBlank(data[end - 1]))
            --end; // trailing blanks were added in transport
        bool soft = false;
        if (end > l.begin && data[end - 1] == '=') {
            soft = true;
            --end;
        }
        for (qsizetype i = l.begin; i < end; ++i) {
            const char c = data[i];
            if (c == '=' && i + 2 < end && HexDigitValue(data[i + 1]) >= 0 && HexDigitValue(data[i + 2]) >= 0) {
                out += char(HexDigitValue(data[i + 1]) * 16 + HexDigitValue(data[i + 2]));
                i += 2;
            } else {
                out += c;
            }
        }
        const bool hadLineEnd = l.next > l.end;
        if (!soft && hadLineEnd) out += "\r\n";
        p = l.next;
    }
    return out;
}

QByteArray TMimeDecode::decodeUuencode(QByteArrayView data, QByteArray* name) {
    QByteArray out;
    bool inBlock = false;
    for (qsizetype p = 0; p < data.size();) {
        const Line l = lineAt(data, p);
        p = l.next;
        const QByteArrayView line = data.sliced(l.begin, l.end - l.begin);
        if (!inBlock) {
            if (line.startsWith("begin ")) {
                const QByteArray rest = line.sliced(6).toByteArray();
                const qsizetype sp = rest.indexOf(' ');
                if (sp > 0) {
                    if (name) *name = rest.mid(sp + 1).trimmed();
                    inBlock = true;
                }
            }
            continue;
        }
        if (line == "end" || line.startsWith("end ")) break;
        if (line.isEmpty()) continue;
        const int len = (uchar(line[0]) - 32) & 63;
        int produced = 0;
        for (qsizetype i = 1; i < line.size() && produced < len; i += 4) {
            auto at = [&](qsizetype k) { return k < line.size() ? (uchar(line[k]) - 32) & 63 : 0; };
            const int a = at(i), b = at(i + 1), c = at(i + 2), e = at(i + 3);
            const char bytes[3] = {char((a << 2) | (b >> 4)), char((b << 4) | (c >> 2)), char((c << 6) | e)};
            for (int k = 0; k < 3 && produced < len; ++k, ++produced)
                out += bytes[k];
        }
    }
    return out;
}

} // namespace zel
