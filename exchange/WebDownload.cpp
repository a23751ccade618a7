#include "exchange/WebDownload.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QUrl>
#include <curl/curl.h>
#include <mutex>

#include "platform/Paths.h"
#include "store/Content.h"

namespace zel {

namespace {

std::atomic<qint64> downloadCounter{0};

struct Transfer {
    QFile* file = nullptr;
    qint64 written = 0;
    qint64 maxBytes = 0;
    bool tooLarge = false;
    bool writeFailed = false;
    const std::atomic<bool>* cancel = nullptr;
};

size_t writeBody(char* data, size_t size, size_t count, void* user) {
    auto* t = static_cast<Transfer*>(user);
    const qint64 n = qint64(size * count);
    if (t->written + n > t->maxBytes) {
        t->tooLarge = true;
        return 0;
    }
    if (t->file->write(data, n) != n) {
        t->writeFailed = true;
        return 0;
    }
    t->written += n;
    return size_t(n);
}

int progress(void* user, curl_off_t, curl_off_t, curl_off_t, curl_off_t) {
    auto* t = static_cast<Transfer*>(user);
    return (t->cancel && t->cancel->load()) ? 1 : 0;
}

QString text(const char* s) {
    return QString::fromUtf8(s);
}

} // namespace

QString NextDownloadTempPath() {
    QDir().mkpath(tempFolder());
    return tempFolder() + QStringLiteral("stmp_sf_") + QString::number(++downloadCounter) + QStringLiteral(".tmp");
}

DownloadResult DownloadToFile(const QString& url, const QString& localPath, const DownloadOptions& options) {
    static std::once_flag once;
    std::call_once(once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
    DownloadResult r;
    const QString lower = url.trimmed().toLower();
    if (!lower.startsWith(QStringLiteral("http://")) && !lower.startsWith(QStringLiteral("https://"))) {
        r.error = text("Only http and https addresses can be downloaded: ") + url;
        return r;
    }
    QFile file(localPath);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate)) {
        r.error = text("Cannot write ") + localPath + text(": ") + file.errorString();
        return r;
    }
    CURL* curl = curl_easy_init();
    if (!curl) {
        r.error = text("The download could not start");
        file.remove();
        return r;
    }
    Transfer t;
    t.file = &file;
    t.maxBytes = options.maxBytes;
    t.cancel = options.cancel;
    char errorText[CURL_ERROR_SIZE] = {};
    const QByteArray address = url.trimmed().toUtf8();
    curl_easy_setopt(curl, CURLOPT_URL, address.constData());
    curl_easy_setopt(curl, CURLOPT_USERAGENT, "Kavrel DownLoad File");
    curl_easy_setopt(curl, CURLOPT_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(curl, CURLOPT_REDIR_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(curl, CURLOPT_FOLLOWLOCATION, 1L);
    curl_easy_setopt(curl, CURLOPT_MAXREDIRS, 10L);
    curl_easy_setopt(curl, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(curl, CURLOPT_CONNECTTIMEOUT_MS, long(options.connectTimeoutMs));
    curl_easy_setopt(curl, CURLOPT_TIMEOUT_MS, long(options.totalTimeoutMs));
    // Less than one byte a second over the stall time counts as stalled.
    curl_easy_setopt(curl, CURLOPT_LOW_SPEED_LIMIT, 1L);
    curl_easy_setopt(curl, CURLOPT_LOW_SPEED_TIME, long(qMax(1, options.stallTimeoutMs / 1000)));
    curl_easy_setopt(curl, CURLOPT_MAXFILESIZE_LARGE, curl_off_t(options.maxBytes));
    curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, &writeBody);
    curl_easy_setopt(curl, CURLOPT_WRITEDATA, &t);
    curl_easy_setopt(curl, CURLOPT_NOPROGRESS, 0L);
    curl_easy_setopt(curl, CURLOPT_XFERINFOFUNCTION, &progress);
    curl_easy_setopt(curl, CURLOPT_XFERINFODATA, &t);
    curl_easy_setopt(curl, CURLOPT_ERRORBUFFER, errorText);
    const CURLcode rc = curl_easy_perform(curl);
    curl_easy_getinfo(curl, CURLINFO_RESPONSE_CODE, &r.status);
    long redirects = 0;
    curl_easy_getinfo(curl, CURLINFO_REDIRECT_COUNT, &redirects);
    char* redirectTo = nullptr;
    curl_easy_getinfo(curl, CURLINFO_REDIRECT_URL, &redirectTo);
    const QString redirectTarget = redirectTo ? QString::fromUtf8(redirectTo) : QString();
    curl_easy_cleanup(curl);
    file.close();
    r.bytes = t.written;
    const QString limit = QString::number(options.maxBytes);
    if (rc == CURLE_OK && r.status >= 200 && r.status < 300) {
        r.ok = true;
        return r;
    }
    if (rc == CURLE_OK)
        r.error = text("The server answered ") + QString::number(r.status) + text(" for ") + url;
    else if (t.tooLarge || rc == CURLE_FILESIZE_EXCEEDED)
        r.error = text("The file is larger than ") + limit + text(" bytes: ") + url;
    else if (rc == CURLE_UNSUPPORTED_PROTOCOL && (redirects > 0 || !redirectTarget.isEmpty()))
        r.error = text("A redirect to an address other than http or https was refused: ") + url;
    else if (rc == CURLE_OPERATION_TIMEDOUT)
        r.error = text("The server stopped answering: ") + url;
    else if (rc == CURLE_ABORTED_BY_CALLBACK)
        r.error = text("The download was cancelled: ") + url;
    else if (t.writeFailed)
        r.error = text("Cannot write ") + localPath;
    else
        r.error = text(errorText[0] ? errorText : curl_easy_strerror(rc)) + text(": ") + url;
    QFile::remove(localPath);
    return r;
}

QString FetchIntoAttachment(Database& db, const QString& nodeId, const QString& source, const QString& fileName,
                            QString* error, const DownloadOptions& options) {
    const QString decoded = QString(source).replace(QStringLiteral("%20"), QStringLiteral(" "));
    if (decoded.left(5).toLower() == QStringLiteral("file:")) {
        // A proper file URL may carry any escape; older references only "%20".
        const QUrl asUrl(source.trimmed());
        const QString path = asUrl.isLocalFile() ? asUrl.toLocalFile() : FileReferenceToPath(source);
        if (!QFileInfo(path).isFile()) {
            if (error) *error = text("No such file: ") + path;
            return {};
        }
        const QString id = SaveAttachmentFromFile(db, nodeId, path, fileName);
        if (id.isEmpty() && error) *error = text("The attachment could not be stored: ") + fileName;
        return id;
    }
    const QString temp = NextDownloadTempPath();
    const DownloadResult r = DownloadToFile(source, temp, options);
    if (!r.ok) {
        if (error) *error = r.error;
        return {};
    }
    const QString id = SaveAttachmentFromFile(db, nodeId, QStringLiteral("File:/") + temp, fileName);
    QFile::remove(temp);
    if (id.isEmpty() && error) *error = text("The attachment could not be stored: ") + fileName;
    return id;
}

} // namespace zel
