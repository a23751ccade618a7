#pragma once

#include <QString>
#include <QStringList>
#include <QVariant>
#include <functional>
#include <memory>
#include <utility>
#include <vector>

namespace zel {

// The two database kinds a knowledge base may live in.
enum class Dialect { Sqlite, Postgres };

// Named parameters (":id") with their values. QByteArray binds as a blob, QDateTime as a date-time,
// a null QVariant as NULL.
using Params = std::vector<std::pair<QString, QVariant>>;

class Backend;
class Cursor;

// One connection to a knowledge base. Not shared between threads: each worker opens its own from
// connectionString().
class Database {
public:
    Database();
    ~Database();
    Database(const Database&) = delete;
    Database& operator=(const Database&) = delete;

    // Opens a connection string as BuildConnectionString makes it. Fails cleanly for unknown providers.
    bool open(const QString& connectionString);
    void close();
    bool isOpen() const;
    QString connectionString() const { return connString_; }
    Dialect dialect() const { return dialect_; }
    QString lastError() const { return error_; }
    // For SQLite: the database file; empty for servers.
    QString filePath() const { return filePath_; }

    // Runs a statement that returns no rows.
    bool exec(const QString& sql, const Params& params = {});
    // First column of the first row, or an invalid QVariant when there is none or on failure.
    QVariant scalar(const QString& sql, const Params& params = {}, bool* ok = nullptr);
    // Runs "INSERT ... RETURNING id" and returns the id, 0 on failure.
    qint64 insert(const QString& sql, const Params& params = {});

    // Nested transactions map to savepoints.
    bool begin();
    bool commit();
    bool rollback();
    int transactionDepth() const { return depth_; }

    // The current (or last) outermost transaction was broken off by the server for a deadlock or a
    // serialization failure: running it again may succeed.
    bool retryableFailure() const;

    Backend* backend() { return backend_.get(); }
    void setError(const QString& e) { error_ = e; }

private:
    std::unique_ptr<Backend> backend_;
    QString connString_;
    QString filePath_;
    QString error_;
    Dialect dialect_ = Dialect::Sqlite;
    int depth_ = 0;
};

// A statement with its result rows, read forward only.
class Query {
public:
    explicit Query(Database& db);
    Query(Database& db, const QString& sql, const Params& params = {});
    ~Query();
    Query(const Query&) = delete;
    Query& operator=(const Query&) = delete;

    bool prepare(const QString& sql);
    void bind(const QString& name, const QVariant& value);
    bool exec();
    bool next();
    bool isActive() const { return ok_; }
    // Fetch rows as they are read: for long scans that run no other statement until the query ends.
    void setStreaming(bool on) { streaming_ = on; }

    int columnCount() const;
    QString columnName(int i) const;
    int columnIndex(const QString& name) const; // case-insensitive, -1 when absent
    QVariant value(int i) const;
    QVariant value(const QString& name) const;
    QString text(int i) const { return value(i).toString(); }
    qint64 integer(int i) const { return value(i).toLongLong(); }
    QString error() const { return error_; }

private:
    Database& db_;
    QString sql_;
    Params params_;
    std::unique_ptr<Cursor> cursor_;
    QString error_;
    bool ok_ = false;
    bool streaming_ = false;
};

// Rolls back unless committed.
class Transaction {
public:
    explicit Transaction(Database& db) : db_(db), active_(db.begin()) {}
    ~Transaction() {
        if (active_) db_.rollback();
    }
    Transaction(const Transaction&) = delete;
    Transaction& operator=(const Transaction&) = delete;
    bool ok() const { return active_; }
    bool commit() {
        if (!active_) return false;
        active_ = false;
        return db_.commit();
    }

private:
    Database& db_;
    bool active_;
};

// Internal seams implemented by the SQLite and PostgreSQL modules.
class Cursor {
public:
    virtual ~Cursor() = default;
    virtual bool next() = 0;
    virtual int columnCount() const = 0;
    virtual QString columnName(int i) const = 0;
    virtual QVariant value(int i) const = 0;
};

class Backend {
public:
    virtual ~Backend() = default;
    virtual bool open(const QString& target, const QString& user, const QString& password, QString& error) = 0;
    virtual void close() = 0;
    virtual bool isOpen() const = 0;
    // Runs sql with its parameters; returns a cursor over the rows (nullptr on failure, error set).
    // streaming: rows are fetched as read (no other statement may run on the connection meanwhile);
    // otherwise a server backend fetches the whole result first.
    virtual std::unique_ptr<Cursor> run(const QString& sql, const Params& params, QString& error,
                                        bool streaming = false) = 0;
    virtual bool execRaw(const QString& sql, QString& error) = 0;
    // Set by a failure the server reports as a deadlock or serialization failure; cleared when an
    // outermost transaction begins.
    bool retryableFailure = false;
};

// Runs work (which returns false on failure) as one transaction. When the server broke the
// transaction off for a deadlock or a serialization failure, it is rolled back and run again, up to
// attempts times in all; any other failure ends it at once.
bool runTransaction(Database& db, const std::function<bool()>& work, int attempts = 5);
// A short, random pause before the next attempt, so that two writers that met do not meet again.
void pauseBeforeRetry(int attempt);

std::unique_ptr<Backend> makeSqliteBackend();
std::unique_ptr<Backend> makePgBackend();

// Formats a date-time the way both databases store and compare it.
QString dbDateTimeText(const QDateTime& dt);
// Reads a date-time column value (QDateTime or text).
QDateTime dbDateTime(const QVariant& v);

} // namespace zel
