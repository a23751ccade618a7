// Creating, listing and opening knowledge bases through the catalogue.
#include <gtest/gtest.h>

#include "platform/Paths.h"
#include "shell/RuntimeSettings.h"
#include "store/KnowledgeBase.h"
#include "store/Schema.h"
#include "support/TestKb.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>

using namespace zel;

namespace {
class KnowledgeBaseTest : public ::testing::Test {
protected:
    void SetUp() override {
        setHomeFolder(home_.path());
        RuntimeSettings() = TRuntimeReg{};
        catalogue_.LoadCatalogue(catalogueFilePath());
    }
    void TearDown() override {
        main_.close();
        setHomeFolder(QString());
    }
    CatalogueEntry fileEntry(const QString& name, const QString& file) {
        return CatalogueEntry::make(0, name, home_.path() + "/kbs", file, QString(), QString());
    }
    QTemporaryDir home_;
    Catalogue catalogue_;
    Database main_;
};
} // namespace

TEST_F(KnowledgeBaseTest, NewFileKnowledgeBaseGetsTheExtensionAndIsListed) {
    QString error;
    ASSERT_TRUE(NewKnowledgeBase(catalogue_, fileEntry("  Notes  ", "notes"), "boss", "pw", &error))
        << error.toStdString();
    EXPECT_TRUE(QFile::exists(home_.path() + "/kbs/notes.skm"));
    Catalogue back;
    ASSERT_TRUE(back.LoadCatalogue(catalogueFilePath()));
    ASSERT_EQ(back.entries().size(), 1);
    EXPECT_EQ(back.entries()[0].nameText(), QString("Notes"));
    EXPECT_EQ(back.entries()[0].databaseText(), QString("notes.skm"));

    // Same name again, or a file that is already there: refused, nothing listed.
    EXPECT_FALSE(NewKnowledgeBase(catalogue_, fileEntry("Notes", "other"), "boss", "pw", &error));
    EXPECT_FALSE(NewKnowledgeBase(catalogue_, fileEntry("Other", "notes.skm"), "boss", "pw", &error));
    EXPECT_EQ(error, QString("Fail cretae database,Please check the database file to have already exsited?"));
    EXPECT_FALSE(NewKnowledgeBase(catalogue_, fileEntry("Third", "third"), "", "pw", &error)); // no administrator
    EXPECT_FALSE(QFile::exists(home_.path() + "/kbs/third.skm"));
    CatalogueEntry withPassword = fileEntry("Fourth", "fourth");
    withPassword.password = "secret"; // a protection SQLite files cannot give
    EXPECT_FALSE(NewKnowledgeBase(catalogue_, withPassword, "boss", "pw", &error));
    EXPECT_FALSE(QFile::exists(home_.path() + "/kbs/fourth.skm"));
    EXPECT_EQ(catalogue_.entries().size(), 1);
    // A name differing only in letter case is another name.
    EXPECT_TRUE(NewKnowledgeBase(catalogue_, fileEntry("notes", "n2"), "boss", "pw", &error));
}

