#include "platform/Database.h"

#include <QDateTime>
#include <QFileInfo>
#include <QHash>
#include <QRandomGenerator>
#include <QThread>

namespace zel {

namespace {

// Splits "key=value; key=value" into lower-cased keys and trimmed values.
QHash<QString, QString> parseConnectionString(const QString& s) {
    QHash<QString, QString> out;
    const auto parts = s.split(u';');
    for (const QString& part : parts) {
        const qsizetype eq = part.indexOf(u'=');
        if (eq < 0) continue;
        out.insert(part.left(eq).trimmed().toLower(), part.mid(eq + 1).trimmed());
    }
    return out;
}

} // namespace

Database::Database() = default;
Database::~Database() {
    close();
}

bool Database::open(const QString& connectionString) {
    close();
    error_.clear();
    const auto kv = parseConnectionString(connectionString);
    const QString provider = kv.value(QStringLiteral("provider"));
    const QString source = kv.value(QStringLiteral("data source"));
    QString target, user, password;
    if (provider.compare(QStringLiteral("Microsoft.Jet.OLEDB.4.0"), Qt::CaseInsensitive) == 0) {
        dialect_ = Dialect::Sqlite;
        backend_ = makeSqliteBackend();
        target = source;
        password = kv.value(QStringLiteral("jet oledb:database password"));
    } else if (provider.compare(QStringLiteral("SQLOLEDb.1"), Qt::CaseInsensitive) == 0) {
        dialect_ = Dialect::Postgres;
        backend_ = makePgBackend();
        // host[:port]/database
        target = source + u'/' + kv.value(QStringLiteral("initial catalog"));
        user = kv.value(QStringLiteral("user id"));
        password = kv.value(QStringLiteral("password"));
    } else {
        error_ = QStringLiteral("unsupported provider \"%1\"").arg(provider);
        return false;
    }
    if (source.isEmpty()) {
        error_ = QStringLiteral("no data source");
        backend_.reset();
        return false;
    }
    if (!backend_->open(target, user, password, error_)) {
        backend_.reset();
        return false;
    }
    connString_ = connectionString;
    filePath_ = dialect_ == Dialect::Sqlite ? QFileInfo(source).absoluteFilePath() : QString();
    return true;
}

void Database::close() {
    if (backend_) backend_->close();
    backend_.reset();
    depth_ = 0;
    filePath_.clear();
}

bool Database::isOpen() const {
    return backend_ && backend_->isOpen();
}

bool Database::exec(const QString& sql, const Params& params) {
    if (!isOpen()) {
        error_ = QStringLiteral("database is not open");
        return false;
    }
    auto c = backend_->run(sql, params, error_);
    return c != nullptr;
}

QVariant Database::scalar(const QString& sql, const Params& params, bool* ok) {
    if (ok) *ok = false;
    if (!isOpen()) {
        error_ = QStringLiteral("database is not open");
        return {};
    }
    auto c = backend_->run(sql, params, error_);
    if (!c) return {};
    if (ok) *ok = true;
    if (!c->next() || c->columnCount() < 1) return {};
    return c->value(0);
}

qint64 Database::insert(const QString& sql, const Params& params) {
    bool ok = false;
    const QVariant v = scalar(sql, params, &ok);
    return ok ? v.toLongLong() : 0;
}

bool Database::retryableFailure() const {
    return backend_ && backend_->retryableFailure;
}

bool Database::begin() {
    if (!isOpen()) return false;
    if (depth_ == 0) backend_->retryableFailure = false;
    const QString sql =
        depth_ == 0 ? (dialect_ == Dialect::Sqlite ? QStringLiteral("BEGIN IMMEDIATE") : QStringLiteral("BEGIN"))
                    : QStringLiteral("SAVEPOINT zel_sp%1").arg(depth_);
    if (!backend_->execRaw(sql, error_)) return false;
    ++depth_;
    return true;
}

bool Database::commit() {
    if (!isOpen() || depth_ == 0) return false;
    --depth_;
    const QString sql =
        depth_ == 0 ? QStringLiteral("COMMIT") : QStringLiteral("RELEASE SAVEPOINT zel_sp%1").arg(depth_);
    if (backend_->execRaw(sql, error_)) return true;
    // A failed commit leaves the transaction open: undo it so the connection stays usable.
    QString ignored;
    backend_->execRaw(depth_ == 0 ? QStringLiteral("ROLLBACK")
                                  : QStringLiteral("ROLLBACK TO SAVEPOINT zel_sp%1").arg(depth_),
                      ignored);
    return false;
}

bool Database::rollback() {
    if (!isOpen() || depth_ == 0) return false;
    --depth_;
    QString err;
    if (depth_ == 0) return backend_->execRaw(QStringLiteral("ROLLBACK"), err);
    const bool ok = backend_->execRaw(QStringLiteral("ROLLBACK TO SAVEPOINT zel_sp%1").arg(depth_), err) &&
                    backend_->execRaw(QStringLiteral("RELEASE SAVEPOINT zel_sp%1").arg(depth_), err);
    return ok;
}

Query::Query(Database& db) : db_(db) {}
Query::Query(Database& db, const QString& sql, const Params& params) : db_(db), sql_(sql), params_(params) {
    exec();
}
Query::~Query() = default;

bool Query::prepare(const QString& sql) {
    sql_ = sql;
    params_.clear();
    cursor_.reset();
    ok_ = false;
    return true;
}

void Query::bind(const QString& name, const QVariant& value) {
    for (auto& p : params_) {
        if (p.first == name) {
            p.second = value;
            return;
        }
    }
    params_.emplace_back(name, value);
}

bool Query::exec() {
    cursor_.reset();
    ok_ = false;
    if (!db_.isOpen()) {
        error_ = QStringLiteral("database is not open");
        db_.setError(error_);
        return false;
    }
    cursor_ = db_.backend()->run(sql_, params_, error_, streaming_);
    if (!cursor_) {
        db_.setError(error_);
        return false;
    }
    ok_ = true;
    return true;
}

bool Query::next() {
    return cursor_ && cursor_->next();
}
int Query::columnCount() const {
    return cursor_ ? cursor_->columnCount() : 0;
}
QString Query::columnName(int i) const {
    return cursor_ ? cursor_->columnName(i) : QString();
}

int Query::columnIndex(const QString& name) const {
    const int n = columnCount();
    for (int i = 0; i < n; ++i)
        if (cursor_->columnName(i).compare(name, Qt::CaseInsensitive) == 0) return i;
    return -1;
}

QVariant Query::value(int i) const {
    return cursor_ && i >= 0 ? cursor_->value(i) : QVariant();
}
QVariant Query::value(const QString& name) const {
    return value(columnIndex(name));
}

void pauseBeforeRetry(int attempt) {
    QThread::msleep(QRandomGenerator::global()->bounded(10, 40 * (attempt + 1)));
}

bool runTransaction(Database& db, const std::function<bool()>& work, int attempts) {
    for (int attempt = 1;; ++attempt) {
        {
            Transaction tx(db);
            if (tx.ok() && work() && tx.commit()) return true;
        }
        if (attempt >= attempts || db.transactionDepth() > 0 || !db.retryableFailure()) return false;
        pauseBeforeRetry(attempt);
    }
}

QString dbDateTimeText(const QDateTime& dt) {
    return dt.toString(QStringLiteral("yyyy-MM-dd HH:mm:ss"));
}

namespace {
// "yyyy-MM-dd HH:mm:ss", the form both databases hand back, read without the general parser, which
// costs about ten microseconds a value: too much for listings of thousands of rows.
QDateTime parseDbDateTime(const QString& s) {
    if (s.size() != 19 || s[4] != u'-' || s[7] != u'-' || (s[10] != u' ' && s[10] != u'T') || s[13] != u':' ||
        s[16] != u':')
        return {};
    auto num = [&](int at, int len, bool& ok) {
        int v = 0;
        for (int i = at; i < at + len; ++i) {
            const char16_t c = s[i].unicode();
            if (c < u'0' || c > u'9') ok = false;
            v = v * 10 + (c - u'0');
        }
        return v;
    };
    bool ok = true;
    const QDate date(num(0, 4, ok), num(5, 2, ok), num(8, 2, ok));
    const QTime time(num(11, 2, ok), num(14, 2, ok), num(17, 2, ok));
    if (!ok || !date.isValid() || !time.isValid()) return {};
    return QDateTime(date, time);
}
} // namespace

QDateTime dbDateTime(const QVariant& v) {
    if (v.isNull()) return {};
    if (v.typeId() == QMetaType::QDateTime) return v.toDateTime();
    const QString s = v.toString();
    if (const QDateTime fast = parseDbDateTime(s); fast.isValid()) return fast;
    QDateTime dt = QDateTime::fromString(s, QStringLiteral("yyyy-MM-dd HH:mm:ss"));
    if (!dt.isValid()) dt = QDateTime::fromString(s, Qt::ISODateWithMs);
    if (!dt.isValid()) dt = QDateTime::fromString(s, Qt::ISODate);
    return dt;
}

} // namespace zel
