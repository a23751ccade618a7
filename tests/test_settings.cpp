// The runtime settings file.
#include <gtest/gtest.h>

#include "platform/Paths.h"
#include "shell/RuntimeSettings.h"
#include "store/PasswordHash.h"

#include <QFile>
#include <QTemporaryDir>

using namespace zel;

namespace {
class SettingsTest : public ::testing::Test {
protected:
    void SetUp() override { setHomeFolder(dir_.path()); }
    void TearDown() override { setHomeFolder(QString()); }
    void writeFile(const QByteArray& text) {
        QFile f(settingsFilePath());
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(text);
    }
    QByteArray readFile() {
        QFile f(settingsFilePath());
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
    }
    QTemporaryDir dir_;
};
} // namespace

TEST_F(SettingsTest, FirstRunDefaults) {
    LoadSettings();
    const TRuntimeReg& r = RuntimeSettings();
    EXPECT_TRUE(r.catalogueName.isEmpty());
    EXPECT_FALSE(r.rememberLogin);
    EXPECT_FALSE(r.showProperty); // reading stopped at the missing "1003"
    EXPECT_EQ(r.width, 0);
    EXPECT_EQ(r.language, QStringLiteral("english.lng"));
}

TEST_F(SettingsTest, RoundTripInFixedOrderOwnerOnly) {
    TRuntimeReg& r = RuntimeSettings();
    r = TRuntimeReg{};
    r.catalogueName = QStringLiteral("Notes \u00E9");
    r.userCode = QStringLiteral("admin");
    r.password = QStringLiteral("p=w\\x");
    r.rememberLogin = true;
    r.language = QStringLiteral("german.lng");
    r.showProperty = true;
    r.skinFile = QStringLiteral("/skins/a.qss");
    r.windowState = 1;
    r.left = -5;
    r.top = 7;
    r.width = 800;
    r.height = 600;
    r.indexWidth = 250;
    r.editMode = true;
    r.newDocumentMessage = true;
    r.mailRoll = true;
    ASSERT_TRUE(SaveSettings());
    const auto perms = QFile::permissions(settingsFilePath());
    EXPECT_TRUE(perms.testFlags(QFileDevice::ReadOwner | QFileDevice::WriteOwner));
    EXPECT_FALSE(perms &
                 (QFileDevice::ReadGroup | QFileDevice::WriteGroup | QFileDevice::ReadOther | QFileDevice::WriteOther));
    const QList<QByteArray> lines = readFile().split('\n');
    QList<QByteArray> names;
    for (const QByteArray& l : lines)
        if (l.contains('=')) names << l.left(l.indexOf('='));
    EXPECT_EQ(names, (QList<QByteArray>{"1004", "1001", "1002", "1003", "EditModal", "NewMsg", "ShowProperty",
                                        "SHowMailRoll", "skinfile", "language", "Windowstate", "Left", "Top", "Width",
                                        "Height", "pnlindexWidth"}));
    EXPECT_FALSE(readFile().contains("p=w")); // the password is stored scrambled

    const TRuntimeReg saved = r;
    r = TRuntimeReg{};
    LoadSettings();
    EXPECT_EQ(r.catalogueName, saved.catalogueName);
    EXPECT_EQ(r.userCode, QStringLiteral("admin"));
    EXPECT_EQ(r.password, QStringLiteral("p=w\\x"));
    EXPECT_TRUE(r.rememberLogin);
    EXPECT_EQ(r.language, QStringLiteral("german.lng"));
    EXPECT_EQ(r.skinFile, saved.skinFile);
    EXPECT_EQ(r.left, -5);
    EXPECT_EQ(r.height, 600);
    EXPECT_EQ(r.indexWidth, 250);
    EXPECT_TRUE(r.editMode);
    EXPECT_TRUE(r.newDocumentMessage);
    EXPECT_TRUE(r.mailRoll);
    EXPECT_TRUE(r.showProperty);
}

TEST_F(SettingsTest, ReadingStopsAtTheFirstMissingOrBadNumber) {
    writeFile("[ZEL]\n1004=KB\n1003=false\nShowProperty=false\nlanguage=x.lng\nWindowstate=1\nLeft=10\n"
              "Top=oops\nWidth=300\nHeight=200\nEditModal=true\n");
    LoadSettings([](const QString& name) { return name == QStringLiteral("x.lng"); });
    const TRuntimeReg& r = RuntimeSettings();
    EXPECT_EQ(r.catalogueName, QStringLiteral("KB"));
    EXPECT_FALSE(r.showProperty);
    EXPECT_EQ(r.language, QStringLiteral("x.lng"));
    EXPECT_EQ(r.windowState, 1);
    EXPECT_EQ(r.left, 10);
    EXPECT_EQ(r.top, 0);
    EXPECT_EQ(r.width, 0);
    EXPECT_FALSE(r.editMode);
}

TEST_F(SettingsTest, RememberedLoginThatDoesNotUnscrambleIsDropped) {
    writeFile("[ZEL]\n1004=KB\n1003=true\n1001=garbage\n1002=garbage\n");
    LoadSettings([](const QString&) { return false; });
    EXPECT_FALSE(RuntimeSettings().rememberLogin);
    EXPECT_TRUE(RuntimeSettings().password.isEmpty());
    EXPECT_EQ(RuntimeSettings().language, QStringLiteral("english.lng")); // missing language file
}
