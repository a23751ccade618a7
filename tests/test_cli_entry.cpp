// zel-cli on a fresh machine and with names that the catalogue or a path URL cannot hold.
#include <gtest/gtest.h>

#include "shell/Strings.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>

namespace {

struct CliRun {
    int status = -1;
    QString out, err;
};

CliRun cli(const QString& home, const QStringList& args) {
    QProcess p;
    p.start(QStringLiteral(ZEL_CLI_PATH), QStringList{QStringLiteral("--home"), home} + args);
    EXPECT_TRUE(p.waitForFinished(60000));
    return {p.exitCode(), QString::fromUtf8(p.readAllStandardOutput()), QString::fromUtf8(p.readAllStandardError())};
}

QStringList newKb(const QString& name, const QString& folder) {
    return {QStringLiteral("kb"),
            QStringLiteral("new"),
            name,
            QStringLiteral("--folder"),
            folder,
            QStringLiteral("--file"),
            QStringLiteral("notes"),
            QStringLiteral("--admin"),
            QStringLiteral("admin")};
}

TEST(CliEntry, FreshMachineMakesTheHomeFolder) {
    QTemporaryDir base;
    const QString home = base.path() + QStringLiteral("/not/yet/there");
    const CliRun r = cli(home, newKb(QStringLiteral("Notes"), base.path() + QStringLiteral("/kbs")));
    EXPECT_EQ(r.status, 0) << r.err.toStdString();
    EXPECT_TRUE(QFile::exists(home + QStringLiteral("/datalink.dat")));
    const CliRun list = cli(home, {QStringLiteral("kb"), QStringLiteral("list")});
    EXPECT_TRUE(list.out.startsWith(QStringLiteral("Notes\t"))) << list.out.toStdString();
}

TEST(CliEntry, UnsavableCatalogueLeavesNoFileBehind) {
    QTemporaryDir base;
    // The home "folder" is a file: the catalogue cannot be written there.
    const QString home = base.path() + QStringLiteral("/home");
    QFile blocker(home);
    ASSERT_TRUE(blocker.open(QIODevice::WriteOnly));
    blocker.close();
    const QString folder = base.path() + QStringLiteral("/kbs");
    CliRun r = cli(home, newKb(QStringLiteral("Notes"), folder));
    EXPECT_NE(r.status, 0);
    EXPECT_FALSE(QFile::exists(folder + QStringLiteral("/notes.skm")));
    // Once the home can be written, the same command succeeds (no "already exists" left over).
    ASSERT_TRUE(QFile::remove(home));
    r = cli(home, newKb(QStringLiteral("Notes"), folder));
    EXPECT_EQ(r.status, 0) << r.err.toStdString();
}

TEST(CliEntry, NamesTheCatalogueCannotHoldAreRefused) {
    QTemporaryDir home;
    const QString fifty = QString(25, QChar(0x00E4)); // 50 bytes in UTF-8: fits
    CliRun r = cli(home.path(), newKb(fifty, home.path() + QStringLiteral("/a")));
    EXPECT_EQ(r.status, 0) << r.err.toStdString();
    r = cli(home.path(), newKb(fifty + u'x', home.path() + QStringLiteral("/b")));
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err.trimmed(), zel::GetString(40751));
    EXPECT_FALSE(QFile::exists(home.path() + QStringLiteral("/b/notes.skm")));
}

TEST(CliEntry, AttachmentNamesWithPathSeparatorsAreRefused) {
    QTemporaryDir home;
    ASSERT_EQ(cli(home.path(), newKb(QStringLiteral("K"), home.path() + QStringLiteral("/k"))).status, 0);
    const QStringList session{QStringLiteral("-k"),    QStringLiteral("K"),  QStringLiteral("-u"),
                              QStringLiteral("admin"), QStringLiteral("-p"), QString()};
    const CliRun node = cli(home.path(), session + QStringList{QStringLiteral("node"), QStringLiteral("add"),
                                                               QStringLiteral("0"), QStringLiteral("Doc")});
    ASSERT_EQ(node.status, 0) << node.err.toStdString();
    const QString id = node.out.trimmed();
    const QString file = home.path() + QStringLiteral("/a.txt");
    QFile f(file);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write("hello");
    f.close();
    for (const char* name : {"../x.txt", "a\\b.txt"}) {
        const CliRun r =
            cli(home.path(), session + QStringList{QStringLiteral("attach"), QStringLiteral("add"), id, file,
                                                   QStringLiteral("--name"), QString::fromLatin1(name)});
        EXPECT_EQ(r.status, 1) << name;
        EXPECT_TRUE(r.err.contains(QStringLiteral("Stmble"))) << r.err.toStdString();
    }
    const CliRun ok = cli(home.path(), session + QStringList{QStringLiteral("attach"), QStringLiteral("add"), id, file,
                                                             QStringLiteral("--name"), QStringLiteral("b.txt")});
    ASSERT_EQ(ok.status, 0) << ok.err.toStdString();
    const CliRun rename = cli(home.path(), session + QStringList{QStringLiteral("attach"), QStringLiteral("rename"),
                                                                 ok.out.trimmed(), QStringLiteral("c/d.txt")});
    EXPECT_EQ(rename.status, 1);
    const CliRun ls = cli(home.path(), session + QStringList{QStringLiteral("attach"), QStringLiteral("ls"), id});
    EXPECT_TRUE(ls.out.contains(QStringLiteral("\tb.txt\t"))) << ls.out.toStdString();
}

} // namespace
