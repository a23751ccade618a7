#pragma once

#include <QDateTime>
#include <QString>

namespace zel {

// Markup that the editing commands paste into a document. Every value that comes from the user is
// escaped for a double-quoted attribute, so a quote or an angle bracket cannot end the tag.
QString AttrEscape(const QString& value);

// "DateTime": the time in angle brackets (shown as text), bold, dark blue, size 4, italic.
QString DateTimeHtml(const QDateTime& now);
inline constexpr const char* kLineHtml = "<hr>";
// The span that "Grow/Sink Font Space" wraps a selection in, for a change of delta pixels.
QString LetterSpacingOpenTag(int delta);
// A letter-spacing style with its number (in front of a two-letter unit) changed by delta; the style
// unchanged when it has no such number.
QString ChangeLetterSpacing(const QString& style, int delta);

inline constexpr const char* kBookmarkStyle = "text-decoration: underline; font-weight: bold; color: #800080";
// A named anchor (bookmark) or a link around html; the other attribute of an edited anchor stays.
QString BookmarkHtml(const QString& name, const QString& html, const QString& keptHref = QString());
QString LinkHtml(const QString& href, const QString& html, const QString& keptName = QString());

// The picture property dialog's values.
struct ImageFields {
    QString src, alt, align; // align: "" for the default
    int border = 0, hspace = 0, vspace = 0;
};
QString ImageHtml(const ImageFields& f);
// The src value read from a picture's outer HTML ("%20" read as spaces first).
QString ReadImgSrc(const QString& outerHtml);
// The alignment values in list order; position 0 is "default".
QStringList ImageAlignValues();

// A document size for the status bar in thousands of bytes, "#,##0" with the locale's separators.
QString KiloBytes(qint64 bytes);

} // namespace zel
