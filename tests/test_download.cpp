// Web downloads against a real HTTP server on loopback, and fetching pictures into attachments on both
// databases, from several threads at once.
#include "StoreFixture.h"

#include "exchange/WebDownload.h"
#include "platform/Paths.h"
#include "store/Content.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QSet>
#include <QTemporaryDir>
#include <mutex>
#include <thread>

namespace zel::test {
namespace {

// The scripted server of support/http_fixture.py, started once for the whole binary.
class HttpFixture {
public:
    static HttpFixture& instance() {
        static HttpFixture f;
        return f;
    }
    QString url(const char* path) const {
        return QStringLiteral("http://127.0.0.1:%1%2").arg(port_).arg(QString::fromUtf8(path));
    }
    bool running() const { return port_ > 0; }
    QByteArray body() const {
        QByteArray b("\x89PNG-fixture-");
        for (int r = 0; r < 4; ++r)
            for (int i = 0; i < 256; ++i)
                b.append(char(i));
        return b;
    }

private:
    HttpFixture() {
        server_.start(QStringLiteral("python3"), {QStringLiteral(ZEL_HTTP_FIXTURE)});
        if (server_.waitForReadyRead(10000)) port_ = server_.readLine().trimmed().toInt();
    }
    ~HttpFixture() {
        server_.kill();
        server_.waitForFinished(3000);
    }
    QProcess server_;
    int port_ = 0;
};

QByteArray fileBytes(const QString& path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

TEST(Download, AnswersOfARealServer) {
    HttpFixture& http = HttpFixture::instance();
    ASSERT_TRUE(http.running());
    QTemporaryDir dir;
    DownloadOptions quick;
    quick.maxBytes = 1024 * 1024;
    quick.stallTimeoutMs = 2000;
    const struct {
        const char* path;
        bool ok;
        const char* error; // part of the message
    } cases[] = {
        {"/pic.png", true, ""},
        {"/chunked", true, ""}, // no Content-Length is no failure
        {"/redirect", true, ""},
        {"/missing", false, "answered 404"},
        {"/to-file", false, "other than http or https"},
        {"/big", false, "larger than 1048576"},
        {"/big-chunked", false, "larger than 1048576"},
        {"/stall", false, "stopped answering"},
    };
    for (const auto& c : cases) {
        const QString target = dir.filePath(QStringLiteral("out"));
        QElapsedTimer t;
        t.start();
        const DownloadResult r = DownloadToFile(http.url(c.path), target, quick);
        EXPECT_EQ(r.ok, c.ok) << c.path << " " << r.error.toStdString();
        EXPECT_TRUE(r.error.contains(QString::fromUtf8(c.error))) << c.path << ": " << r.error.toStdString();
        if (c.ok) {
            EXPECT_EQ(fileBytes(target), http.body()) << c.path;
        } else {
            EXPECT_FALSE(QFile::exists(target)) << c.path << ": a failed download leaves no file";
        }
    }
    // Other schemes and closed ports fail with a message, never reach a server.
    const QString target = dir.filePath(QStringLiteral("x"));
    EXPECT_TRUE(DownloadToFile(QStringLiteral("file:///etc/hostname"), target).error.contains(QStringLiteral("http")));
    EXPECT_TRUE(DownloadToFile(QStringLiteral("ftp://127.0.0.1/x"), target).error.contains(QStringLiteral("http")));
    const DownloadResult refused = DownloadToFile(QStringLiteral("http://127.0.0.1:9/x"), target, quick);
    EXPECT_FALSE(refused.ok);
    EXPECT_FALSE(refused.error.isEmpty());
}

TEST(Download, TemporaryNamesAreUniqueAcrossThreads) {
    std::mutex m;
    QSet<QString> names;
    std::vector<std::thread> threads;
    for (int t = 0; t < 8; ++t)
        threads.emplace_back([&] {
            for (int i = 0; i < 250; ++i) {
                const QString n = NextDownloadTempPath();
                std::lock_guard<std::mutex> lock(m);
                names.insert(n);
            }
        });
    for (auto& t : threads)
        t.join();
    EXPECT_EQ(names.size(), 2000);
    for (const QString& n : std::as_const(names)) {
        EXPECT_TRUE(n.startsWith(tempFolder() + QStringLiteral("stmp_sf_")));
        EXPECT_TRUE(n.endsWith(QStringLiteral(".tmp")));
        break;
    }
}

class Fetch : public StoreTest {};

TEST_P(Fetch, LocalAndWebSourcesBecomeAttachments) {
    HttpFixture& http = HttpFixture::instance();
    ASSERT_TRUE(http.running());
    const QString doc = add(QStringLiteral("0"), QStringLiteral("Doc"));
    QTemporaryDir dir;
    const QString local = dir.filePath(QStringLiteral("a picture.png"));
    {
        QFile f(local);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write("local-bytes");
    }
    QString error;
    const QString fromFile =
        FetchIntoAttachment(db(), doc, QStringLiteral("file://") + QString(local).replace(u' ', QStringLiteral("%20")),
                            QStringLiteral("a picture.png"), &error);
    ASSERT_FALSE(fromFile.isEmpty()) << error.toStdString();
    const QString fromWeb = FetchIntoAttachment(db(), doc, http.url("/pic.png"), QStringLiteral("pic.png"), &error);
    ASSERT_FALSE(fromWeb.isEmpty()) << error.toStdString();
    QByteArray bytes;
    EXPECT_EQ(ReadAttachmentById(db(), bytes, fromFile), QStringLiteral("a picture.png"));
    EXPECT_EQ(bytes, QByteArray("local-bytes"));
    EXPECT_EQ(ReadAttachmentById(db(), bytes, fromWeb), QStringLiteral("pic.png"));
    EXPECT_EQ(bytes, http.body());

    // Failures store nothing and say why.
    EXPECT_TRUE(FetchIntoAttachment(db(), doc, http.url("/missing"), QStringLiteral("m.png"), &error).isEmpty());
    EXPECT_TRUE(error.contains(QStringLiteral("404")));
    EXPECT_TRUE(
        FetchIntoAttachment(db(), doc, QStringLiteral("file:///no/such/file.png"), QStringLiteral("n.png"), &error)
            .isEmpty());
    EXPECT_EQ(CountAttachments(db(), doc), 2);
    // Nothing is left in the temporary folder.
    EXPECT_TRUE(QDir(tempFolder()).entryList({QStringLiteral("stmp_sf_*")}, QDir::Files).isEmpty());
}

TEST_P(Fetch, ThreadsWithTheirOwnConnectionsFetchAtOnce) {
    HttpFixture& http = HttpFixture::instance();
    ASSERT_TRUE(http.running());
    const QString doc = add(QStringLiteral("0"), QStringLiteral("Doc"));
    std::vector<std::unique_ptr<Database>> connections;
    for (int i = 0; i < 4; ++i)
        connections.push_back(openAnother());
    std::vector<QString> ids(4);
    std::vector<std::thread> threads;
    for (int i = 0; i < 4; ++i)
        threads.emplace_back([&, i] {
            ids[i] = FetchIntoAttachment(*connections[i], doc, http.url("/chunked"), QStringLiteral("p%1.png").arg(i));
        });
    for (auto& t : threads)
        t.join();
    for (int i = 0; i < 4; ++i) {
        ASSERT_FALSE(ids[i].isEmpty()) << i;
        QByteArray bytes;
        EXPECT_EQ(ReadAttachmentById(db(), bytes, ids[i]), QStringLiteral("p%1.png").arg(i));
        EXPECT_EQ(bytes, http.body()) << i;
    }
}

ZEL_INSTANTIATE_DB_TEST(Fetch);

} // namespace
} // namespace zel::test
