// Times outgoing mail on an SQLite knowledge base in a temporary folder: assembling messages from
// stored documents (PrepareMail + ComposeMail + BuildMessage), and sending them over loopback to a
// minimal SMTP sink in this process.
//
//   mail_send_bench [--messages N]
//
// Typical message: 100 KB of HTML with one 50 KB picture; large: a 5 MB HTML line and a 25 MB file.
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QRandomGenerator>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QThread>
#include <cstdio>

#include "mail/MailSend.h"
#include "platform/Database.h"
#include "store/Catalogue.h"
#include "store/Content.h"
#include "store/KnowledgeBase.h"
#include "store/Nodes.h"
#include "store/Schema.h"

using namespace zel;

namespace {

long peakRssKb() {
    QFile f(QStringLiteral("/proc/self/status"));
    if (!f.open(QIODevice::ReadOnly)) return 0;
    for (const QByteArray& line : f.readAll().split('\n'))
        if (line.startsWith("VmHWM:")) return line.mid(6).trimmed().split(' ').first().toLong();
    return 0;
}

// Accepts one connection after another and answers every command; counts the messages.
class Sink : public QThread {
public:
    quint16 port = 0;
    std::atomic<int> messages{0};
    void run() override {
        QTcpServer server;
        server.listen(QHostAddress::LocalHost, 0);
        port = server.serverPort();
        ready = true;
        while (!isInterruptionRequested()) {
            if (!server.waitForNewConnection(100)) continue;
            std::unique_ptr<QTcpSocket> s(server.nextPendingConnection());
            s->write("220 sink\r\n");
            QByteArray buf;
            bool data = false;
            while (s->state() == QAbstractSocket::ConnectedState && !isInterruptionRequested()) {
                if (!s->waitForReadyRead(100)) continue;
                buf += s->readAll();
                for (;;) {
                    if (data) {
                        const qsizetype end = buf.indexOf("\r\n.\r\n");
                        if (end < 0) break;
                        buf.remove(0, end + 5);
                        data = false;
                        ++messages;
                        s->write("250 ok\r\n");
                        continue;
                    }
                    const qsizetype lf = buf.indexOf("\r\n");
                    if (lf < 0) break;
                    const QByteArray verb = buf.left(4).toUpper();
                    buf.remove(0, lf + 2);
                    if (verb == "EHLO") {
                        s->write("250-sink\r\n250 8BITMIME\r\n");
                    } else if (verb == "DATA") {
                        s->write("354 go\r\n");
                        data = true;
                    } else if (verb == "QUIT") {
                        s->write("221 bye\r\n");
                        s->waitForBytesWritten(1000);
                        s->disconnectFromHost();
                        break;
                    } else {
                        s->write("250 ok\r\n");
                    }
                }
                if (s->state() == QAbstractSocket::ConnectedState) s->waitForBytesWritten(100);
            }
        }
    }
    std::atomic<bool> ready{false};
};

QString html(qsizetype bytes, const QString& pictureId) {
    QString s = QStringLiteral("<html><body><p>Report</p><img src=\"link://document/__zel_@cid:/%1\">").arg(pictureId);
    const QString para = QStringLiteral("<p>Lorem ipsum dolor sit amet, consectetur adipiscing elit, sed do "
                                        "eiusmod tempor \u00fcber r\u00e9sum\u00e9.</p>\r\n");
    while (s.size() < bytes)
        s += para;
    return s + QStringLiteral("</body></html>");
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    int count = 200;
    const QStringList args = app.arguments();
    if (args.indexOf(QStringLiteral("--messages")) > 0)
        count = args.value(args.indexOf(QStringLiteral("--messages")) + 1).toInt();
    QTemporaryDir dir;
    Database db;
    if (!CreateAccessDatabase(dir.path(), QStringLiteral("bench.skm"), QString()) ||
        !db.open(BuildConnectionString(
            CatalogueEntry::make(0, QStringLiteral("b"), dir.path(), QStringLiteral("bench.skm"), {}, {}))) ||
        !CreateSchema(db, QStringLiteral("admin"), QString()) ||
        !EnsureSystemFolder(db, QStringLiteral("outbox"), QStringLiteral("Outbox")) ||
        !EnsureSystemFolder(db, QStringLiteral("sendbox"), QStringLiteral("Sent"))) {
        std::fprintf(stderr, "cannot make the knowledge base: %s\n", qPrintable(db.lastError()));
        return 1;
    }
    QByteArray picture(50 * 1024, Qt::Uninitialized);
    for (char& c : picture)
        c = char(QRandomGenerator::global()->bounded(256));

    // Typical documents, queued for the account "work".
    Tinfoproperty rec;
    rec.caption = QStringLiteral("Doc");
    const QString doc = InsertNode(db, rec, QStringLiteral("0"));
    const QString pic = SaveAttachmentFromStream(db, picture, doc, QStringLiteral("chart.png"));
    WriteDocumentText(db, doc, html(100 * 1024, pic));
    TMailmsgReg row;
    row.account = QStringLiteral("work");
    row.mailAddress = QStringLiteral("a@example.test");
    row.subject = QStringLiteral("Bericht f\u00fcr M\u00e4rz");
    QStringList queued;
    for (int i = 0; i < count; ++i)
        queued += StoreOutgoingMessage(db, doc, row, nullptr);

    QElapsedTimer t;
    t.start();
    qint64 bytes = 0;
    for (const QString& id : queued) {
        PreparedMail m;
        PrepareMail(db, id, m, nullptr);
        TSmtpCli c;
        ComposeMail(c, m, true);
        bytes += c.BuildMessage().size();
    }
    const double assemble = double(t.nsecsElapsed()) / 1e6;
    std::printf("assemble %d typical messages (100 KB HTML + 50 KB picture): %.1f ms, %.2f ms a message, %.1f MB\n",
                count, assemble, assemble / count, double(bytes) / 1e6);

    Sink sink;
    sink.start();
    while (!sink.ready)
        QThread::msleep(5);
    SmtpAccount acc;
    acc.name = QStringLiteral("work");
    acc.mailAddress = QStringLiteral("me@example.test");
    acc.smtpHost = QStringLiteral("127.0.0.1");
    acc.smtpPort = sink.port;
    SendRun run(db);
    t.restart();
    SendAccount(run, acc);
    const double send = double(t.nsecsElapsed()) / 1e6;
    std::printf("send %d typical messages over one loopback connection, claimed and moved to the sent box: "
                "%.1f ms, %.2f ms a message (%d sent, %d errors, sink got %d)\n",
                count, send, send / count, run.sentCount, run.errorCount, sink.messages.load());

    // One large message: a 5 MB HTML line and a 25 MB attachment.
    rec.caption = QStringLiteral("Large");
    const QString big = InsertNode(db, rec, QStringLiteral("0"));
    QByteArray file(25 * 1024 * 1024, Qt::Uninitialized);
    for (char& c : file)
        c = char(QRandomGenerator::global()->bounded(256));
    SaveAttachmentFromStream(db, file, big, QStringLiteral("data.bin"));
    file.clear();
    WriteDocumentText(db, big,
                      QStringLiteral("<html><body><p>") + QString(5 * 1024 * 1024, u'x') +
                          QStringLiteral("</p></body></html>"));
    const QString bigOut = StoreOutgoingMessage(db, big, row, nullptr);
    const long rssBefore = peakRssKb();
    t.restart();
    PreparedMail m;
    PrepareMail(db, bigOut, m, nullptr);
    TSmtpCli c;
    ComposeMail(c, m, true);
    const QByteArray built = c.BuildMessage();
    const double large = double(t.nsecsElapsed()) / 1e6;
    std::printf("assemble a 30 MB message (5 MB HTML line, quoted-printable; 25 MB file): %.1f ms, %.1f MB, "
                "peak RSS %.1f MB (%.1f MB before)\n",
                large, double(built.size()) / 1e6, double(peakRssKb()) / 1024, double(rssBefore) / 1024);
    sink.requestInterruption();
    sink.wait();
    return 0;
}
