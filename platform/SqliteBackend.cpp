// SQLite side of the database layer: one sqlite3 handle per Database, statements cached by text.
#include "platform/Database.h"
#include "platform/SqliteFile.h"

#include <QDateTime>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sqlite3.h>
#include <unistd.h>

namespace zel {

namespace {

void foldFunction(sqlite3_context* ctx, int argc, sqlite3_value** argv) {
    if (argc != 1 || sqlite3_value_type(argv[0]) == SQLITE_NULL) {
        sqlite3_result_null(ctx);
        return;
    }
    const auto* text = static_cast<const char16_t*>(sqlite3_value_text16(argv[0]));
    const int bytes = sqlite3_value_bytes16(argv[0]);
    const QString folded = QString::fromUtf16(text, bytes / 2).toCaseFolded();
    sqlite3_result_text16(ctx, folded.utf16(), int(folded.size() * 2), SQLITE_TRANSIENT);
}

class SqliteBackend;

class SqliteCursor final : public Cursor {
public:
    SqliteCursor(SqliteBackend* owner, sqlite3_stmt* stmt, QString sql, bool hasRow)
        : owner_(owner), stmt_(stmt), sql_(std::move(sql)), pending_(hasRow), done_(!hasRow) {}
    ~SqliteCursor() override;

    bool next() override {
        if (pending_) {
            pending_ = false;
            return true;
        }
        if (done_) return false;
        const int rc = sqlite3_step(stmt_);
        if (rc == SQLITE_ROW) return true;
        done_ = true;
        return false;
    }
    int columnCount() const override { return sqlite3_column_count(stmt_); }
    QString columnName(int i) const override { return QString::fromUtf8(sqlite3_column_name(stmt_, i)); }
    QVariant value(int i) const override {
        if (done_ || i < 0 || i >= columnCount()) return {};
        switch (sqlite3_column_type(stmt_, i)) {
        case SQLITE_INTEGER:
            return QVariant(qlonglong(sqlite3_column_int64(stmt_, i)));
        case SQLITE_FLOAT:
            return QVariant(sqlite3_column_double(stmt_, i));
        case SQLITE_BLOB: {
            const int n = sqlite3_column_bytes(stmt_, i);
            return QVariant(QByteArray(static_cast<const char*>(sqlite3_column_blob(stmt_, i)), n));
        }
        case SQLITE_TEXT: {
            const auto* p = reinterpret_cast<const char*>(sqlite3_column_text(stmt_, i));
            const QString s = QString::fromUtf8(p, sqlite3_column_bytes(stmt_, i));
            const char* decl = sqlite3_column_decltype(stmt_, i);
            if (decl && qstrnicmp(decl, "date", 4) == 0) {
                const QDateTime dt = dbDateTime(QVariant(s));
                if (dt.isValid()) return QVariant(dt);
            }
            return QVariant(s);
        }
        default:
            return QVariant();
        }
    }

private:
    SqliteBackend* owner_;
    sqlite3_stmt* stmt_;
    QString sql_;
    bool pending_;
    bool done_;
};

class SqliteBackend final : public Backend {
public:
    ~SqliteBackend() override { close(); }

    bool open(const QString& target, const QString&, const QString&, QString& error) override {
        // Never create here: a missing file is a missing knowledge base.
        if (!QFile::exists(target)) recoverCompactionBackup(target);
        const QFileInfo info(target);
        if (!info.exists()) {
            error = QStringLiteral("the file %1 does not exist").arg(target);
            return false;
        }
        if (!info.isFile()) {
            error = QStringLiteral("%1 is not a knowledge base file").arg(target);
            return false;
        }
        // The log files live beside the knowledge base: without a writable folder every change fails.
        if (!QFileInfo(info.absolutePath()).isWritable() || !info.isWritable()) {
            error = QStringLiteral("%1 or its folder cannot be written").arg(target);
            return false;
        }
        const int rc = sqlite3_open_v2(QFile::encodeName(target).constData(), &db_,
                                       SQLITE_OPEN_READWRITE | SQLITE_OPEN_NOMUTEX, nullptr);
        if (rc != SQLITE_OK) {
            error = db_ ? QString::fromUtf8(sqlite3_errmsg(db_)) : QStringLiteral("cannot open %1").arg(target);
            close();
            return false;
        }
        sqlite3_busy_timeout(db_, 15000);
        sqlite3_create_function_v2(db_, "zfold", 1, SQLITE_UTF16 | SQLITE_DETERMINISTIC, nullptr, foldFunction, nullptr,
                                   nullptr, nullptr);
        // A file that is not a database fails here rather than at first use.
        if (!execRaw(QStringLiteral("PRAGMA journal_mode=WAL"), error)) {
            if (sqlite3_errcode(db_) == SQLITE_NOTADB)
                error = QStringLiteral("%1 is not a knowledge base (%2)").arg(target, error);
            close();
            return false;
        }
        return true;
    }

    void close() override {
        for (sqlite3_stmt* s : std::as_const(cache_))
            sqlite3_finalize(s);
        cache_.clear();
        if (db_) sqlite3_close_v2(db_);
        db_ = nullptr;
    }

    bool isOpen() const override { return db_ != nullptr; }

