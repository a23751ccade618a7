// Mail accounts on both databases: every field round-trips, the inbox folder and its mark follow the
// accounts, flags and ports read as stored by older versions.
#include <gtest/gtest.h>

#include "mail/MailAccounts.h"
#include "store/Nodes.h"
#include "store/PasswordHash.h"
#include "store/Users.h"
#include "support/TestKb.h"

using namespace zel;
using zel::test::DbTest;

namespace {

class MailAccountsTest : public DbTest {
protected:
    void SetUp() override {
        DbTest::SetUp();
        if (IsSkipped() || HasFatalFailure()) return;
        createSchema();
        CurrentUser() = TuserReg{};
        CurrentUser().code = QStringLiteral("admin");
        CurrentUser().name = QStringLiteral("Admin");
    }
    TMailReg sample(const QString& name) {
        TMailReg r;
        r.name = name;
        r.description = QStringLiteral("desc 'quoted'");
        r.organization = QStringLiteral("Org");
        r.mailAddress = name + QStringLiteral("@example.org");
        r.replyAddress = QStringLiteral("reply@example.org");
        r.pop3 = QStringLiteral("pop.example.org");
        r.smtp = QStringLiteral("smtp.example.org");
        r.pop3Port = 995;
        r.smtpPort = 587;
        r.popAccount = QStringLiteral("user");
        r.popPassword = QStringLiteral("pässword");
        r.authSmtp = true;
        r.authSmtpSamePop = false;
        r.smtpAccount = QStringLiteral("smtpuser");
        r.smtpPassword = QStringLiteral("smtp pw");
        r.directSend = false;
        r.requestReceipt = true;
        r.keepOnServer = true;
        r.pop3Tls = MailTls::Tls;
        r.smtpTls = MailTls::None;
        r.allowPlain = true;
        r.caFile = QStringLiteral("/tmp/ca.pem");
        return r;
    }
    QString inboxFlag(const QString& id) {
        return db()
            .scalar(QStringLiteral("select inbox from info where id=:id"), {{QStringLiteral(":id"), id.toLongLong()}})
            .toString();
    }
};

} // namespace

TEST_P(MailAccountsTest, EveryFieldIsStoredAndReadBack) {
    TMailReg r = sample(QStringLiteral("Work"));
    const QString id = InsertAccount(db(), r, QStringLiteral("admin"));
    ASSERT_FALSE(id.isEmpty()) << db().lastError().toStdString();
    const TMailReg back = LoadAccount(db(), QStringLiteral("Work"), QStringLiteral("admin"));
    EXPECT_EQ(back.id, id);
    EXPECT_EQ(back.description, r.description);
    EXPECT_EQ(back.organization, r.organization);
    EXPECT_EQ(back.mailAddress, r.mailAddress);
    EXPECT_EQ(back.replyAddress, r.replyAddress);
    EXPECT_EQ(back.pop3, r.pop3);
    EXPECT_EQ(back.smtp, r.smtp);
    EXPECT_EQ(back.pop3Port, 995);
    EXPECT_EQ(back.smtpPort, 587);
    EXPECT_EQ(back.popAccount, r.popAccount);
    EXPECT_EQ(back.popPassword, r.popPassword);
    EXPECT_TRUE(back.rememberPassword);
    EXPECT_FALSE(back.authSmtpSamePop);
    EXPECT_EQ(back.smtpAccount, r.smtpAccount);
    EXPECT_EQ(back.smtpPassword, r.smtpPassword);
    EXPECT_FALSE(back.directSend);
    EXPECT_TRUE(back.requestReceipt);
    EXPECT_TRUE(back.keepOnServer);
    EXPECT_EQ(back.pop3Tls, MailTls::Tls);
    EXPECT_EQ(back.smtpTls, MailTls::None);
    EXPECT_TRUE(back.allowPlain);
    EXPECT_EQ(back.caFile, r.caFile);
    // Stored scrambled, never as typed.
    const QString stored = db().scalar(QStringLiteral("select poppassword from mailinfo where id=:id"),
                                       {{QStringLiteral(":id"), id.toLongLong()}})
                               .toString();
    EXPECT_NE(stored, r.popPassword);
    QString un;
    ASSERT_TRUE(UnscramblePassword(stored, &un));
    EXPECT_EQ(un, r.popPassword);
    // Another user does not see it by name; ids find it.
    EXPECT_TRUE(LoadAccount(db(), QStringLiteral("Work"), QStringLiteral("bob")).isEmpty());
    EXPECT_EQ(LoadAccountById(db(), id).name, QStringLiteral("Work"));

    TMailReg changed = back;
    changed.name = QStringLiteral("Work 2");
    changed.pop3Tls = MailTls::StartTls;
    changed.rememberPassword = false;
    changed.authSmtpSamePop = true;
    ASSERT_TRUE(UpdateAccount(db(), changed, id));
    const TMailReg after = LoadAccountById(db(), id);
    EXPECT_EQ(after.name, QStringLiteral("Work 2"));
    EXPECT_EQ(after.pop3Tls, MailTls::StartTls);
    EXPECT_FALSE(after.rememberPassword);
    // Not remembered: nothing stored, and SMTP with the POP3 login gets the same empty password.
    EXPECT_TRUE(after.popPassword.isEmpty());
    EXPECT_TRUE(after.smtpPassword.isEmpty());
    EXPECT_EQ(after.smtpAccount, QStringLiteral("user"));
}

