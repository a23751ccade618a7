// PostgreSQL side of the database layer, on libpq. Named parameters become $n; blobs travel in binary.
#include "platform/Database.h"

#include <QDateTime>
#include <libpq-fe.h>

namespace zel {

namespace {

constexpr Oid kBoolOid = 16, kByteaOid = 17, kInt8Oid = 20, kInt2Oid = 21, kInt4Oid = 23, kFloat4Oid = 700,
              kFloat8Oid = 701, kNumericOid = 1700, kTimestampOid = 1114, kTimestampTzOid = 1184, kDateOid = 1082;

bool isNameChar(QChar c) {
    return c.isLetterOrNumber() || c == u'_';
}

// Rewrites ":name" placeholders to "$n" outside quotes; names maps each $n to its parameter name.
QByteArray translate(const QString& sql, QStringList& names) {
    QString out;
    out.reserve(sql.size() + 16);
    for (qsizetype i = 0; i < sql.size(); ++i) {
        const QChar c = sql[i];
        if (c == u'\'' || c == u'"') {
            const qsizetype end = sql.indexOf(c, i + 1);
            const qsizetype stop = end < 0 ? sql.size() - 1 : end;
            out += QStringView(sql).mid(i, stop - i + 1);
            i = stop;
            continue;
        }
        if (c == u':' && i + 1 < sql.size() && sql[i + 1] == u':') {
            out += QStringLiteral("::");
            ++i;
            continue;
        }
        if (c == u':' && i + 1 < sql.size() && isNameChar(sql[i + 1]) && (i == 0 || !isNameChar(sql[i - 1]))) {
            qsizetype j = i + 1;
            while (j < sql.size() && isNameChar(sql[j]))
                ++j;
            const QString name = sql.mid(i, j - i);
            qsizetype n = names.indexOf(name);
            if (n < 0) {
                names << name;
                n = names.size() - 1;
            }
            out += u'$' + QString::number(n + 1);
            i = j - 1;
            continue;
        }
        out += c;
    }
    return out.toUtf8();
}

QByteArray decodeBytea(const char* s, int len) {
    if (len >= 2 && s[0] == '\\' && s[1] == 'x') {
        QByteArray out;
        out.resize((len - 2) / 2);
        auto hex = [](char c) -> int { return c <= '9' ? c - '0' : (c | 0x20) - 'a' + 10; };
        char* d = out.data();
        for (int i = 2; i + 1 < len; i += 2)
            *d++ = char((hex(s[i]) << 4) | hex(s[i + 1]));
        return out;
    }
    size_t n = 0;
    unsigned char* p = PQunescapeBytea(reinterpret_cast<const unsigned char*>(s), &n);
    QByteArray out(reinterpret_cast<const char*>(p), qsizetype(n));
    PQfreemem(p);
    return out;
}

QVariant convert(Oid type, const char* s, int len) {
    switch (type) {
    case kBoolOid:
        return QVariant(len > 0 && s[0] == 't');
    case kInt2Oid:
    case kInt4Oid:
    case kInt8Oid:
        return QVariant(QByteArray::fromRawData(s, len).toLongLong());
    case kNumericOid: {
        const QByteArray b = QByteArray::fromRawData(s, len);
        if (!b.contains('.')) return QVariant(b.toLongLong());
        return QVariant(b.toDouble());
    }
    case kFloat4Oid:
    case kFloat8Oid:
        return QVariant(QByteArray::fromRawData(s, len).toDouble());
    case kByteaOid:
        return QVariant(decodeBytea(s, len));
    case kTimestampOid:
    case kTimestampTzOid:
    case kDateOid:
        return QVariant(dbDateTime(QVariant(QString::fromUtf8(s, len).left(19))));
    default:
        return QVariant(QString::fromUtf8(s, len));
    }
}

class PgCursor final : public Cursor {
public:
    PgCursor(PGconn* conn, PGresult* first, bool streaming)
        : conn_(conn), res_(first), streaming_(streaming),
          finished_(!streaming || !first || PQresultStatus(first) != PGRES_SINGLE_TUPLE), row_(-1) {}
    ~PgCursor() override {
        if (res_) PQclear(res_);
        if (!streaming_) return;
        // Left before its end (a stopped search): ask the server to stop sending rather than read them all.
        if (!finished_) {
            if (PGcancel* cancel = PQgetCancel(conn_)) {
                char error[256];
                PQcancel(cancel, error, int(sizeof error));
                PQfreeCancel(cancel);
            }
        }
        // Drain what the server still sends so the connection is free again.
        while (PGresult* r = PQgetResult(conn_))
            PQclear(r);
    }
    bool next() override {
        if (!res_) return false;
        if (!streaming_) return ++row_ < PQntuples(res_);
        // Single-row mode: the current result holds one row; the next comes from the server.
        if (row_ < 0 && PQntuples(res_) == 1) {
            row_ = 0;
            return true;
        }
        PGresult* r = PQgetResult(conn_);
        if (!r) {
            finished_ = true;
            return false;
        }
        if (PQresultStatus(r) != PGRES_SINGLE_TUPLE) {
            finished_ = true;
            keepColumns(r);
            return false;
        }
        PQclear(res_);
        res_ = r;
        row_ = 0;
        return true;
    }
    int columnCount() const override { return res_ ? PQnfields(res_) : 0; }
    QString columnName(int i) const override { return res_ ? QString::fromUtf8(PQfname(res_, i)) : QString(); }
    QVariant value(int i) const override {
        if (!res_ || row_ < 0 || row_ >= PQntuples(res_) || i < 0 || i >= PQnfields(res_)) return {};
        if (PQgetisnull(res_, row_, i)) return {};
        return convert(PQftype(res_, i), PQgetvalue(res_, row_, i), PQgetlength(res_, row_, i));
    }

private:
    // The final result of a stream has the columns but no row.
    void keepColumns(PGresult* last) {
        PQclear(res_);
        res_ = last;
        row_ = PQntuples(res_);
    }
    PGconn* conn_;
    PGresult* res_;
    bool streaming_;
    bool finished_;
    int row_;
};

void ignoreNotice(void*, const char*) {}

// Deadlock detected, serialization failure: the transaction was broken off and may be run again.
bool isRetryable(const PGresult* r) {
    const char* state = r ? PQresultErrorField(r, PG_DIAG_SQLSTATE) : nullptr;
    return state && (qstrcmp(state, "40P01") == 0 || qstrcmp(state, "40001") == 0);
}

class PgBackend final : public Backend {
public:
    ~PgBackend() override { close(); }

