// Schema creation, upgrade of older knowledge bases and the mail system folders, on both databases.
#include <gtest/gtest.h>

#include "platform/CodePage.h"
#include "platform/Dialect.h"
#include "shell/RuntimeSettings.h"
#include "store/Compression.h"
#include "store/Nodes.h"
#include "store/Schema.h"
#include "support/TestKb.h"

using namespace zel;
using zel::test::DbTest;

namespace {

class SchemaTest : public DbTest {
protected:
    QStringList columns(const QString& table) {
        bool ok = false;
        QStringList c = ProbeColumns(db(), table, &ok);
        for (QString& s : c)
            s = s.toLower();
        EXPECT_TRUE(ok) << table.toStdString();
        return c;
    }
    qint64 count(const QString& sql, const Params& p = {}) { return db().scalar(sql, p).toLongLong(); }
    void exec(const QString& sql) {
        ASSERT_TRUE(db().exec(sql)) << sql.toStdString() << ": " << db().lastError().toStdString();
    }
    QString blob() { return dialect::blobType(db().dialect()); }
    QString idCol() { return dialect::idColumn(db().dialect()); }
    QString ddl(const QString& s) { return dialect::columnTypes(db().dialect(), s); }
};

} // namespace

TEST_P(SchemaTest, CreatesEveryTableWithItsColumnsAndTheAdministrator) {
    createSchema();
    const QList<std::pair<QString, QStringList>> expected{
        {QStringLiteral("info"),
         {"id",       "hasdelete", "parentnode",  "fullpath",   "fullname",  "caption",      "background", "actor",
          "sorttype", "haschild",  "haspassword", "hashide",    "haszip",    "filesize",     "browsemode", "inbox",
          "mailid",   "mailtype",  "createdate",  "modifydate", "icon",      "selectedicon", "stateicon",  "mimeid",
          "key_word", "memotext",  "readtype",    "d_password", "fontcolor", "content"}},
        {QStringLiteral("accessories"),
         {"id", "hasdelete", "infoid", "filename", "filesize", "haszip", "createtime", "lasttime", "document"}},
        {QStringLiteral("userinfo"),
         {"id", "u_code", "u_name", "u_password", "u_description", "u_admin", "u_sorttype", "u_indexcontent",
          "u_showhide", "u_haspassword", "u_right", "automailtime", "marktime", "rsmailatlogin", "exefile",
          "background", "logincount", "showwelcome", "u_background"}},
        {QStringLiteral("userrole"), {"id", "u_rolename", "u_description", "u_right"}},
        {QStringLiteral("userbookmark"), {"id", "u_code", "infoid"}},
        {QStringLiteral("mailinfo"), {"id",           "usercode",       "descript",     "name",
                                      "organization", "mailaddress",    "replyaddress", "pop3",
                                      "smtp",         "pop3port",       "smtpport",     "popaccount",
                                      "poppassword",  "remberpassword", "authsmtp",     "authsmtpsamepop",
                                      "smtpaccount",  "smtppassword",   "directsend",   "reqreceipt",
                                      "backupmail",   "incomingid"}},
        {QStringLiteral("mail"),
         {"id", "subject", "mailaddress", "replyaddress", "priority", "cclist", "bcclist", "reciept", "directsend",
          "hasdelete", "received", "sent", "bookmark", "anonymity", "account"}},
        {QStringLiteral("mailrule"), {"id", "usercode", "name", "relation", "applay"}},
        {QStringLiteral("mailrulecondition"), {"id", "ruleid", "type", "include", "relation", "keyword"}},
        {QStringLiteral("mailruleaction"), {"id", "ruleid", "type", "keyword"}},
        {QStringLiteral("linkman"), {"id", "name", "mailaddress", "address", "tele"}},
        {QStringLiteral("linkgroup"), {"id", "name"}},
        {QStringLiteral("mailuserlink"), {"id", "linkmanid", "linkgroupid"}},
        {QStringLiteral("systeminfo"), {"s_version", "outbox", "sendbox"}},
    };
    for (const auto& [table, cols] : expected) {
        SCOPED_TRACE(table.toStdString());
        QStringList want;
        for (const QString& c : cols)
            want << c;
        EXPECT_EQ(columns(table), want);
    }
    EXPECT_EQ(SchemaVersion(db()), kSchemaVersion);
    Query q(db(), QStringLiteral("select u_code,u_name,u_admin,u_sorttype,u_description,logincount,showwelcome "
                                 "from userinfo"));
    ASSERT_TRUE(q.next());
    EXPECT_EQ(q.text(0), QStringLiteral("admin"));
    EXPECT_EQ(q.text(1), QStringLiteral("Administrator"));
    EXPECT_EQ(q.text(2), QStringLiteral("Y"));
    EXPECT_EQ(q.integer(3), 6);
    EXPECT_EQ(q.text(4), QStringLiteral("management knowledge base user"));
    EXPECT_TRUE(q.value(5).isNull());
    EXPECT_TRUE(q.value(6).isNull());
    EXPECT_FALSE(q.next());
    // Ids are numbered by the database.
    EXPECT_GT(db().insert(QStringLiteral("insert into linkgroup (name) values ('a') returning id")), 0);
}

