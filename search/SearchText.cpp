#include "search/SearchText.h"

#include "platform/CodePage.h"
#include "platform/Paths.h"
#include "shell/Strings.h"

#include <QFile>
#include <QLocale>
#include <QSaveFile>
#include <algorithm>

namespace zel {

namespace {

const QString kRedDots = QStringLiteral("<font color=\"#FF0000\">...</font>");

bool isSeparator(QChar c) {
    return c == u' ' || c == u'&' || c == u'+' || c == u'-';
}

QString esc(const QString& s) {
    return s.toHtmlEscaped();
}

QString dateText(const QDateTime& dt) {
    if (!dt.isValid()) return {};
    return QLocale().toString(dt.date(), QLocale::LongFormat) + u',' + dt.toString(QStringLiteral("hh:mm:ss"));
}

QString blinking(const char* colour, int ident) {
    return QStringLiteral("<p><font color=\"%1\"><blink>").arg(QLatin1String(colour)) + GetString(ident) +
           QStringLiteral("</blink></font></p>");
}

} // namespace

QString FoldCase(QString text) {
    // One pass: ASCII letters directly, other characters by their single-character lower case. Only
    // surrogate pairs and U+0130 (whose lower case is two characters) need the full conversion.
    const qsizetype n = text.size();
    const auto* p = reinterpret_cast<const char16_t*>(text.constData());
    qsizetype first = 0;
    while (first < n && p[first] < 0x80 && !(p[first] >= u'A' && p[first] <= u'Z'))
        ++first;
    if (first == n) return text;
    QChar* d = text.data();
    for (qsizetype i = first; i < n; ++i) {
        const char16_t c = d[i].unicode();
        if (c < 0x80) {
            if (c >= u'A' && c <= u'Z') d[i] = QChar(char16_t(c + 32));
        } else if (QChar::isSurrogate(c) || c == 0x130) {
            return std::move(text).toLower();
        } else {
            d[i] = QChar(char16_t(QChar::toLower(char32_t(c))));
        }
    }
    return text;
}

SearchWords SplitSearchWords(const QString& text, bool matchCase) {
    SearchWords out;
    bool exclude = false;
    qsizetype start = 0;
    auto take = [&](qsizetype end) {
        QString w = text.mid(start, end - start).trimmed();
        if (w.isEmpty()) return;
        if (!matchCase) w = FoldCase(std::move(w));
        (exclude ? out.exclude : out.include) << w;
    };
    for (qsizetype i = 0; i < text.size(); ++i) {
        if (!isSeparator(text[i])) continue;
        take(i);
        exclude = text[i] == u'-';
        start = i + 1;
    }
    take(text.size());
    return out;
}

QString BuildHaystack(const QString& fullName, const QString& caption, const QString& keywords, const QString& content,
                      bool includeFullName, bool matchCase) {
    QString h;
    h.reserve((includeFullName ? fullName.size() : 0) + caption.size() + keywords.size() + content.size());
    if (includeFullName) h += fullName;
    h += caption;
    h += keywords;
    h += content;
    return matchCase ? h : FoldCase(std::move(h));
}

bool MatchesWords(const QString& haystack, const SearchWords& words) {
    for (const QString& w : words.exclude)
        if (haystack.contains(w)) return false;
    for (const QString& w : words.include)
        if (!haystack.contains(w)) return false;
    return true;
}

QString RemoveTags(const QString& piece) {
    QString s = piece;
    for (;;) {
        const qsizetype g = s.indexOf(u'>');
        const qsizetype l = s.indexOf(u'<');
        if (g < 0 && l < 0) return s;
        if (g >= 0 && (l < 0 || g < l)) {
            s.remove(0, g + 1);
            continue;
        }
        const qsizetype close = s.indexOf(u'>', l);
        if (close >= 0)
            s.remove(l, close - l + 1);
        else
            s.truncate(l);
    }
}

QString BuildExcerpt(const QString& content, const QStringList& includeWords) {
    struct Hit {
        qsizetype p; // 1-based
        QString word;
    };
    std::vector<Hit> hits;
    for (const QString& w : includeWords) {
        const qsizetype at = content.indexOf(w);
        if (at < 0) continue;
        const Hit h{at + 1, w};
        // After every hit at the same place: the earlier word keeps its turn.
        const auto pos =
            std::upper_bound(hits.begin(), hits.end(), h.p, [](qsizetype p, const Hit& x) { return p < x.p; });
        hits.insert(pos, h);
    }

    // A piece of content from 1-based position a up to b-1; a negative span gives nothing.
    auto span = [&](qsizetype a, qsizetype b) {
        if (b - a <= 0) return QString();
        return esc(RemoveTags(content.mid(a - 1, b - a)));
    };
    QString out;
    std::vector<const Hit*> group;
    qsizetype start = 0, end = 0;
    auto emitGroup = [&]() {
        qsizetype s = start;
        if (s > 0)
            out += u' ' + kRedDots;
        else
            s = 1;
        for (const Hit* h : group) {
            out +=
                span(s, h->p) + QStringLiteral("<font color=\"#FF0000\">") + esc(h->word) + QStringLiteral("</font>");
            s = h->p + h->word.size();
        }
        out += span(s, end);
    };
    for (const Hit& h : hits) {
        if (h.p - 40 > end) {
            if (end > 0) emitGroup();
            group.clear();
            start = h.p - 40;
        }
        end = h.p + 40;
        group.push_back(&h);
    }
    if (!group.empty()) emitGroup();
    if (out.isEmpty()) out = esc(content.left(200));
    return out + kRedDots;
}

QString ResultEntryHtml(const SearchResultEntry& e) {
    const QString open = QStringLiteral("<font size=2 > <FONT color=#800000>");
    const QString mid = QStringLiteral(": </FOnt><FONT color=#008000> ");
    QString s;
    s += QStringLiteral("<div>");
    s += QStringLiteral("<h4><a href=\"link://document/") + QString::number(e.id) + QStringLiteral("\">") +
         QString::number(e.number) + QStringLiteral(": ") + esc(e.caption) + QStringLiteral("</a></h4>");
    s += QStringLiteral("<font size=2 > <p>  <FONT color=#800000>") + GetString(40465) +
         QStringLiteral(":    </FOnt><FONT color=#008000> ") + esc(e.fullName + e.caption) +
         QStringLiteral(" </Font> <br> ");
    s += open + GetString(40436) + mid + esc(e.keywords) + QStringLiteral("</Font><br>");
    s += open + GetString(40213) + mid + esc(dateText(e.created)) + QStringLiteral("</Font>");
    s += open + GetString(40214) + mid + esc(dateText(e.modified)) + QStringLiteral("</Font><br>");
    s += e.excerpt + QStringLiteral("</p> </font>");
    s += QStringLiteral("</div>");
    return s;
}

QString OpeningDataHtml() {
    return blinking("#0000FF", 41253);
}
QString SearchingHtml() {
    return blinking("#FF0000", 41186);
}
QString NoResultsHtml() {
    return blinking("#FF0000", 41038);
}

QString PageLabelText(int currentIndex, int pageCount) {
    QString t = GetString(41190);
    const qsizetype first = t.indexOf(QStringLiteral("%d"));
    if (first >= 0) t.replace(first, 2, QString::number(currentIndex + 1));
    const qsizetype second = t.indexOf(QStringLiteral("%d"));
    if (second >= 0) t.replace(second, 2, QString::number(pageCount));
    return t;
}

QString SearchTimeText(qint64 elapsedMs) {
    return GetString(40335) + u':' + QString::number(double(elapsedMs) / 1000.0, 'f', 2) + GetString(40304);
}

QStringList ReadSearchHistory(const QString& path) {
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly)) return {};
    const QString text = decodeWithBom(f.readAll());
    QStringList lines;
    qsizetype start = 0;
    for (qsizetype i = 0; i < text.size(); ++i) {
        const QChar c = text[i];
        if (c != u'\r' && c != u'\n') continue;
        lines << text.mid(start, i - start);
        if (c == u'\r' && i + 1 < text.size() && text[i + 1] == u'\n') ++i;
        start = i + 1;
    }
    if (start < text.size()) lines << text.mid(start);
    return lines;
}

bool WriteSearchHistory(const QString& path, const QStringList& items) {
    QString text;
    for (const QString& s : items)
        text += s + QStringLiteral("\r\n");
    QSaveFile f(path);
    if (!f.open(QIODevice::WriteOnly)) return false;
    f.write(encodeUtf16LeWithBom(text));
    return f.commit();
}

void AddToSearchHistory(QStringList& items, const QString& text) {
    if (items.contains(text)) return;
    if (items.size() > 1000) items.removeLast();
    items.prepend(text);
}

QString SearchHistoryPath() {
    return homeFolder() + QStringLiteral("SearchList.dat");
}

} // namespace zel
