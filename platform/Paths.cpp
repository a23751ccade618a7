#include "platform/Paths.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QMutex>
#include <QMutexLocker>
#include <unistd.h>

namespace zel {

namespace {
QMutex mutex;
QString explicitHome;

constexpr QFileDevice::Permissions kOwnerFolder = QFileDevice::ReadOwner | QFileDevice::WriteOwner |
                                                  QFileDevice::ExeOwner | QFileDevice::ReadUser |
                                                  QFileDevice::WriteUser | QFileDevice::ExeUser;
constexpr QFileDevice::Permissions kOwnerFile =
    QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ReadUser | QFileDevice::WriteUser;

QString withSlash(QString s) {
    if (!s.endsWith(u'/')) s += u'/';
    return s;
}
} // namespace

void setHomeFolder(const QString& dir) {
    QMutexLocker lock(&mutex);
    explicitHome = dir.isEmpty() ? QString() : withSlash(QDir(dir).absolutePath());
}

QString homeFolder() {
    {
        QMutexLocker lock(&mutex);
        if (!explicitHome.isEmpty()) return explicitHome;
    }
    const QString env = qEnvironmentVariable("ZEL_HOME");
    if (!env.isEmpty()) return withSlash(QDir(env).absolutePath());
    const QString xdg = qEnvironmentVariable("XDG_DATA_HOME");
    if (!xdg.isEmpty()) return withSlash(xdg) + QStringLiteral("zel/");
    return QDir::homePath() + QStringLiteral("/.local/share/zel/");
}

bool ensureHomeFolder() {
    const QString home = homeFolder();
    if (!QDir().mkpath(home)) return false;
    return QFile::setPermissions(home, kOwnerFolder);
}

namespace {
// Takes group and other access away from the entries of a folder (not below it).
bool tightenEntries(const QString& folder) {
    bool ok = true;
    const QFileInfoList entries =
        QDir(folder).entryInfoList(QDir::Files | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot);
    for (const QFileInfo& f : entries) {
        if (f.isSymLink() || f.ownerId() != ::geteuid()) continue;
        if ((f.permissions() & ~kOwnerFile) != 0)
            ok = QFile::setPermissions(f.filePath(), f.permissions() & kOwnerFile) && ok;
    }
    return ok;
}
} // namespace

bool secureHomeFolder() {
    // Only the program's own layout: the home folder, its files and the data folder with its files;
    // a home pointed at a folder with other things in it must not have those changed.
    const QString home = homeFolder();
    if (!QFileInfo(home).isDir()) return true;
    bool ok = QFile::setPermissions(home, kOwnerFolder) && tightenEntries(home);
    const QString data = home + QStringLiteral("data");
    const QFileInfo di(data);
    if (di.isDir() && !di.isSymLink() && di.ownerId() == ::geteuid())
        ok = QFile::setPermissions(data, kOwnerFolder) && tightenEntries(data) && ok;
    return ok;
}

QString tempFolder() {
    return withSlash(QDir::tempPath()) + QStringLiteral("zel_gf_103s/");
}

} // namespace zel