    std::unique_ptr<Cursor> run(const QString& sql, const Params& params, QString& error, bool) override {
        sqlite3_stmt* stmt = cache_.take(sql);
        if (!stmt) {
            const QByteArray utf8 = sql.toUtf8();
            if (sqlite3_prepare_v2(db_, utf8.constData(), int(utf8.size()), &stmt, nullptr) != SQLITE_OK) {
                error = QString::fromUtf8(sqlite3_errmsg(db_));
                return nullptr;
            }
        }
        for (const auto& [name, value] : params) {
            const int idx = sqlite3_bind_parameter_index(stmt, name.toUtf8().constData());
            if (idx > 0 && !bind(stmt, idx, value)) {
                error = QString::fromUtf8(sqlite3_errmsg(db_));
                release(stmt, sql);
                return nullptr;
            }
        }
        const int rc = sqlite3_step(stmt);
        if (rc != SQLITE_ROW && rc != SQLITE_DONE) {
            error = QString::fromUtf8(sqlite3_errmsg(db_));
            release(stmt, sql);
            return nullptr;
        }
        return std::make_unique<SqliteCursor>(this, stmt, sql, rc == SQLITE_ROW);
    }

    bool execRaw(const QString& sql, QString& error) override {
        char* msg = nullptr;
        if (sqlite3_exec(db_, sql.toUtf8().constData(), nullptr, nullptr, &msg) != SQLITE_OK) {
            error = QString::fromUtf8(msg ? msg : sqlite3_errmsg(db_));
            sqlite3_free(msg);
            return false;
        }
        return true;
    }

    void release(sqlite3_stmt* stmt, const QString& sql) {
        sqlite3_reset(stmt);
        sqlite3_clear_bindings(stmt);
        if (cache_.size() > 200 || cache_.contains(sql)) {
            sqlite3_finalize(stmt);
            return;
        }
        cache_.insert(sql, stmt);
    }

private:
    static bool bind(sqlite3_stmt* stmt, int idx, const QVariant& v) {
        if (v.isNull()) return sqlite3_bind_null(stmt, idx) == SQLITE_OK;
        switch (v.typeId()) {
        case QMetaType::Int:
        case QMetaType::UInt:
        case QMetaType::LongLong:
        case QMetaType::ULongLong:
        case QMetaType::Long:
        case QMetaType::Bool:
            return sqlite3_bind_int64(stmt, idx, v.toLongLong()) == SQLITE_OK;
        case QMetaType::Double:
            return sqlite3_bind_double(stmt, idx, v.toDouble()) == SQLITE_OK;
        case QMetaType::QByteArray: {
            const QByteArray b = v.toByteArray();
            return sqlite3_bind_blob64(stmt, idx, b.constData(), sqlite3_uint64(b.size()), SQLITE_TRANSIENT) ==
                   SQLITE_OK;
        }
        case QMetaType::QDateTime: {
            const QByteArray s = dbDateTimeText(v.toDateTime()).toUtf8();
            return sqlite3_bind_text(stmt, idx, s.constData(), int(s.size()), SQLITE_TRANSIENT) == SQLITE_OK;
        }
        default: {
            const QByteArray s = v.toString().toUtf8();
            return sqlite3_bind_text64(stmt, idx, s.constData(), sqlite3_uint64(s.size()), SQLITE_TRANSIENT,
                                       SQLITE_UTF8) == SQLITE_OK;
        }
        }
    }

    sqlite3* db_ = nullptr;
    QHash<QString, sqlite3_stmt*> cache_;
};

SqliteCursor::~SqliteCursor() {
    owner_->release(stmt_, sql_);
}

} // namespace

std::unique_ptr<Backend> makeSqliteBackend() {
    return std::make_unique<SqliteBackend>();
}

bool createSqliteFile(const QString& path, QString* error) {
    if (QFile::exists(path)) {
        if (error) *error = QStringLiteral("file already exists: %1").arg(path);
        return false;
    }
    // Made by us with owner-only access before SQLite opens it; its log files take the same mode.
    const int fd = ::open(QFile::encodeName(path).constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    if (fd < 0) {
        if (error) *error = QStringLiteral("cannot create %1: %2").arg(path, QString::fromLocal8Bit(strerror(errno)));
        return false;
    }
    ::close(fd);
    sqlite3* db = nullptr;
    const int rc = sqlite3_open_v2(QFile::encodeName(path).constData(), &db, SQLITE_OPEN_READWRITE, nullptr);
    bool ok = rc == SQLITE_OK;
    // Write the header now so the file is a real, empty database.
    if (ok)
        ok =
            sqlite3_exec(db, "PRAGMA journal_mode=WAL; PRAGMA user_version=0;", nullptr, nullptr, nullptr) == SQLITE_OK;
    if (!ok && error) *error = db ? QString::fromUtf8(sqlite3_errmsg(db)) : QStringLiteral("cannot create file");
    sqlite3_close_v2(db);
    if (!ok) QFile::remove(path);
    return ok;
}

bool recoverCompactionBackup(const QString& path) {
    const QString backup = QFileInfo(path).absolutePath() + QStringLiteral("/smtp_cr_0856_old.mdb");
    if (QFile::exists(path) || !QFile::exists(backup)) return false;
    // Rename does not replace: of two processes that both find the file missing, one puts it back.
    return QFile::rename(backup, path);
}

} // namespace zel