TEST_P(MailAccountsTest, InboxFolderIsFoundOrMadeAndItsMarkFollowsTheAccounts) {
    TMailReg a = sample(QStringLiteral("Home"));
    ASSERT_FALSE(InsertAccount(db(), a, QStringLiteral("admin")).isEmpty());
    EXPECT_EQ(GetNodeCaption(db(), a.incomingId), QStringLiteral("Inbox of Home"));
    EXPECT_EQ(inboxFlag(a.incomingId), QStringLiteral("Y"));

    // A second account of the same name elsewhere reuses the live folder; its letter case does not matter.
    ASSERT_TRUE(RenameNode(db(), QStringLiteral("inbox of home"), a.incomingId));
    ASSERT_TRUE(db().exec(QStringLiteral("delete from mailinfo")));
    TMailReg b = sample(QStringLiteral("Home"));
    ASSERT_FALSE(InsertAccount(db(), b, QStringLiteral("admin")).isEmpty());
    EXPECT_EQ(b.incomingId, a.incomingId);
    TMailReg c = sample(QStringLiteral("Other"));
    c.incomingId = b.incomingId;
    ASSERT_FALSE(InsertAccount(db(), c, QStringLiteral("admin")).isEmpty());
    EXPECT_EQ(c.incomingId, b.incomingId);

    ASSERT_TRUE(DeleteAccount(db(), b.id));
    EXPECT_EQ(inboxFlag(b.incomingId), QStringLiteral("Y")); // still used by c
    ASSERT_TRUE(DeleteAccount(db(), c.id));
    EXPECT_EQ(inboxFlag(b.incomingId), QStringLiteral("N"));
    EXPECT_EQ(GetNodeCaption(db(), b.incomingId), QStringLiteral("inbox of home")); // the folder stays

    // A deleted folder of that name is not reused.
    ASSERT_TRUE(db().exec(QStringLiteral("update info set hasdelete='Y' where id=:id"),
                          {{QStringLiteral(":id"), b.incomingId.toLongLong()}}));
    TMailReg d = sample(QStringLiteral("Home"));
    ASSERT_FALSE(InsertAccount(db(), d, QStringLiteral("admin")).isEmpty());
    EXPECT_NE(d.incomingId, b.incomingId);

    // Moving an account to another folder moves the mark.
    TMailReg e = sample(QStringLiteral("E"));
    ASSERT_FALSE(InsertAccount(db(), e, QStringLiteral("admin")).isEmpty());
    e.incomingId = d.incomingId;
    const QString oldFolder = LoadAccountById(db(), e.id).incomingId;
    ASSERT_TRUE(UpdateAccount(db(), e, e.id));
    EXPECT_EQ(inboxFlag(oldFolder), QStringLiteral("N"));
    EXPECT_EQ(inboxFlag(d.incomingId), QStringLiteral("Y"));
}

TEST_P(MailAccountsTest, OlderRowsReadWithTheirEmptyValueRules) {
    // A row as older versions left it: empty flags, ports 0 and null, no security row.
    ASSERT_TRUE(db().exec(QStringLiteral("insert into mailinfo (usercode,name,pop3,pop3port,remberpassword,directsend,"
                                         "backupmail,authsmtp,authsmtpsamepop,incomingid) values ('admin','Old',"
                                         "'h',0,'','','',null,'',5)")));
    const TMailReg r = LoadAccount(db(), QStringLiteral("Old"), QStringLiteral("admin"));
    ASSERT_FALSE(r.isEmpty());
    EXPECT_EQ(r.pop3Port, 110);
    EXPECT_EQ(r.smtpPort, 25);
    EXPECT_TRUE(r.rememberPassword);
    EXPECT_TRUE(r.directSend);
    EXPECT_TRUE(r.authSmtp);
    EXPECT_TRUE(r.authSmtpSamePop);
    EXPECT_FALSE(r.keepOnServer);
    EXPECT_FALSE(r.requestReceipt);
    EXPECT_TRUE(r.popPassword.isEmpty());
    EXPECT_EQ(r.incomingId, QStringLiteral("5"));
    // Without a security row: STARTTLS, nothing in plain text.
    EXPECT_EQ(r.pop3Tls, MailTls::StartTls);
    EXPECT_FALSE(r.allowPlain);

    // Names are unique over all users; a quote in a name is just text.
    EXPECT_TRUE(IsAccountNameTaken(db(), QStringLiteral("0"), QStringLiteral("Old")));
    EXPECT_FALSE(IsAccountNameTaken(db(), r.id, QStringLiteral("Old")));
    EXPECT_FALSE(IsAccountNameTaken(db(), QStringLiteral("0"), QStringLiteral("Old' or '1'='1")));
}

ZEL_INSTANTIATE_DB_TEST(MailAccountsTest);