TEST_P(SchemaTest, CreateSchemaTwiceFailsAndLeavesTheFirstIntact) {
    createSchema();
    EXPECT_FALSE(CreateSchema(db(), QStringLiteral("other"), QString()));
    EXPECT_EQ(count(QStringLiteral("select count(*) from userinfo")), 1);
}

TEST_P(SchemaTest, FailedCreateLeavesNoTables) {
    exec(QStringLiteral("create table systeminfo (x int)")); // makes the last create fail
    EXPECT_FALSE(CreateSchema(db(), QStringLiteral("admin"), QString()));
    bool ok = true;
    ProbeColumns(db(), QStringLiteral("info"), &ok);
    EXPECT_FALSE(ok);
}

TEST_P(SchemaTest, UpgradesAHandMadeOldKnowledgeBase) {
    // The first version: a head column, no mail columns, no memo, no systeminfo row; old user table.
    exec(ddl(QStringLiteral("create table info (") + idCol() +
             QStringLiteral("hasdelete varchar(1) null,parentnode numeric null,fullpath varchar(120) null,"
                            "fullname varchar(255) null,caption varchar(120) null,background numeric null,"
                            "actor varchar(20) null,sorttype int null,haschild varchar(1) null,"
                            "haspassword varchar(1) null,hashide varchar(1) null,createdate datetime null,"
                            "modifydate datetime null,key_word varchar(200) null,head varchar(255) null,content ") +
             blob() + QStringLiteral(" null)")));
    exec(ddl(QStringLiteral("create table accessories (") + idCol() +
             QStringLiteral("hasdelete varchar(1) null,infoid numeric null,filename varchar(120) null,document ") +
             blob() + QStringLiteral(" null)")));
    exec(ddl(QStringLiteral("create table userinfo (") + idCol() +
             QStringLiteral("u_code varchar(50) null,u_name varchar(50) null,u_password varchar(150) null,"
                            "u_admin varchar(1) null,u_sorttype int null,u_indexcontent numeric null,"
                            "u_background numeric null)")));
    exec(ddl(QStringLiteral("create table userbookmark (") + idCol() +
             QStringLiteral("u_code varchar(50) null,infoid numeric null)")));
    exec(QStringLiteral("create table systeminfo (s_version varchar(50) null)"));
    const QByteArray bodyLess = CompressStream(QByteArray("<p>old text</p>"));
    const QByteArray withBody = CompressStream(QByteArray("<HTML><BODY>kept</BODY></HTML>"));
    const qint64 a = db().insert(
        QStringLiteral("insert into info (parentnode,fullpath,fullname,caption,head,content) "
                       "values (0,'/','/','A',:h,:c) returning id"),
        {{QStringLiteral(":h"), QStringLiteral("<title>Caf\u00E9</title>")}, {QStringLiteral(":c"), bodyLess}});
    const qint64 b = db().insert(QStringLiteral("insert into info (parentnode,fullpath,fullname,caption,head,content) "
                                                "values (0,'/','/','B','<title>x</title>',:c) returning id"),
                                 {{QStringLiteral(":c"), withBody}});

    int steps = 0, maximum = -1;
    Progress progress;
    progress.start = [&](const QString&, int max) { maximum = max; };
    progress.step = [&](int n) {
        steps += n;
        return true;
    };
    ASSERT_TRUE(UpgradeSchema(db(), progress)) << db().lastError().toStdString();
    EXPECT_EQ(maximum, 2);
    EXPECT_EQ(steps, 2);

    const QStringList info = columns(QStringLiteral("info"));
    for (const char* c : {"inbox", "mailid", "mailtype", "readtype", "fontcolor", "d_password", "mimeid", "memotext"})
        EXPECT_TRUE(info.contains(QString::fromLatin1(c))) << c;
    EXPECT_FALSE(info.contains(QStringLiteral("head")));
    EXPECT_FALSE(info.contains(QStringLiteral("background")));
    const QStringList user = columns(QStringLiteral("userinfo"));
    for (const char* c :
         {"logincount", "showwelcome", "automailtime", "marktime", "rsmailatlogin", "exefile", "background"})
        EXPECT_TRUE(user.contains(QString::fromLatin1(c))) << c;
    EXPECT_TRUE(columns(QStringLiteral("systeminfo")).contains(QStringLiteral("outbox")));
    for (const char* t : {"mailinfo", "mail", "mailrule", "mailrulecondition", "mailruleaction", "linkman", "linkgroup",
                          "mailuserlink"})
        EXPECT_FALSE(columns(QString::fromLatin1(t)).isEmpty()) << t;
    EXPECT_EQ(SchemaVersion(db()), kSchemaVersion);

    auto content = [&](qint64 id) {
        return DecompressStream(
            db().scalar(QStringLiteral("select content from info where id=:id"), {{QStringLiteral(":id"), id}})
                .toByteArray());
    };
    EXPECT_EQ(content(a), QByteArray("<html>\r\n<head>\r\n</head>\r\n") +
                              toSystemCodePage(QStringLiteral("<title>Caf\u00E9</title>")) +
                              "\r\n<p>old text</p>\r\n</body>\r\n</html>\r\n");
    EXPECT_EQ(content(b), QByteArray("<HTML><BODY>kept</BODY></HTML>"));

    // The mail folders exist and systeminfo points at them.
    ASSERT_TRUE(LoadSystemFolders(db()));
    EXPECT_GT(RuntimeSettings().outboxNode, 0);
    EXPECT_GT(RuntimeSettings().sendboxNode, 0);
    EXPECT_EQ(db().scalar(QStringLiteral("select caption from info where id=:id"),
                          {{QStringLiteral(":id"), RuntimeSettings().sendboxNode}})
                  .toString(),
              QStringLiteral("Sent Items"));
}