TEST_F(KnowledgeBaseTest, OpenChecksLoginAndSwitchesTheMainConnection) {
    QString error;
    ASSERT_TRUE(NewKnowledgeBase(catalogue_, fileEntry("Notes", "notes"), "boss", "pw", &error));
    ASSERT_TRUE(NewKnowledgeBase(catalogue_, fileEntry("Gone", "gone"), "boss", "pw", &error));
    QFile::remove(home_.path() + "/kbs/gone.skm");

    EXPECT_EQ(OpenKnowledgeBase(main_, catalogue_, "Missing", "boss", true, false, false, "pw").status,
              OpenStatus::NoEntry);
    EXPECT_EQ(OpenKnowledgeBase(main_, catalogue_, "Gone", "boss", true, false, false, "pw").status,
              OpenStatus::ConnectFailed);
    EXPECT_EQ(OpenKnowledgeBase(main_, catalogue_, "Notes", "boss", true, false, false, "PW").status,
              OpenStatus::WrongPassword);
    EXPECT_EQ(OpenKnowledgeBase(main_, catalogue_, "Notes", "bossy", true, false, false, "pw").status,
              OpenStatus::UnknownUser);
    EXPECT_FALSE(main_.isOpen());
    EXPECT_TRUE(RuntimeSettings().catalogueName.isEmpty()); // failures remember nothing

    ASSERT_TRUE(OpenKnowledgeBase(main_, catalogue_, "Notes", "boss", true, false, true, "pw").ok());
    EXPECT_TRUE(main_.isOpen());
    EXPECT_EQ(SchemaVersion(main_), kSchemaVersion);
    EXPECT_EQ(CurrentUser().code, QString("boss"));
    // Not silent: the login is remembered and saved.
    RuntimeSettings() = TRuntimeReg{};
    LoadSettings();
    EXPECT_EQ(RuntimeSettings().catalogueName, QString("Notes"));
    EXPECT_EQ(RuntimeSettings().userCode, QString("boss"));
    EXPECT_TRUE(RuntimeSettings().rememberLogin);
    EXPECT_EQ(RuntimeSettings().password, QString("pw"));

    // Silent opening saves nothing.
    RuntimeSettings().catalogueName = "unchanged";
    ASSERT_TRUE(OpenKnowledgeBase(main_, catalogue_, "Notes", "boss", false, true, false, "pw").ok());
    EXPECT_EQ(RuntimeSettings().catalogueName, QString("unchanged"));
}

TEST_F(KnowledgeBaseTest, DefaultKnowledgeBaseIsMadeOnceAndListedOnce) {
    ASSERT_TRUE(CreateDefaultKnowledgeBase(catalogue_, "admin", ""));
    const QString file = home_.path() + "/data/DefaultKM.skm";
    ASSERT_TRUE(QFile::exists(file));
    ASSERT_TRUE(CreateDefaultKnowledgeBase(catalogue_, "admin", ""));
    ASSERT_EQ(catalogue_.entries().size(), 1);
    EXPECT_EQ(catalogue_.entries()[0].nameText(), QString("Default knowledge base"));
    EXPECT_EQ(catalogue_.entries()[0].serverNameText(), home_.path() + "/data/");
    EXPECT_EQ(catalogue_.entries()[0].databaseText(), QString("DefaultKM.skm"));
    const OpenResult r = OpenKnowledgeBase(main_, catalogue_, "Default knowledge base", "admin", true, true, false, "");
    ASSERT_TRUE(r.ok());
    EXPECT_TRUE(CurrentUser().administrator);
}

TEST(ServerKnowledgeBase, CreateOnTheServerAndOpen) {
    if (!test::postgresAvailable()) {
        if (!qEnvironmentVariable("CI").isEmpty()) FAIL() << "ZEL_TEST_PG is not set under CI";
        GTEST_SKIP() << "no PostgreSQL test server";
    }
    QTemporaryDir home;
    setHomeFolder(home.path());
    Catalogue cat;
    cat.LoadCatalogue(catalogueFilePath());
    const QString dbName = QString("zel_kb_%1_Mixed").arg(QCoreApplication::applicationPid());
    const CatalogueEntry e = CatalogueEntry::make(1, "Team", test::postgresServer(), dbName, test::postgresUser(), "");
    QString error;
    ASSERT_TRUE(NewKnowledgeBase(cat, e, "boss", "pw", &error)) << error.toStdString();
    // The database exists: a second creation is refused with the server's message.
    EXPECT_FALSE(NewKnowledgeBase(
        cat, CatalogueEntry::make(1, "Team2", test::postgresServer(), dbName, test::postgresUser(), ""), "boss", "pw",
        &error));
    EXPECT_EQ(error.left(24), QString("Fail cretae database! Pl"));
    Database main;
    ASSERT_TRUE(OpenKnowledgeBase(main, cat, "Team", "boss", true, true, false, "pw").ok());
    ASSERT_TRUE(UpgradeSchema(main));
    EXPECT_EQ(SchemaVersion(main), kSchemaVersion);
    main.close();
    test::ScratchDb::dropServerDatabase(dbName);
    setHomeFolder(QString());
}
