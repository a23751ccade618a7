// What the editing commands paste: exact forms, escaping of user values, and the picture source rule.
#include <QDateTime>
#include <gtest/gtest.h>

#include "editor/EditMarkup.h"

namespace zel::test {
namespace {

TEST(EditMarkup, ExactInsertions) {
    const QDateTime t(QDate(2026, 3, 4), QTime(5, 6, 7));
    EXPECT_EQ(DateTimeHtml(t), QStringLiteral("<p><i><font size=\"4\"><b><font color=\"#000080\">&lt;2026-03-04 "
                                              "05:06:07&gt;</font></b></font></i></p>"));
    EXPECT_EQ(QString::fromLatin1(kLineHtml), QStringLiteral("<hr>"));
    EXPECT_EQ(LetterSpacingOpenTag(1), QStringLiteral("<span style=\"letter-spacing : 1px \">"));
    EXPECT_EQ(LetterSpacingOpenTag(-1), QStringLiteral("<span style=\"letter-spacing : -1px \">"));
    EXPECT_EQ(BookmarkHtml(QStringLiteral("top"), QStringLiteral("<b>x</b>")),
              QStringLiteral("<a name=\"top\" style=\"text-decoration: underline; font-weight: bold; color: "
                             "#800080\"><b>x</b></a>"));
    EXPECT_EQ(LinkHtml(QStringLiteral("Http://a.b/?q=1&r=2"), QStringLiteral("x")),
              QStringLiteral("<a href=\"Http://a.b/?q=1&amp;r=2\">x</a>"));
    // An edited anchor keeps its other attribute.
    EXPECT_EQ(LinkHtml(QStringLiteral("#b"), QStringLiteral("x"), QStringLiteral("n")),
              QStringLiteral("<a href=\"#b\" name=\"n\" style=\"text-decoration: underline; font-weight: bold; "
                             "color: #800080\">x</a>"));
    EXPECT_EQ(BookmarkHtml(QStringLiteral("n"), QStringLiteral("x"), QStringLiteral("#b")),
              QStringLiteral("<a name=\"n\" href=\"#b\" style=\"text-decoration: underline; font-weight: bold; "
                             "color: #800080\">x</a>"));
}

TEST(EditMarkup, UserValuesCannotLeaveTheirAttribute) {
    const QString evil = QStringLiteral("a\" onmouseover=\"x()\"><script>1</script>'");
    for (const QString& html : {BookmarkHtml(evil, QStringLiteral("t")), LinkHtml(evil, QStringLiteral("t")),
                                ImageHtml({evil, evil, QString(), 0, 0, 0})}) {
        EXPECT_FALSE(html.contains(QStringLiteral("\" onmouseover"))) << html.toStdString();
        EXPECT_FALSE(html.contains(QStringLiteral("<script"))) << html.toStdString();
        EXPECT_FALSE(html.contains(u'\'')) << html.toStdString();
    }
    EXPECT_EQ(AttrEscape(QStringLiteral("<&\">'")), QStringLiteral("&lt;&amp;&quot;&gt;&#39;"));
}

TEST(EditMarkup, PictureForms) {
    EXPECT_EQ(ImageHtml({QStringLiteral("link://a/p.png"), QString(), QString(), 0, 0, 0}),
              QStringLiteral("<img src=\"link://a/p.png\" border=0  >"));
    EXPECT_EQ(ImageHtml({QStringLiteral("p.png"), QStringLiteral(" two words "), QStringLiteral("absmiddle"), 2, 3, 4}),
              QStringLiteral("<img src=\"p.png\" alt=\"two words\" align=absmiddle border=2 hspace=3 vspace=4  >"));
    EXPECT_EQ(ImageHtml({QStringLiteral("p.png"), QString(), QStringLiteral("default"), 1, 0, 5}),
              QStringLiteral("<img src=\"p.png\" border=1 vspace=5  >"));
    EXPECT_EQ(ImageAlignValues().size(), 11);
    EXPECT_EQ(ImageAlignValues().first(), QStringLiteral("default"));
    EXPECT_EQ(ImageAlignValues().last(), QStringLiteral("center"));
}

TEST(EditMarkup, SourceOfAPicture) {
    const struct {
        const char* outer;
        const char* src;
    } cases[] = {
        {"<img src=\"a b.png\" alt=x>", "a b.png"},
        {"<img alt='q' SRC = 'c%20d.png' border=0>", "c d.png"},
        {"<img src=plain.png border=0>", "plain.png"},
        {"<img\nsrc=\"nl.png\">", "nl.png"},
        {"<img data-src=\"no\" src=\"yes.png\">", "yes.png"},   // "src" must follow a space
        {"<img srcset=\"x 1x\" src=\"real.png\">", "real.png"}, // its next non-blank must be "="
        {"<img src=\"open.png>", "open.png"},                   // no closing quote: to the end less one
        {"<img src=last>", "last"},                             // no space: to the end less one
        {"<img alt=x>", ""},
    };
    for (const auto& c : cases)
        EXPECT_EQ(ReadImgSrc(QString::fromLatin1(c.outer)), QString::fromLatin1(c.src)) << c.outer;
}

TEST(EditMarkup, LetterSpacingNumberChanges) {
    const struct {
        const char* style;
        int delta;
        const char* out;
    } cases[] = {
        {"letter-spacing : 1px ", 1, "letter-spacing : 2px "},
        {"color: red; letter-spacing:3pt", -1, "color: red; letter-spacing:2pt"},
        {"letter-spacing: 0px", -1, "letter-spacing: -1px"},
        {"color: red", 1, "color: red"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(ChangeLetterSpacing(QString::fromLatin1(c.style), c.delta), QString::fromLatin1(c.out)) << c.style;
}

} // namespace
} // namespace zel::test
