#pragma once

#include <QString>
#include <atomic>
#include <functional>

namespace zel {

class Database;

struct DownloadOptions {
    int connectTimeoutMs = 15000;
    // A transfer that moves no byte for this long is given up.
    int stallTimeoutMs = 20000;
    int totalTimeoutMs = 300000;
    qint64 maxBytes = 64LL * 1024 * 1024;
    // Set from another thread to stop the transfer.
    const std::atomic<bool>* cancel = nullptr;
};

struct DownloadResult {
    bool ok = false;
    QString error; // why it failed, for the user
    long status = 0;
    qint64 bytes = 0;
};

// Fetches an http or https URL into a local file (blocking, on the calling thread). Redirects are
// followed only to http and https; a status other than 2xx, a body over the size limit, a stalled or
// slow transfer and a cancel all fail with the file removed.
DownloadResult DownloadToFile(const QString& url, const QString& localPath, const DownloadOptions& options = {});

// A fresh temporary download file: the temporary folder + "stmp_sf_" + counter + ".tmp". The counter
// is shared by every thread and never hands out a number twice.
QString NextDownloadTempPath();

// Brings a "file:" or "http(s):" resource into an attachment of the node under fileName; returns the
// attachment id, empty when nothing was stored (error says why).
QString FetchIntoAttachment(Database& db, const QString& nodeId, const QString& source, const QString& fileName,
                            QString* error = nullptr, const DownloadOptions& options = {});

} // namespace zel
