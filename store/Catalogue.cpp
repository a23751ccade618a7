#include "store/Catalogue.h"

#include "platform/CodePage.h"
#include "store/Compression.h"
#include "store/FieldText.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLockFile>
#include <QSaveFile>
#include <QThread>
#include <QtEndian>
#include <cstring>

namespace zel {

namespace {

struct FieldDesc {
    const char* name;
    qint32 size;
    qint16 type; // 3 integer, 1 text
};

constexpr FieldDesc kFields[6] = {{"ServerType", 4, 3}, {"Name", 51, 1}, {"ServerName", 101, 1},
                                  {"DataBase", 51, 1},  {"User", 51, 1}, {"Password", 51, 1}};

template <typename T> void put(QByteArray& out, T v) {
    char b[sizeof(T)];
    qToLittleEndian<T>(v, b);
    out.append(b, sizeof(T));
}

class Reader {
public:
    explicit Reader(const QByteArray& d) : d_(d) {}
    template <typename T> bool get(T& v) {
        if (pos_ + qsizetype(sizeof(T)) > d_.size()) return false;
        v = qFromLittleEndian<T>(d_.constData() + pos_);
        pos_ += sizeof(T);
        return true;
    }
    bool bytes(qsizetype n, QByteArray& out) {
        if (n < 0 || pos_ + n > d_.size()) return false;
        out = d_.mid(pos_, n);
        pos_ += n;
        return true;
    }
    bool atEnd() const { return pos_ >= d_.size(); }

private:
    const QByteArray& d_;
    qsizetype pos_ = 0;
};

QByteArray* textField(CatalogueEntry& e, int field) {
    switch (field) {
    case 1:
        return &e.name;
    case 2:
        return &e.serverName;
    case 3:
        return &e.database;
    case 4:
        return &e.user;
    case 5:
        return &e.password;
    default:
        return nullptr;
    }
}

} // namespace

QString CatalogueEntry::nameText() const {
    return ReadFieldText(name);
}
QString CatalogueEntry::serverNameText() const {
    return ReadFieldText(serverName);
}
QString CatalogueEntry::databaseText() const {
    return ReadFieldText(database);
}
QString CatalogueEntry::userText() const {
    return ReadFieldText(user);
}
QString CatalogueEntry::passwordText() const {
    return ReadFieldText(password);
}

CatalogueEntry CatalogueEntry::make(qint32 type, const QString& name, const QString& server, const QString& database,
                                    const QString& user, const QString& password) {
    CatalogueEntry e;
    e.serverType = type;
    e.name = name.toUtf8();
    e.serverName = server.toUtf8();
    e.database = database.toUtf8();
    e.user = user.toUtf8();
    e.password = toSystemCodePage(password);
    return e;
}

QByteArray Catalogue::serialize(const QList<CatalogueEntry>& entries) {
    QByteArray out("Ver");
    put<double>(out, 1.7);
    put<qint32>(out, 6);
    for (const FieldDesc& f : kFields) {
        put<qint32>(out, f.size);
        put<qint16>(out, f.type);
        const auto len = qint16(std::strlen(f.name));
        put<qint16>(out, qint16(len + 1));
        out.append(f.name, len);
        out.append('\0');
    }
    for (CatalogueEntry e : entries) {
        out.append(char(e.serverTypePresent ? 1 : 0));
        put<qint32>(out, e.serverTypePresent ? e.serverType : 0);
        for (int i = 1; i < 6; ++i) {
            const QByteArray& t = *textField(e, i);
            put<qint32>(out, qint32(t.size() + 1));
            out.append(t);
            out.append('\0');
        }
    }
    return out;
}

bool Catalogue::parse(const QByteArray& table, QList<CatalogueEntry>& out) {
    out.clear();
    Reader r(table);
    QByteArray sig;
    double version = 0;
    qint32 count = 0;
    if (!r.bytes(3, sig) || sig != "Ver" || !r.get(version) || !r.get(count) || count < 1 || count > 64) return false;
    // Map each stored field to ours by name, without regard to case.
    QList<int> map;
    QList<qint16> types;
    for (int i = 0; i < count; ++i) {
        qint32 size = 0;
        qint16 type = 0, nameLen = 0;
        QByteArray name;
        if (!r.get(size) || !r.get(type) || !r.get(nameLen) || !r.bytes(nameLen, name)) return false;
        if (name.endsWith('\0')) name.chop(1);
        int ours = -1;
        for (int k = 0; k < 6; ++k)
            if (qstricmp(name.constData(), kFields[k].name) == 0) ours = k;
        map << ours;
        types << type;
    }
    while (!r.atEnd()) {
        CatalogueEntry e;
        for (int i = 0; i < count; ++i) {
            if (types[i] == 3) {
                quint8 present = 0;
                qint32 v = 0;
                if (!r.get(present) || !r.get(v)) return false;
                if (map[i] == 0) {
                    e.serverTypePresent = present != 0;
                    e.serverType = present ? v : 0;
                }
            } else {
                qint32 len = 0;
                QByteArray t;
                if (!r.get(len) || !r.bytes(len, t)) return false;
                if (t.endsWith('\0')) t.chop(1);
                if (QByteArray* f = map[i] > 0 ? textField(e, map[i]) : nullptr) *f = t;
            }
        }
        out << e;
    }
    return true;
}

bool Catalogue::LoadCatalogue(const QString& filePath) {
    path_ = filePath;
    return read();
}

bool Catalogue::read() {
    entries_.clear();
    unreadable_ = false;
    QFile f(path_);
    if (!f.exists()) return true;
    if (!f.open(QIODevice::ReadOnly)) {
        unreadable_ = true;
        return false;
    }
    const QByteArray raw = f.readAll();
    // A file that does not expand is read as stored.
    if (f.error() == QFileDevice::NoError && parse(DecompressStream(raw), entries_)) return true;
    entries_.clear();
    unreadable_ = true;
    return false;
}

bool Catalogue::write(QString* error) {
    auto fail = [&](const QString& message) {
        if (error) *error = message;
        return false;
    };
    if (unreadable_) {
        // Keep what could not be read, each time under a name of its own.
        QString copy;
        for (int n = 1; copy.isEmpty() || QFile::exists(copy); ++n)
            copy = path_ + QStringLiteral(".unreadable.%1").arg(n);
        if (!QFile::copy(path_, copy)) return fail(QStringLiteral("cannot keep a copy of %1").arg(path_));
        QFile::setPermissions(copy, QFileDevice::ReadOwner | QFileDevice::WriteOwner);
        unreadableCopy_ = copy;
        unreadable_ = false;
    }
    // The first write on a fresh machine makes the home folder.
    QDir().mkpath(QFileInfo(path_).absolutePath());
    QSaveFile f(path_);
    if (!f.open(QIODevice::WriteOnly)) return fail(QStringLiteral("cannot write %1").arg(path_));
    // It may hold server passwords: the owner only, before anything is written.
    f.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner);
    const QByteArray data = CompressStream(serialize(entries_));
    if (f.write(data) != data.size() || !f.commit()) return fail(QStringLiteral("cannot write %1").arg(path_));
    return true;
}

