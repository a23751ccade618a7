#include "support/TestKb.h"

#include "platform/SqliteFile.h"
#include "store/Catalogue.h"
#include "store/KnowledgeBase.h"
#include "store/Schema.h"

#include <QCoreApplication>
#include <atomic>

namespace zel::test {

bool postgresAvailable() {
    return !qEnvironmentVariable("ZEL_TEST_PG").isEmpty();
}
QString postgresServer() {
    return qEnvironmentVariable("ZEL_TEST_PG");
}
QString postgresUser() {
    const QString u = qEnvironmentVariable("ZEL_TEST_PG_USER");
    return u.isEmpty() ? QStringLiteral("postgres") : u;
}

ScratchDb::ScratchDb(Dialect d) : dialect_(d) {
    static std::atomic<int> counter{0};
    if (d == Dialect::Sqlite) {
        dbName_ = QStringLiteral("test.skm");
        QString error;
        if (!createSqliteFile(folder() + dbName_, &error)) ADD_FAILURE() << error.toStdString();
        conn_ = BuildConnectionString(0, folder(), dbName_, QString(), QString());
        return;
    }
    dbName_ = QStringLiteral("zel_t_%1_%2").arg(QCoreApplication::applicationPid()).arg(counter++);
    Database server;
    if (!TryConnect(server, 1, postgresServer(), QString(), postgresUser(), QString())) {
        ADD_FAILURE() << "cannot reach the PostgreSQL test server: " << server.lastError().toStdString();
        return;
    }
    server.exec(QStringLiteral("drop database if exists ") + dbName_);
    if (!CreateServerDatabase(server, dbName_)) ADD_FAILURE() << server.lastError().toStdString();
    conn_ = BuildConnectionString(1, postgresServer(), dbName_, QString(), postgresUser());
}

ScratchDb::~ScratchDb() {
    if (dialect_ == Dialect::Postgres) dropServerDatabase(dbName_);
}

void ScratchDb::dropServerDatabase(const QString& name) {
    Database server;
    if (TryConnect(server, 1, postgresServer(), QString(), postgresUser(), QString()))
        server.exec(QStringLiteral("drop database if exists \"") + name + QStringLiteral("\" with (force)"));
}

QString ScratchDb::serverName() const {
    return dialect_ == Dialect::Sqlite ? folder() : postgresServer();
}

void DbTest::SetUp() {
    if (GetParam() == Dialect::Postgres && !postgresAvailable()) {
        if (!qEnvironmentVariable("CI").isEmpty()) FAIL() << "ZEL_TEST_PG is not set under CI";
        GTEST_SKIP() << "no PostgreSQL test server (set ZEL_TEST_PG)";
    }
    scratch_ = std::make_unique<ScratchDb>(GetParam());
    db_ = std::make_unique<Database>();
    ASSERT_TRUE(db_->open(scratch_->connectionString())) << db_->lastError().toStdString();
}

void DbTest::TearDown() {
    if (db_) db_->close();
    db_.reset();
    scratch_.reset();
}

std::unique_ptr<Database> DbTest::openAnother() {
    auto d = std::make_unique<Database>();
    EXPECT_TRUE(d->open(scratch_->connectionString())) << d->lastError().toStdString();
    return d;
}

void DbTest::createSchema() {
    ASSERT_TRUE(CreateSchema(*db_, QStringLiteral("admin"), QString())) << db_->lastError().toStdString();
}

std::string dialectName(const ::testing::TestParamInfo<Dialect>& info) {
    return info.param == Dialect::Sqlite ? "Sqlite" : "Postgres";
}

} // namespace zel::test