    bool open(const QString& target, const QString& user, const QString& password, QString& error) override {
        // target: host[:port]/database
        const qsizetype slash = target.lastIndexOf(u'/');
        QString hostPort = target.left(slash);
        QString dbname = target.mid(slash + 1);
        QString host = hostPort, port;
        const qsizetype colon = hostPort.lastIndexOf(u':');
        if (colon > 0 && !hostPort.endsWith(u']')) {
            host = hostPort.left(colon);
            port = hostPort.mid(colon + 1);
        }
        if (host.startsWith(u'[') && host.endsWith(u']')) host = host.mid(1, host.size() - 2);
        if (dbname.isEmpty()) dbname = QStringLiteral("postgres");
        const QByteArray h = host.toUtf8(), p = port.toUtf8(), d = dbname.toUtf8(), u = user.toUtf8(),
                         w = password.toUtf8();
        const char* keys[] = {
            "host", "port", "dbname", "user", "password", "connect_timeout", "client_encoding", "application_name",
            nullptr};
        const char* vals[] = {h.constData(),
                              p.isEmpty() ? nullptr : p.constData(),
                              d.constData(),
                              u.isEmpty() ? nullptr : u.constData(),
                              w.isEmpty() ? nullptr : w.constData(),
                              "5",
                              "UTF8",
                              "zel",
                              nullptr};
        conn_ = PQconnectdbParams(keys, vals, 0);
        if (!conn_ || PQstatus(conn_) != CONNECTION_OK) {
            error = conn_ ? QString::fromUtf8(PQerrorMessage(conn_)).trimmed() : QStringLiteral("out of memory");
            close();
            return false;
        }
        PQsetNoticeProcessor(conn_, ignoreNotice, nullptr);
        return true;
    }

    void close() override {
        if (conn_) PQfinish(conn_);
        conn_ = nullptr;
    }

