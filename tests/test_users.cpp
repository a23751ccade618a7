// Login, users, per-user settings and bookmarks, on both databases.
#include <gtest/gtest.h>

#include "store/Nodes.h"
#include "store/PasswordHash.h"
#include "store/Schema.h"
#include "store/Users.h"
#include "support/TestKb.h"

using namespace zel;
using zel::test::DbTest;

namespace {

class UsersTest : public DbTest {
protected:
    void SetUp() override {
        DbTest::SetUp();
        if (IsSkipped() || HasFatalFailure()) return;
        createSchema();
        CurrentUser() = TuserReg{};
    }
    QString storedPassword(const QString& code) {
        return db()
            .scalar(QStringLiteral("select u_password from userinfo where u_code=:c"), {{QStringLiteral(":c"), code}})
            .toString();
    }
};

} // namespace

TEST_P(UsersTest, LoginCases) {
    TuserReg bob;
    bob.code = QStringLiteral("bob");
    bob.password = QStringLiteral("Secret");
    ASSERT_GT(AddUser(db(), bob), 0);
    struct Case {
        QString code, password;
        LoginStatus expected;
    };
    const QList<Case> cases{
        {QStringLiteral("admin"), QString(), LoginStatus::Ok},
        {QStringLiteral("admin"), QStringLiteral(" "), LoginStatus::WrongPassword},
        {QStringLiteral("bob"), QStringLiteral("Secret"), LoginStatus::Ok},
        {QStringLiteral("BOB"), QStringLiteral("Secret"), LoginStatus::Ok}, // codes compare as the database does
        {QStringLiteral("bob"), QStringLiteral("secret"), LoginStatus::WrongPassword},
        {QStringLiteral("carol"), QStringLiteral("Secret"), LoginStatus::UnknownUser},
        {QStringLiteral("bob' or '1'='1"), QString(), LoginStatus::UnknownUser},
    };
    for (const Case& c : cases)
        EXPECT_EQ(LoginCheck(db(), c.code, c.password, false), c.expected) << c.code.toStdString();
    EXPECT_EQ(LoginMessage(LoginStatus::UnknownUser, QStringLiteral("carol")),
              QStringLiteral("carol is not a valid user"));
    EXPECT_EQ(LoginMessage(LoginStatus::WrongPassword, QStringLiteral("bob")), QStringLiteral("bob password Error"));
}

TEST_P(UsersTest, LoginLoadsTheUserAndUpgradesAScrambledPassword) {
    ASSERT_TRUE(db().exec(QStringLiteral("update userinfo set u_password=:p,u_indexcontent=42,u_showhide='Y',"
                                         "u_background=7 where u_code='admin'"),
                          {{QStringLiteral(":p"), ScramblePassword(QStringLiteral("old pw"))}}));
    EXPECT_EQ(LoginCheck(db(), QStringLiteral("admin"), QStringLiteral("wrong"), true), LoginStatus::WrongPassword);
    EXPECT_FALSE(IsPasswordHash(storedPassword(QStringLiteral("admin"))));
    ASSERT_EQ(LoginCheck(db(), QStringLiteral("admin"), QStringLiteral("old pw"), true), LoginStatus::Ok);
    const TuserReg& u = CurrentUser();
    EXPECT_EQ(u.code, QStringLiteral("admin"));
    EXPECT_EQ(u.name, QStringLiteral("Administrator"));
    EXPECT_EQ(u.password, QStringLiteral("old pw"));
    EXPECT_EQ(u.sortOrder, 6);
    EXPECT_EQ(u.defaultDocument, QStringLiteral("42"));
    EXPECT_TRUE(u.showHidden);
    EXPECT_TRUE(u.administrator);
    EXPECT_EQ(u.background, QStringLiteral("7"));
    const QString stored = storedPassword(QStringLiteral("admin"));
    EXPECT_TRUE(IsPasswordHash(stored));
    EXPECT_EQ(LoginCheck(db(), QStringLiteral("admin"), QStringLiteral("old pw"), false), LoginStatus::Ok);
}

