#pragma once

#include <QString>
#include <QTemporaryDir>
#include <gtest/gtest.h>
#include <memory>

#include "platform/Database.h"

namespace zel::test {

// Where the PostgreSQL test server is: ZEL_TEST_PG="host:port" and ZEL_TEST_PG_USER. Without it the
// PostgreSQL cases are skipped, except under CI, where they fail.
bool postgresAvailable();
QString postgresServer();
QString postgresUser();

// A fresh, empty database of the given kind: an SQLite file in a temporary folder, or a new
// database on the test server (dropped again when this goes away).
class ScratchDb {
public:
    explicit ScratchDb(Dialect d);
    ~ScratchDb();
    ScratchDb(const ScratchDb&) = delete;
    ScratchDb& operator=(const ScratchDb&) = delete;
    const QString& connectionString() const { return conn_; }
    // Catalogue-entry parts of this database, for tests that go through the catalogue.
    int serverType() const { return dialect_ == Dialect::Sqlite ? 0 : 1; }
    QString serverName() const;
    QString databaseName() const { return dbName_; }
    QString folder() const { return dir_.path() + QStringLiteral("/"); }
    Dialect dialect() const { return dialect_; }
    // Drops a database on the test server (for tests that let the program create one).
    static void dropServerDatabase(const QString& name);

private:
    Dialect dialect_;
    QTemporaryDir dir_;
    QString dbName_;
    QString conn_;
};

// Base of tests that run against both databases: db() holds an open, empty database.
class DbTest : public ::testing::TestWithParam<Dialect> {
protected:
    void SetUp() override;
    void TearDown() override;
    Database& db() { return *db_; }
    ScratchDb& scratch() { return *scratch_; }
    // A second connection to the same database.
    std::unique_ptr<Database> openAnother();
    // Creates the full schema with the administrator "admin" (empty password) on db().
    void createSchema();

private:
    std::unique_ptr<ScratchDb> scratch_;
    std::unique_ptr<Database> db_;
};

std::string dialectName(const ::testing::TestParamInfo<Dialect>& info);

} // namespace zel::test

#define ZEL_INSTANTIATE_DB_TEST(Suite)                                                                                 \
    INSTANTIATE_TEST_SUITE_P(Db, Suite, ::testing::Values(::zel::Dialect::Sqlite, ::zel::Dialect::Postgres),           \
                             ::zel::test::dialectName)
