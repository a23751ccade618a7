#include "store/DocumentUnlocks.h"

#include <QMutex>
#include <QMutexLocker>

namespace zel {

namespace {
QMutex mutex;
QSet<qint64> unlocked;
} // namespace

void RememberDocumentUnlocked(qint64 id) {
    QMutexLocker lock(&mutex);
    unlocked.insert(id);
}

QSet<qint64> UnlockedDocuments() {
    QMutexLocker lock(&mutex);
    return unlocked;
}

void ForgetUnlockedDocuments() {
    QMutexLocker lock(&mutex);
    unlocked.clear();
}

} // namespace zel
