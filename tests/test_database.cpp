// The database layer on both backends: values, parameters, transactions, streaming.
#include <gtest/gtest.h>

#include "platform/Dialect.h"
#include "support/TestKb.h"

#include <QDateTime>

using namespace zel;
using zel::test::DbTest;

namespace {
class DatabaseTest : public DbTest {
protected:
    void SetUp() override {
        DbTest::SetUp();
        if (IsSkipped() || HasFatalFailure()) return;
        ASSERT_TRUE(
            db().exec(dialect::columnTypes(db().dialect(), "create table t (" + dialect::idColumn(db().dialect()) +
                                                               "name varchar(50) null, n numeric null, "
                                                               "d datetime null, b " +
                                                               dialect::blobType(db().dialect()) + " null)")))
            << db().lastError().toStdString();
    }
    qint64 count() { return db().scalar("select count(*) from t").toLongLong(); }
};
} // namespace

TEST_P(DatabaseTest, ValuesRoundTrip) {
    QByteArray blob;
    for (int i = 0; i < 256; ++i)
        blob.append(char(i));
    const QDateTime when(QDate(2024, 2, 29), QTime(23, 59, 58));
    const qint64 id = db().insert("insert into t (name,n,d,b) values (:name,:n,:d,:b) returning id",
                                  {{":name", QString("O'Brien \"quoted\" \u00E9\u4E2D :notaparam")},
                                   {":n", qint64(1) << 40},
                                   {":d", when},
                                   {":b", blob}});
    ASSERT_GT(id, 0) << db().lastError().toStdString();
    Query q(db(), "select name,n,d,b,':x' as lit from t where id=:id", {{":id", id}});
    ASSERT_TRUE(q.next());
    EXPECT_EQ(q.text(0), QString("O'Brien \"quoted\" \u00E9\u4E2D :notaparam"));
    EXPECT_EQ(q.integer(1), qint64(1) << 40);
    EXPECT_EQ(dbDateTime(q.value(2)), when);
    EXPECT_EQ(q.value(3).toByteArray(), blob);
    EXPECT_EQ(q.text(4), QString(":x")); // placeholders inside literals are left alone
    EXPECT_EQ(q.columnIndex("NAME"), 0);
    EXPECT_FALSE(q.next());

    // Null and empty values, one parameter used twice, an unbound one read as null.
    ASSERT_GT(db().insert("insert into t (name,b) values (:v,:empty) returning id", {{":empty", QByteArray("")}}), 0);
    Query nulls(db(), "select name,n,d from t where name is null and (n is null or n=:x) and (d is null or n=:x)",
                {{":x", 5}});
    ASSERT_TRUE(nulls.next());
    EXPECT_TRUE(nulls.value(0).isNull());
    EXPECT_TRUE(nulls.value(1).isNull());
}

TEST_P(DatabaseTest, NestedTransactionsRollBackOnlyTheirPart) {
    {
        Transaction outer(db());
        ASSERT_TRUE(outer.ok());
        ASSERT_TRUE(db().exec("insert into t (name) values ('kept')"));
        {
            Transaction inner(db());
            ASSERT_TRUE(db().exec("insert into t (name) values ('undone')"));
            EXPECT_FALSE(db().exec("insert into no_such_table values (1)")); // fails inside the savepoint
        }                                                                    // rolled back here
        EXPECT_EQ(count(), 1); // the connection is still usable, even on PostgreSQL
        ASSERT_TRUE(outer.commit());
    }
    EXPECT_EQ(db().scalar("select name from t").toString(), QString("kept"));
    {
        Transaction tx(db());
        ASSERT_TRUE(db().exec("delete from t"));
    } // never committed
    EXPECT_EQ(count(), 1);
    EXPECT_EQ(db().transactionDepth(), 0);
}

TEST_P(DatabaseTest, SecondConnectionSeesCommittedWorkOnly) {
    auto other = openAnother();
    Transaction tx(db());
    ASSERT_TRUE(db().exec("insert into t (name) values ('a')"));
    EXPECT_EQ(other->scalar("select count(*) from t").toLongLong(), 0);
    ASSERT_TRUE(tx.commit());
    EXPECT_EQ(other->scalar("select count(*) from t").toLongLong(), 1);
}