TEST_P(SchemaTest, CurrentVersionIsNotProbed) {
    createSchema();
    // Drop a column the upgrade would add back: a knowledge base at the current version is left alone.
    exec(QStringLiteral("alter table info drop column memotext"));
    ASSERT_TRUE(UpgradeSchema(db()));
    EXPECT_FALSE(columns(QStringLiteral("info")).contains(QStringLiteral("memotext")));
    // ...until its version row says otherwise.
    exec(QStringLiteral("update systeminfo set s_version='1010'"));
    ASSERT_TRUE(UpgradeSchema(db()));
    EXPECT_TRUE(columns(QStringLiteral("info")).contains(QStringLiteral("memotext")));
    EXPECT_EQ(SchemaVersion(db()), kSchemaVersion);
}

TEST_P(SchemaTest, SystemFoldersAreRecreatedAfterTheirNodesArePurged) {
    createSchema();
    ASSERT_TRUE(UpgradeSchema(db()));
    ASSERT_TRUE(LoadSystemFolders(db()));
    const int outbox = RuntimeSettings().outboxNode, sent = RuntimeSettings().sendboxNode;
    ASSERT_GT(outbox, 0);
    EXPECT_EQ(count(QStringLiteral("select count(*) from info")), 2);
    // A second opening changes nothing.
    ASSERT_TRUE(UpgradeSchema(db()));
    EXPECT_EQ(count(QStringLiteral("select count(*) from info")), 2);

    exec(QStringLiteral("update info set hasdelete='D' where id=%1").arg(outbox));
    exec(QStringLiteral("delete from info where id=%1").arg(sent));
    ASSERT_TRUE(UpgradeSchema(db()));
    ASSERT_TRUE(LoadSystemFolders(db()));
    EXPECT_NE(RuntimeSettings().outboxNode, outbox);
    EXPECT_NE(RuntimeSettings().sendboxNode, sent);
    EXPECT_EQ(count(QStringLiteral("select count(*) from info where ") +
                    QStringLiteral("(hasdelete is null or (hasdelete<>'Y' and hasdelete<>'D'))")),
              2);
    Query q(db(), QStringLiteral("select caption,parentnode,fullpath,fullname,sorttype from info where id=:id"),
            {{QStringLiteral(":id"), RuntimeSettings().outboxNode}});
    ASSERT_TRUE(q.next());
    EXPECT_EQ(q.text(0), QStringLiteral("outbox"));
    EXPECT_EQ(q.integer(1), 0);
    EXPECT_EQ(q.text(2), QStringLiteral("/"));
    EXPECT_EQ(q.text(3), QStringLiteral("/"));
    EXPECT_EQ(q.integer(4), 1); // no live top-level node was left
}

TEST_P(SchemaTest, KnowledgeBaseWithoutSysteminfoFailsWithoutHalfAnUpgrade) {
    createSchema();
    exec(QStringLiteral("drop table systeminfo"));
    exec(QStringLiteral("alter table info drop column memotext"));
    EXPECT_FALSE(UpgradeSchema(db()));
    EXPECT_FALSE(columns(QStringLiteral("info")).contains(QStringLiteral("memotext")));
    EXPECT_EQ(count(QStringLiteral("select count(*) from info")), 0);
}

ZEL_INSTANTIATE_DB_TEST(SchemaTest);
