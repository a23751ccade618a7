#include "platform/Paths.h"

#include <QDir>
#include <QMutex>
#include <QMutexLocker>

namespace zel {

namespace {
QMutex mutex;
QString explicitHome;

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
    return QDir().mkpath(homeFolder());
}

QString tempFolder() {
    return withSlash(QDir::tempPath()) + QStringLiteral("zel_gf_103s/");
}

} // namespace zel
