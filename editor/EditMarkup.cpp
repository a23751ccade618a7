#include "editor/EditMarkup.h"

#include <QLocale>
#include <QRegularExpression>
#include <QStringList>

namespace zel {

QString AttrEscape(const QString& value) {
    QString out;
    out.reserve(value.size());
    for (QChar c : value) {
        switch (c.unicode()) {
        case u'&':
            out += QStringLiteral("&amp;");
            break;
        case u'"':
            out += QStringLiteral("&quot;");
            break;
        case u'\'':
            out += QStringLiteral("&#39;");
            break;
        case u'<':
            out += QStringLiteral("&lt;");
            break;
        case u'>':
            out += QStringLiteral("&gt;");
            break;
        default:
            out += c;
        }
    }
    return out;
}

QString DateTimeHtml(const QDateTime& now) {
    return QStringLiteral("<p><i><font size=\"4\"><b><font color=\"#000080\">&lt;") +
           now.toString(QStringLiteral("yyyy-MM-dd HH:mm:ss")) + QStringLiteral("&gt;</font></b></font></i></p>");
}

QString LetterSpacingOpenTag(int delta) {
    return QStringLiteral("<span style=\"letter-spacing : %1px \">").arg(delta);
}

QString ChangeLetterSpacing(const QString& style, int delta) {
    static const QRegularExpression re(QStringLiteral("(letter-spacing\\s*:\\s*)(-?\\d+(?:\\.\\d+)?)([a-zA-Z]{2})"),
                                       QRegularExpression::CaseInsensitiveOption);
    const QRegularExpressionMatch m = re.match(style);
    if (!m.hasMatch()) return style;
    const double n = m.captured(2).toDouble() + delta;
    QString out = style;
    out.replace(m.capturedStart(2), m.capturedLength(2), QString::number(n));
    return out;
}

QString BookmarkHtml(const QString& name, const QString& html, const QString& keptHref) {
    QString open = QStringLiteral("<a name=\"") + AttrEscape(name) + u'"';
    if (!keptHref.isEmpty()) open += QStringLiteral(" href=\"") + AttrEscape(keptHref) + u'"';
    return open + QStringLiteral(" style=\"") + QString::fromLatin1(kBookmarkStyle) + QStringLiteral("\">") + html +
           QStringLiteral("</a>");
}

QString LinkHtml(const QString& href, const QString& html, const QString& keptName) {
    QString open = QStringLiteral("<a href=\"") + AttrEscape(href) + u'"';
    if (!keptName.isEmpty())
        open += QStringLiteral(" name=\"") + AttrEscape(keptName) + QStringLiteral("\" style=\"") +
                QString::fromLatin1(kBookmarkStyle) + u'"';
    return open + u'>' + html + QStringLiteral("</a>");
}

QStringList ImageAlignValues() {
    return {QStringLiteral("default"),   QStringLiteral("left"),     QStringLiteral("right"),
            QStringLiteral("top"),       QStringLiteral("texttop"),  QStringLiteral("middle"),
            QStringLiteral("absmiddle"), QStringLiteral("baseline"), QStringLiteral("bottom"),
            QStringLiteral("absbottom"), QStringLiteral("center")};
}

QString ImageHtml(const ImageFields& f) {
    QString out = QStringLiteral("<img src=\"") + AttrEscape(f.src) + QStringLiteral("\" ");
    // The alternative text is quoted: unquoted, a space would end it and the rest become attributes.
    if (!f.alt.trimmed().isEmpty())
        out += QStringLiteral("alt=\"") + AttrEscape(f.alt.trimmed()) + QStringLiteral("\" ");
    if (!f.align.isEmpty() && f.align != QLatin1String("default"))
        out += QStringLiteral("align=") + AttrEscape(f.align) + u' ';
    out += QStringLiteral("border=%1 ").arg(f.border);
    if (f.hspace != 0) out += QStringLiteral("hspace=%1 ").arg(f.hspace);
    if (f.vspace != 0) out += QStringLiteral("vspace=%1 ").arg(f.vspace);
    return out + QStringLiteral(" >");
}

QString ReadImgSrc(const QString& outerHtml) {
    QString s = outerHtml;
    s.replace(QStringLiteral("%20"), QStringLiteral(" "));
    s.replace(u'\r', u' ').replace(u'\n', u' ');
    int at = 0;
    for (;;) {
        at = s.indexOf(QStringLiteral(" src"), at, Qt::CaseInsensitive);
        if (at < 0) return {};
        int i = at + 4;
        while (i < s.size() && s[i] == u' ')
            ++i;
        if (i < s.size() && s[i] == u'=') {
            ++i;
            while (i < s.size() && s[i] == u' ')
                ++i;
            if (i >= s.size()) return {};
            const QChar q = s[i];
            if (q == u'"' || q == u'\'') {
                const int end = s.indexOf(q, i + 1);
                if (end < 0) return s.mid(i + 1, s.size() - (i + 1) - 1);
                return s.mid(i + 1, end - i - 1);
            }
            const int end = s.indexOf(u' ', i);
            if (end < 0) return s.mid(i, s.size() - i - 1);
            return s.mid(i, end - i);
        }
        at += 4;
    }
}

QString KiloBytes(qint64 bytes) {
    return QLocale().toString((bytes + 999) / 1000);
}

} // namespace zel
