// The scrambled password form and the password hashes.
#include <gtest/gtest.h>

#include "store/PasswordHash.h"

#include <QList>

using namespace zel;

TEST(ScramblePassword, FormLayout) {
    const QString empty = ScramblePassword(QString());
    ASSERT_EQ(empty.size(), 150);
    EXPECT_EQ(empty[0].unicode(), 6);
    for (int i = 13; i < 150; ++i)
        EXPECT_EQ(empty[i].unicode(), 1) << i; // the last 137 characters
    QString back = QStringLiteral("x");
    ASSERT_TRUE(UnscramblePassword(empty, &back));
    EXPECT_TRUE(back.isEmpty());

    // "?" and "_" have all five low bits set: their second half is 32.
    const QString form = ScramblePassword(QStringLiteral("a?_"));
    EXPECT_EQ(form[0].unicode(), 9);
    EXPECT_EQ(form[13].unicode(), 'a' / 32);
    EXPECT_EQ(form[14].unicode(), 'a' % 32 + 1);
    EXPECT_EQ(form[15].unicode(), '?' / 32);
    EXPECT_EQ(form[16].unicode(), 32);
    EXPECT_EQ(form[18].unicode(), 32);
    ASSERT_TRUE(UnscramblePassword(form, &back));
    EXPECT_EQ(back, QStringLiteral("a?_"));

    const QString longest(68, u'z');
    const QString full = ScramblePassword(longest);
    EXPECT_EQ(full[0].unicode(), 74);
    EXPECT_EQ(full[148].unicode(), 'z' % 32 + 1);
    EXPECT_EQ(full[149].unicode(), 1);
    ASSERT_TRUE(UnscramblePassword(full, &back));
    EXPECT_EQ(back, longest);
}

TEST(ScramblePassword, RejectsMalformedForms) {
    QString out;
    const QString good = ScramblePassword(QStringLiteral("pw"));
    QString high = good;
    high[20] = QChar(33);
    const QList<QString> bad{QString(), good.left(149), good + u'\1', high};
    for (const QString& f : bad)
        EXPECT_FALSE(UnscramblePassword(f, &out));
}

TEST(PasswordHash, VerifiesHashesAndOldScrambledValues) {
    const QString hash = HashPassword(QStringLiteral("S\u00E9cret"));
    EXPECT_TRUE(IsPasswordHash(hash));
    EXPECT_LE(hash.size(), 150);
    EXPECT_NE(hash, HashPassword(QStringLiteral("S\u00E9cret"))); // salted
    bool rehash = true;
    EXPECT_TRUE(VerifyPassword(hash, QStringLiteral("S\u00E9cret"), &rehash));
    EXPECT_FALSE(rehash);
    EXPECT_FALSE(VerifyPassword(hash, QStringLiteral("s\u00E9cret")));
    EXPECT_FALSE(VerifyPassword(hash, QString()));

    const QString old = ScramblePassword(QStringLiteral("Secret"));
    EXPECT_TRUE(VerifyPassword(old, QStringLiteral("Secret"), &rehash));
    EXPECT_TRUE(rehash);
    EXPECT_FALSE(VerifyPassword(old, QStringLiteral("secret")));
    EXPECT_FALSE(VerifyPassword(QStringLiteral("$pbkdf2-sha256$x$y"), QStringLiteral("x")));
    EXPECT_FALSE(VerifyPassword(QStringLiteral("not a stored value"), QStringLiteral("not a stored value")));
}

TEST(PasswordHash, CostIsRecordedSoOlderCostsStillVerify) {
    const int saved = passwordHashIterations();
    setPasswordHashIterations(500);
    const QString cheap = HashPassword(QStringLiteral("pw"));
    EXPECT_TRUE(cheap.startsWith(QStringLiteral("$pbkdf2-sha256$500$")));
    setPasswordHashIterations(2000);
    bool rehash = false;
    EXPECT_TRUE(VerifyPassword(cheap, QStringLiteral("pw"), &rehash));
    EXPECT_TRUE(rehash);
    setPasswordHashIterations(saved);
}
