#include "shell/Resources.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QMutex>

namespace zel {

namespace {
QMutex mutex;
QString overridden;

QString withSlash(QString s) {
    if (!s.endsWith(u'/')) s += u'/';
    return s;
}

bool holdsResources(const QString& dir) {
    return QFileInfo(dir + QStringLiteral("/language")).isDir();
}
} // namespace

void setProgramDirectory(const QString& dir) {
    QMutexLocker lock(&mutex);
    overridden = dir.isEmpty() ? QString() : withSlash(QDir(dir).absolutePath());
}

QString programDirectory() {
    {
        QMutexLocker lock(&mutex);
        if (!overridden.isEmpty()) return overridden;
    }
    const QString env = qEnvironmentVariable("ZEL_RESOURCES");
    if (!env.isEmpty()) return withSlash(QDir(env).absolutePath());
    const QString appDir = QCoreApplication::instance() ? QCoreApplication::applicationDirPath() : QString();
    if (!appDir.isEmpty()) {
        const QString installed = QDir(appDir + QStringLiteral("/../share/zel")).absolutePath();
        if (holdsResources(installed)) return withSlash(installed);
        if (holdsResources(appDir)) return withSlash(appDir);
    }
#ifdef ZEL_SOURCE_RESOURCES
    return withSlash(QString::fromUtf8(ZEL_SOURCE_RESOURCES));
#else
    return withSlash(appDir);
#endif
}

} // namespace zel