TEST_P(DatabaseTest, StreamingQueryReadsEveryRowAndFreesTheConnection) {
    Transaction tx(db());
    for (int i = 0; i < 500; ++i)
        ASSERT_TRUE(db().exec("insert into t (n) values (:n)", {{":n", i}}));
    ASSERT_TRUE(tx.commit());
    for (int stopAfter : {500, 10}) {
        Query q(db());
        q.prepare("select n from t order by n");
        q.setStreaming(true);
        ASSERT_TRUE(q.exec());
        int seen = 0;
        while (seen < stopAfter && q.next())
            EXPECT_EQ(q.integer(0), seen++);
        EXPECT_EQ(seen, stopAfter);
        if (stopAfter == 500) {
            EXPECT_FALSE(q.next());
        }
    }
    EXPECT_EQ(count(), 500); // a query left half read does not block the next statement
}

TEST_P(DatabaseTest, CaseInsensitiveAndPrefixConditions) {
    ASSERT_TRUE(db().exec("insert into t (name) values ('\u00C9t\u00E9 Notes'), ('/1/12/'), ('/1/123/'), ('/10/')"));
    const Dialect d = db().dialect();
    EXPECT_EQ(db().scalar("select count(*) from t where " + dialect::ciEquals(d, "name", ":v"),
                          {{":v", "\u00E9T\u00C9 notes"}})
                  .toLongLong(),
              1);
    EXPECT_EQ(db().scalar("select count(*) from t where " + dialect::prefixCondition(d, "name", ":p"),
                          {{":p", dialect::prefixPattern(d, "/1/")}})
                  .toLongLong(),
              2);
}

// A statement that failed and was not looked at must not let the transaction report success: on the
// server the whole transaction is gone, and its COMMIT answers "ROLLBACK" without an error.
TEST_P(DatabaseTest, CommitAfterAnIgnoredFailureIsNotSuccessOnTheServer) {
    {
        Transaction tx(db());
        ASSERT_TRUE(db().exec("insert into t (name) values ('kept?')"));
        EXPECT_FALSE(db().exec("select * from no_such_table"));
        if (db().dialect() == Dialect::Postgres) {
            EXPECT_FALSE(tx.commit());
            EXPECT_FALSE(db().lastError().isEmpty());
        } else {
            EXPECT_TRUE(tx.commit()) << "SQLite undoes only the failed statement";
        }
    }
    EXPECT_EQ(count(), db().dialect() == Dialect::Postgres ? 0 : 1);
    EXPECT_TRUE(db().exec("select 1")) << "the connection is usable afterwards";
}

// A transaction the server breaks off for a serialization failure or a deadlock is run again; any
// other failure ends it at once.
TEST_P(DatabaseTest, BrokenOffTransactionsAreRunAgain) {
    if (db().dialect() == Dialect::Sqlite) GTEST_SKIP() << "SQLite serialises writers instead";
    int runs = 0;
    const auto failFirst = [&](const char* state) {
        return [&, state] {
            ++runs;
            if (!db().exec("insert into t (name) values ('x')")) return false;
            if (runs == 1)
                db().exec(QStringLiteral("do $$ begin raise exception 'broken off' using errcode = '%1'; end $$")
                              .arg(QString::fromLatin1(state)));
            return true;
        };
    };
    for (const char* state : {"40001", "40P01"}) {
        runs = 0;
        EXPECT_TRUE(runTransaction(db(), failFirst(state))) << state;
        EXPECT_EQ(runs, 2) << state;
    }
    EXPECT_EQ(count(), 2) << "the first attempts left nothing behind";
    runs = 0;
    EXPECT_FALSE(runTransaction(db(), failFirst("23505")));
    EXPECT_EQ(runs, 1) << "other failures are not retried";
    EXPECT_EQ(count(), 2);
}

TEST(DatabaseOpen, RefusesWhatItCannotOpen) {
    Database db;
    EXPECT_FALSE(db.open("provider=MsDAORA.1; initial catalog=x; Data source=ora"));
    EXPECT_FALSE(db.lastError().isEmpty());
    EXPECT_FALSE(db.open("provider=Microsoft.Jet.OLEDB.4.0; Data source=/nonexistent/folder/kb.skm"));
    EXPECT_FALSE(db.open("provider=SQLOLEDb.1; initial catalog=x; Data source=127.0.0.1:1"));
    EXPECT_FALSE(db.isOpen());
    EXPECT_FALSE(db.exec("select 1"));
}

ZEL_INSTANTIATE_DB_TEST(DatabaseTest);