namespace {
// Held while the catalogue is read, changed and written, so that writers never lose each other's
// entries. A lock left by a process that died is taken over.
bool lockCatalogue(QLockFile& lock, QString* error) {
    QDir().mkpath(QFileInfo(lock.fileName()).absolutePath());
    lock.setStaleLockTime(30000);
    // Short, steady waits: QLockFile's own doubles its pause up to seconds, while a holder keeps the
    // lock for a moment only.
    QDeadlineTimer deadline(60000);
    while (!deadline.hasExpired()) {
        if (lock.tryLock(0)) return true;
        if (lock.error() != QLockFile::LockFailedError) break;
        QThread::msleep(20);
    }
    if (error) *error = QStringLiteral("the catalogue is locked by another program (%1)").arg(lock.fileName());
    return false;
}
} // namespace

bool Catalogue::SaveCatalogue() {
    if (path_.isEmpty()) return false;
    QLockFile lock(path_ + QStringLiteral(".lock"));
    if (!lockCatalogue(lock, nullptr)) return false;
    return write(nullptr);
}

bool Catalogue::UpdateCatalogue(const std::function<bool(QList<CatalogueEntry>&, QString*)>& change, QString* error) {
    if (path_.isEmpty()) return false;
    QLockFile lock(path_ + QStringLiteral(".lock"));
    if (!lockCatalogue(lock, error)) return false;
    read(); // an unreadable file is kept by write()
    if (!change(entries_, error)) return false;
    return write(error);
}

int Catalogue::FindCatalogueEntry(const QString& name) const {
    for (qsizetype i = 0; i < entries_.size(); ++i)
        if (entries_[i].nameText() == name) return int(i);
    return -1;
}

QString BuildConnectionString(int serverType, const QString& serverName, const QString& database,
                              const QString& password, const QString& user) {
    QString provider;
    QString server = serverName;
    if (serverType == 1)
        provider = QStringLiteral("SQLOLEDb.1");
    else if (serverType == 2)
        provider = QStringLiteral("MsDAORA.1");
    else {
        provider = QStringLiteral("Microsoft.Jet.OLEDB.4.0");
        if (!server.trimmed().isEmpty() && !server.endsWith(u'/')) server += u'/';
    }
    QString s = QStringLiteral("provider=") + provider;
    if (serverType != 0)
        s += QStringLiteral("; initial catalog=") + database + QStringLiteral("; Data source=") + server;
    else
        s += QStringLiteral("; Data source=") + server + database;
    if (!user.isEmpty() && serverType > 0) s += QStringLiteral(";user id=") + user;
    if (serverType > 0 && !password.isEmpty())
        s += QStringLiteral(";password=") + password + QStringLiteral(";persist security info=true");
    if (serverType == 0 && !password.isEmpty()) s += QStringLiteral(";Jet OLEDb:Database password=") + password;
    return s;
}

QString BuildConnectionString(const CatalogueEntry& e) {
    return BuildConnectionString(e.serverType, e.serverNameText(), e.databaseText(), fromSystemCodePage(e.password),
                                 e.userText());
}

} // namespace zel