    bool isOpen() const override { return conn_ && PQstatus(conn_) == CONNECTION_OK; }

    std::unique_ptr<Cursor> run(const QString& sql, const Params& params, QString& error, bool streaming) override {
        QStringList names;
        const QByteArray text = translate(sql, names);
        const int n = int(names.size());
        std::vector<QByteArray> storage;
        storage.resize(size_t(n));
        std::vector<const char*> values(size_t(n), nullptr);
        std::vector<int> lengths(size_t(n), 0), formats(size_t(n), 0);
        std::vector<Oid> types(size_t(n), 0);
        for (int i = 0; i < n; ++i) {
            const QVariant* v = nullptr;
            for (const auto& p : params)
                if (p.first == names[i]) v = &p.second;
            if (!v || v->isNull()) continue;
            QByteArray& b = storage[size_t(i)];
            switch (v->typeId()) {
            case QMetaType::QByteArray:
                b = v->toByteArray();
                formats[size_t(i)] = 1;
                types[size_t(i)] = kByteaOid;
                break;
            case QMetaType::QDateTime:
                b = dbDateTimeText(v->toDateTime()).toUtf8();
                break;
            case QMetaType::Bool:
                b = v->toBool() ? "1" : "0";
                break;
            default:
                b = v->toString().toUtf8();
            }
            values[size_t(i)] = b.constData();
            lengths[size_t(i)] = int(b.size());
        }
        if (streaming) {
            if (!PQsendQueryParams(conn_, text.constData(), n, types.data(), values.data(), lengths.data(),
                                   formats.data(), 0) ||
                !PQsetSingleRowMode(conn_)) {
                error = QString::fromUtf8(PQerrorMessage(conn_)).trimmed();
                while (PGresult* r = PQgetResult(conn_))
                    PQclear(r);
                return nullptr;
            }
            PGresult* first = PQgetResult(conn_);
            const auto st = first ? PQresultStatus(first) : PGRES_FATAL_ERROR;
            if (st != PGRES_SINGLE_TUPLE && st != PGRES_TUPLES_OK && st != PGRES_COMMAND_OK) {
                error = QString::fromUtf8(first ? PQresultErrorMessage(first) : PQerrorMessage(conn_)).trimmed();
                if (isRetryable(first)) retryableFailure = true;
                if (first) PQclear(first);
                while (PGresult* r = PQgetResult(conn_))
                    PQclear(r);
                return nullptr;
            }
            return std::make_unique<PgCursor>(conn_, first, true);
        }
        PGresult* r =
            PQexecParams(conn_, text.constData(), n, types.data(), values.data(), lengths.data(), formats.data(), 0);
        const auto st = r ? PQresultStatus(r) : PGRES_FATAL_ERROR;
        if (st != PGRES_TUPLES_OK && st != PGRES_COMMAND_OK) {
            error = QString::fromUtf8(r ? PQresultErrorMessage(r) : PQerrorMessage(conn_)).trimmed();
            if (isRetryable(r)) retryableFailure = true;
            if (r) PQclear(r);
            return nullptr;
        }
        return std::make_unique<PgCursor>(conn_, r, false);
    }

    bool execRaw(const QString& sql, QString& error) override {
        PGresult* r = PQexec(conn_, sql.toUtf8().constData());
        const auto st = r ? PQresultStatus(r) : PGRES_FATAL_ERROR;
        bool ok = st == PGRES_COMMAND_OK || st == PGRES_TUPLES_OK;
        if (!ok) {
            error = QString::fromUtf8(r ? PQresultErrorMessage(r) : PQerrorMessage(conn_)).trimmed();
            if (isRetryable(r)) retryableFailure = true;
        } else if (sql == QStringLiteral("COMMIT") && qstrcmp(PQcmdStatus(r), "COMMIT") != 0) {
            // A transaction that an earlier statement aborted answers COMMIT with "ROLLBACK" and no
            // error: nothing was stored.
            ok = false;
            error = QStringLiteral("the transaction was rolled back after an earlier error");
        }
        if (r) PQclear(r);
        return ok;
    }

private:
    PGconn* conn_ = nullptr;
};

} // namespace

std::unique_ptr<Backend> makePgBackend() {
    return std::make_unique<PgBackend>();
}

} // namespace zel