TEST_P(UsersTest, ManageUsers) {
    TuserReg rec;
    rec.code = QStringLiteral("bob");
    rec.password = QStringLiteral("pw");
    const qint64 id = AddUser(db(), rec);
    ASSERT_GT(id, 0);
    Query q(db(),
            QStringLiteral("select u_name,u_description,u_admin,logincount,showwelcome from userinfo where id=:id"),
            {{QStringLiteral(":id"), id}});
    ASSERT_TRUE(q.next());
    EXPECT_EQ(q.text(0), QStringLiteral(" "));
    EXPECT_EQ(q.text(1), QStringLiteral(" "));
    EXPECT_TRUE(q.value(2).isNull());
    EXPECT_EQ(q.integer(3), 0);
    EXPECT_EQ(q.text(4), QStringLiteral("Y"));

    EXPECT_TRUE(IsUserCodeTaken(db(), 0, QStringLiteral("Bob")));
    EXPECT_FALSE(IsUserCodeTaken(db(), id, QStringLiteral("bob")));
    EXPECT_FALSE(IsUserCodeTaken(db(), 0, QStringLiteral("carol")));

    rec.code = QStringLiteral("robert");
    rec.name = QStringLiteral("Robert \"Bob\" O'Neil");
    ASSERT_TRUE(UpdateUser(db(), id, rec));
    EXPECT_EQ(FindUserId(db(), QStringLiteral("robert")), id);
    EXPECT_EQ(LoginCheck(db(), QStringLiteral("robert"), QStringLiteral("pw"), false), LoginStatus::Ok);
    ASSERT_TRUE(SetUserPassword(db(), QStringLiteral("robert"), QStringLiteral("new")));
    EXPECT_EQ(LoginCheck(db(), QStringLiteral("robert"), QStringLiteral("pw"), false), LoginStatus::WrongPassword);
    EXPECT_EQ(LoginCheck(db(), QStringLiteral("robert"), QStringLiteral("new"), false), LoginStatus::Ok);

    ASSERT_EQ(LoginCheck(db(), QStringLiteral("robert"), QStringLiteral("new"), true), LoginStatus::Ok);
    ASSERT_GT(AddBookmark(db(), 5), 0);
    ASSERT_TRUE(DeleteUser(db(), id));
    EXPECT_EQ(FindUserId(db(), QStringLiteral("robert")), 0);
    EXPECT_EQ(db().scalar(QStringLiteral("select count(*) from userbookmark")).toLongLong(), 1); // bookmarks stay
    EXPECT_EQ(ListUsers(db()).size(), 1);
}

TEST_P(UsersTest, SettingsDefaultsAndSave) {
    TuserReg rec;
    rec.code = QStringLiteral("bob");
    rec.password = QStringLiteral("pw");
    ASSERT_GT(AddUser(db(), rec), 0);
    ASSERT_EQ(LoginCheck(db(), QStringLiteral("bob"), QStringLiteral("pw"), true), LoginStatus::Ok);
    LoadUserSettings(db(), QStringLiteral("bob"));
    TuserReg& u = CurrentUser();
    EXPECT_TRUE(u.mailAtLogin);
    EXPECT_EQ(u.mailInterval, 30);
    EXPECT_EQ(u.markTime, 5);
    EXPECT_EQ(u.externalEditor, QStringLiteral("FRONTPG.EXE"));
    EXPECT_TRUE(u.showWelcome);
    EXPECT_EQ(u.loginCount, 0);

    u.mailInterval = -1;
    u.mailAtLogin = false;
    u.markTime = 12;
    u.background = QStringLiteral("link://document/__zel_@cid:/3");
    ASSERT_TRUE(SaveUserSettings(db()));
    ASSERT_TRUE(SetUserSortOrder(db(), 3));
    ASSERT_TRUE(SetDefaultDocument(db(), QStringLiteral("17")));
    ASSERT_TRUE(SetShowWelcome(db(), QStringLiteral("bob"), false));
    CurrentUser() = TuserReg{};
    ASSERT_EQ(LoginCheck(db(), QStringLiteral("bob"), QStringLiteral("pw"), true), LoginStatus::Ok);
    LoadUserSettings(db(), QStringLiteral("bob"));
    EXPECT_EQ(u.mailInterval, -1);
    EXPECT_FALSE(u.mailAtLogin);
    EXPECT_EQ(u.markTime, 12);
    EXPECT_EQ(u.background, QStringLiteral("link://document/__zel_@cid:/3"));
    EXPECT_EQ(u.sortOrder, 3);
    EXPECT_EQ(u.defaultDocument, QStringLiteral("17"));
    EXPECT_FALSE(u.showWelcome);
    EXPECT_EQ(u.loginCount, 1);
}

TEST_P(UsersTest, BookmarksListCaptionAndPath) {
    ASSERT_EQ(LoginCheck(db(), QStringLiteral("admin"), QString(), true), LoginStatus::Ok);
    Tinfoproperty a;
    a.caption = QStringLiteral("A");
    const QString ida = InsertNode(db(), a, QStringLiteral("0"));
    Tinfoproperty b;
    b.caption = QStringLiteral("B \u00E9");
    const QString idb = InsertNode(db(), b, ida);
    ASSERT_FALSE(idb.isEmpty());
    const qint64 bm = AddBookmark(db(), idb.toLongLong());
    ASSERT_GT(bm, 0);
    const auto list = FillBookmarkList(db());
    ASSERT_EQ(list.size(), 1);
    EXPECT_EQ(list[0].caption, QStringLiteral("B \u00E9"));
    EXPECT_EQ(list[0].path, QStringLiteral("/A/B \u00E9.htm"));
    EXPECT_EQ(list[0].nodeId, idb.toLongLong());
    ASSERT_TRUE(DeleteBookmark(db(), bm));
    EXPECT_TRUE(FillBookmarkList(db()).isEmpty());
}

ZEL_INSTANTIATE_DB_TEST(UsersTest);
