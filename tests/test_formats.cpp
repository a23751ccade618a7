// Compressed stream, field text detection and code-page conversion.
#include <gtest/gtest.h>

#include "platform/CodePage.h"
#include "store/Compression.h"
#include "store/FieldText.h"

#include <QList>
#include <QtEndian>
#include <zlib.h>

using namespace zel;

TEST(CompressStream, EmptyStaysEmptyBothWays) {
    EXPECT_TRUE(CompressStream({}).isEmpty());
    bool ok = false;
    EXPECT_TRUE(DecompressStream({}, &ok).isEmpty());
    EXPECT_TRUE(ok);
}

TEST(CompressStream, LayoutIsLengthThenZlib) {
    const QByteArray data = QByteArray("hello, knowledge base ").repeated(50);
    const QByteArray c = CompressStream(data);
    ASSERT_GT(c.size(), 6);
    EXPECT_EQ(qFromLittleEndian<quint32>(c.constData()), quint32(data.size()));
    // The rest is a plain zlib stream that zlib itself expands.
    QByteArray out(data.size(), '\0');
    uLongf len = uLongf(out.size());
    ASSERT_EQ(uncompress(reinterpret_cast<Bytef*>(out.data()), &len, reinterpret_cast<const Bytef*>(c.constData() + 4),
                         uLong(c.size() - 4)),
              Z_OK);
    EXPECT_EQ(out, data);
    bool ok = false;
    EXPECT_EQ(DecompressStream(c, &ok), data);
    EXPECT_TRUE(ok);
}

TEST(CompressStream, DataThatDoesNotExpandIsReturnedAsStored) {
    const QByteArray good = CompressStream(QByteArray(1000, 'x'));
    QByteArray wrongLength = good;
    qToLittleEndian<quint32>(5000, wrongLength.data()); // announces more than the stream holds
    QByteArray corrupt = good;
    corrupt[6] = char(corrupt[6] ^ 0x55);
    const QList<QByteArray> cases{QByteArray("<html>plain text, never compressed</html>"), QByteArray("\x01\x02", 2),
                                  wrongLength, corrupt, good.left(good.size() / 2)};
    for (const QByteArray& in : cases) {
        bool ok = true;
        EXPECT_EQ(DecompressStream(in, &ok), in);
        EXPECT_FALSE(ok);
    }
}

TEST(ReadFieldText, DecidesBetweenUtf8AndCodePage) {
    struct Case {
        QByteArray bytes;
        bool utf8;
        QString text;
    };
    const QList<Case> cases{
        {"plain ascii", false, QStringLiteral("plain ascii")},
        {"Caf\xC3\xA9", true, QStringLiteral("Caf\u00E9")},
        {"\xE4\xB8\xAD\xE6\x96\x87", true, QStringLiteral("\u4E2D\u6587")},
        {"Caf\xE9", false, QStringLiteral("Caf\u00E9")},                         // code page
        {"\x80 euro", false, QStringLiteral("\u20AC euro")},                     // 0x80 cannot lead
        {"\xF0\x9F\x98\x80", false, QStringLiteral("\u00F0\u0178\u02DC\u20AC")}, // four-byte lead is refused
        {"\xC3(", false, QStringLiteral("\u00C3(")},                             // bad continuation
        {"\xC3\xA9\xC3", true, QString()},                                       // last byte is not examined
        {"ab\xC3", false, QStringLiteral("ab\u00C3")},                           // ...and alone proves nothing
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.bytes.toHex().toStdString());
        EXPECT_EQ(FieldLooksLikeUtf8(c.bytes), c.utf8);
        if (!c.text.isNull()) {
            EXPECT_EQ(ReadFieldText(c.bytes), c.text);
        }
    }
}

TEST(CodePage, Windows1252RoundTripAndBomDetection) {
    const QString text = QStringLiteral("Na\u00EFve \u20AC \u201Cquotes\u201D");
    const QByteArray cp = toSystemCodePage(text);
    EXPECT_EQ(cp.size(), text.size());
    EXPECT_EQ(fromSystemCodePage(cp), text);

    const QString sample = QStringLiteral("<p>\u00C9t\u00E9 \u4E2D</p>");
    EXPECT_EQ(decodeWithBom(encodeUtf16LeWithBom(sample)), sample);
    EXPECT_EQ(decodeWithBom(QByteArray("\xEF\xBB\xBF", 3) + sample.toUtf8()), sample);
    QByteArray be("\xFE\xFF", 2);
    for (const QChar c : sample) {
        be.append(char(c.unicode() >> 8));
        be.append(char(c.unicode() & 0xFF));
    }
    EXPECT_EQ(decodeWithBom(be), sample);
    EXPECT_EQ(decodeWithBom(QByteArray("caf\xE9", 4)), QStringLiteral("caf\u00E9"));
}
