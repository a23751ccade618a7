// Mail benchmark: prints figures, asserts nothing.
//   mail_bench [--messages N] [--pg HOST:PORT] [--pg-user USER] [--skip-sqlite] [--skip-big]
//              [--pop3 PORT --maildir DIR/USER/Maildir --ca-file CA]   (Dovecot: scripts/mail-test-servers.sh)
// 1. A 30 MB message with a 5 MB HTML line: decode and store, time and peak memory growth (first, so
//    that the peak belongs to it).
// 2. N typical messages (mean about 100 KB: HTML with a plain alternative; a fifth with two pictures,
//    one in twenty with a 0.5-1 MB file) converted into documents, on SQLite and PostgreSQL.
// 3. The same from Dovecot: downloaded, spooled, converted, deleted; plain text and STLS; and a bare
//    python3 poplib download of the same mailbox as the floor.
#include <QCoreApplication>
#include <QDateTime>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <cstdio>
#include <sys/resource.h>

#include "mail/MailAccounts.h"
#include "mail/TMail.h"
#include "mail/TMimeDecorder.h"
#include "mail/TMimeDecorderTrd.h"
#include "platform/Database.h"
#include "platform/SqliteFile.h"
#include "store/Catalogue.h"
#include "store/KnowledgeBase.h"
#include "store/Nodes.h"
#include "store/Schema.h"
#include "store/Users.h"

using namespace zel;

namespace {

QByteArray randomBytes(QRandomGenerator& rng, int n) {
    QByteArray b(n, Qt::Uninitialized);
    for (char& c : b)
        c = char(rng.bounded(256));
    return b;
}

QByteArray base64Lines(const QByteArray& data) {
    const QByteArray b = data.toBase64();
    QByteArray out;
    out.reserve(b.size() + b.size() / 76 * 2 + 2);
    for (qsizetype i = 0; i < b.size(); i += 76)
        out += b.mid(i, 76) + "\r\n";
    return out;
}

QByteArray htmlText(QRandomGenerator& rng, int bytes) {
    static const char* words[] = {"knowledge", "tree",  "document", "mail",       "the",    "of", "and", "report",
                                  "meeting",   "Grüße", "project",  "attachment", "review", "a",  "to"};
    QByteArray out = "<html><head><meta charset=\"utf-8\"></head><body>";
    while (out.size() < bytes) {
        out += "<p>";
        for (int i = 0; i < 40; ++i)
            out += QByteArray(words[rng.bounded(15)]) + ' ';
        out += "</p>\r\n";
    }
    return out + "</body></html>";
}

QByteArray typicalMessage(QRandomGenerator& rng, int i) {
    const QByteArray html = htmlText(rng, 12000 + int(rng.bounded(16000)));
    QByteArray plain = html;
    plain.replace("<p>", "").replace("</p>", "");
    QByteArray m = "From: Sender " + QByteArray::number(i) +
                   " <s@example.org>\r\nTo: r@example.org\r\nSubject: "
                   "=?utf-8?Q?Message_" +
                   QByteArray::number(i) +
                   "_gr=C3=BC=C3=9Fe?=\r\nMIME-Version: 1.0\r\n"
                   "Content-Type: multipart/mixed; boundary=\"mix\"\r\n\r\n--mix\r\n"
                   "Content-Type: multipart/related; boundary=\"rel\"\r\n\r\n--rel\r\n"
                   "Content-Type: multipart/alternative; boundary=\"alt\"\r\n\r\n--alt\r\n"
                   "Content-Type: text/plain; charset=utf-8\r\nContent-Transfer-Encoding: 8bit\r\n\r\n" +
                   plain + "\r\n--alt\r\nContent-Type: text/html; charset=utf-8\r\n\r\n";
    const bool pictures = i % 5 == 0;
    QByteArray body = html;
    if (pictures) body.replace("</body>", "<img src=\"cid:p1\"><img src=\"cid:p2\"></body>");
    m += body + "\r\n--alt--\r\n";
    if (pictures)
        for (const char* id : {"p1", "p2"})
            m += "--rel\r\nContent-Type: image/jpeg\r\nContent-ID: <" + QByteArray(id) +
                 ">\r\nContent-Transfer-Encoding: base64\r\n\r\n" +
                 base64Lines(randomBytes(rng, 40000 + int(rng.bounded(40000))));
    m += "--rel--\r\n";
    if (i % 20 == 7)
        m += "--mix\r\nContent-Type: application/pdf; name=\"file.pdf\"\r\nContent-Disposition: attachment; "
             "filename=\"file.pdf\"\r\nContent-Transfer-Encoding: base64\r\n\r\n" +
             base64Lines(randomBytes(rng, 500000 + int(rng.bounded(500000))));
    return m + "--mix--\r\n";
}

// CPU seconds of the process so far (user + system), to tell work from waiting on the disk.
double cpuSeconds() {
    rusage u{};
    getrusage(RUSAGE_SELF, &u);
    return double(u.ru_utime.tv_sec + u.ru_stime.tv_sec) + double(u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

qint64 peakRssKb() {
    QFile f(QStringLiteral("/proc/self/status"));
    if (!f.open(QIODevice::ReadOnly)) return 0;
    for (const QByteArray& line : f.readAll().split('\n'))
        if (line.startsWith("VmHWM:")) return line.mid(6).trimmed().split(' ').value(0).toLongLong();
    return 0;
}

bool makeSqlite(QTemporaryDir& tmp, Database& db) {
    return createSqliteFile(tmp.path() + QStringLiteral("/bench.skm")) &&
           db.open(BuildConnectionString(0, tmp.path() + u'/', QStringLiteral("bench.skm"), QString(), QString())) &&
           CreateSchema(db, QStringLiteral("admin"), QString());
}

QString folder(Database& db, const char* caption) {
    Tinfoproperty p;
    p.caption = QString::fromUtf8(caption);
    return InsertNode(db, p, QStringLiteral("0"));
}

void convertAll(Database& db, const char* label, const QList<QByteArray>& messages) {
    const QString f = folder(db, "Bench");
    qint64 bytes = 0;
    for (const QByteArray& m : messages)
        bytes += m.size();
    QElapsedTimer t;
    t.start();
    const double cpu0 = cpuSeconds();
    int failed = 0;
    for (const QByteArray& m : messages)
        if (ConvertMessage(db, m, f, QStringLiteral("I")).isEmpty()) ++failed;
    const double s = double(t.nsecsElapsed()) / 1e9;
    printf("convert %-10s %d messages, %.1f MB: %.2f s (%.2f ms a message), CPU %.2f s%s\n", label,
           int(messages.size()), double(bytes) / 1e6, s, s * 1000 / double(messages.size()), cpuSeconds() - cpu0,
           failed ? " FAILURES" : "");
}

void fillMaildir(const QString& maildir, const QList<QByteArray>& messages) {
    for (const char* sub : {"/new", "/cur"}) {
        QDir d(maildir + QString::fromUtf8(sub));
        for (const QString& f : d.entryList(QDir::Files))
            d.remove(f);
    }
    for (qsizetype i = 0; i < messages.size(); ++i) {
        // Names never used before: the server remembers expunged ones.
        QFile f(maildir + QStringLiteral("/new/%1.%2.bench").arg(QDateTime::currentMSecsSinceEpoch()).arg(i));
        if (!f.open(QIODevice::WriteOnly)) return;
        f.write(messages[i]);
        f.close();
        f.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ReadOther |
                         QFileDevice::WriteOther);
    }
}

void receiveAll(const QString& maildir, int port, const QString& caFile, MailTls tls, const char* label,
                const QList<QByteArray>& messages) {
    QTemporaryDir tmp;
    Database db;
    if (!makeSqlite(tmp, db)) return;
    CurrentUser().code = QStringLiteral("admin");
    TMailReg a;
    a.name = QStringLiteral("bench");
    a.pop3 = QStringLiteral("127.0.0.1");
    a.pop3Port = port;
    a.popAccount = maildir.section(u'/', -2, -2);
    a.popPassword = QStringLiteral("secret");
    a.pop3Tls = tls;
    a.allowPlain = tls == MailTls::None;
    a.caFile = caFile;
    InsertAccount(db, a, QStringLiteral("admin"));
    fillMaildir(maildir, messages);
    QElapsedTimer t;
    t.start();
    const double cpu0 = cpuSeconds();
    TMail run(db.connectionString(), TMail::ReceiveOnly, QStringLiteral("admin"));
    run.start();
    run.wait();
    const double downloaded = double(t.nsecsElapsed()) / 1e9;
    TMimeDecorderTrd::waitIdle();
    const double s = double(t.nsecsElapsed()) / 1e9;
    const int docs = db.scalar(QStringLiteral("select count(*) from info where parentnode=:p"),
                               {{QStringLiteral(":p"), a.incomingId.toLongLong()}})
                         .toInt();
    QString text;
    for (const TMail::Result& r : run.results())
        text += r.text + u' ';
    printf("receive %-10s %d messages stored, converted, deleted: %.2f s (download phase %.2f s), CPU %.2f s [%s]\n",
           label, docs, s, downloaded, cpuSeconds() - cpu0, qPrintable(text.trimmed()));
}

void poplibFloor(const QString& maildir, int port, const QList<QByteArray>& messages) {
    fillMaildir(maildir, messages);
    const QString script =
        QStringLiteral("import poplib,sys,time\n"
                       "t=time.time(); p=poplib.POP3('127.0.0.1',%1); p.user('%2'); p.pass_('secret')\n"
                       "n=len(p.list()[1])\n"
                       "for i in range(n,0,-1): p.retr(i); p.dele(i)\n"
                       "p.quit(); print('%.2f' % (time.time()-t), n)\n")
            .arg(port)
            .arg(maildir.section(u'/', -2, -2));
    QProcess p;
    p.start(QStringLiteral("python3"), {QStringLiteral("-c"), script});
    p.waitForFinished(600000);
    const QList<QByteArray> out = p.readAllStandardOutput().trimmed().split(' ');
    printf("receive %-10s %s messages downloaded and deleted, nothing stored: %s s\n", "poplib",
           out.value(1).constData(), out.value(0).constData());
}

void bigMessage(Database& db) {
    QRandomGenerator rng(7);
    QByteArray line = "<p>";
    while (line.size() < 5 * 1000 * 1000)
        line += "a long line of html text with <b>markup</b> and &amp; entities ";
    line += "<img src=\"cid:pic\"></p>";
    QByteArray m = "From: s@example.org\r\nSubject: big\r\nContent-Type: multipart/related; boundary=\"b\"\r\n\r\n"
                   "--b\r\nContent-Type: text/html; charset=utf-8\r\n\r\n<html><body>" +
                   line +
                   "</body></html>\r\n--b\r\nContent-Type: image/jpeg\r\nContent-ID: <pic>\r\n"
                   "Content-Transfer-Encoding: base64\r\n\r\n" +
                   base64Lines(randomBytes(rng, 18 * 1000 * 1000)) + "--b--\r\n";
    const QString f = folder(db, "Big");
    // Start the peak afresh: making the message had its own.
    QFile clear(QStringLiteral("/proc/self/clear_refs"));
    if (clear.open(QIODevice::WriteOnly)) clear.write("5");
    clear.close();
    const qint64 before = peakRssKb();
    QElapsedTimer t;
    t.start();
    const double cpu0 = cpuSeconds();
    const QString node = ConvertMessage(db, m, f, QStringLiteral("I"));
    const double s = double(t.nsecsElapsed()) / 1e9;
    const double cpu = cpuSeconds() - cpu0;
    const qint64 after = peakRssKb();
    printf("big     %.1f MB message with a %.1f MB HTML line: %.2f s, CPU %.2f s%s; peak memory grew %.0f MB (%.1fx "
           "the message)\n",
           double(m.size()) / 1e6, double(line.size()) / 1e6, s, cpu, node.isEmpty() ? " FAILED" : "",
           double(after - before) / 1000, double(after - before) * 1000 / double(m.size()));
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    setvbuf(stdout, nullptr, _IOLBF, 0); // figures appear as they are measured, also in a file
    const QStringList args = app.arguments();
    auto option = [&](const QString& name, const QString& fallback) {
        const qsizetype i = args.indexOf(name);
        return i >= 0 && i + 1 < args.size() ? args[i + 1] : fallback;
    };
    const int n = option(QStringLiteral("--messages"), QStringLiteral("1000")).toInt();
    const QString pg = option(QStringLiteral("--pg"), qEnvironmentVariable("ZEL_TEST_PG"));
    const QString pgUser = option(QStringLiteral("--pg-user"), QStringLiteral("postgres"));
    CurrentUser().code = QStringLiteral("admin");
    CurrentUser().name = QStringLiteral("admin");

    if (!args.contains(QStringLiteral("--skip-big"))) {
        QTemporaryDir tmp;
        Database db;
        if (makeSqlite(tmp, db)) bigMessage(db);
    }

    QRandomGenerator rng(42);
    QList<QByteArray> messages;
    qint64 total = 0;
    for (int i = 0; i < n; ++i) {
        messages << typicalMessage(rng, i);
        total += messages.last().size();
    }
    printf("messages: %d, mean %.0f KB\n", n, double(total) / n / 1000);

    if (!args.contains(QStringLiteral("--skip-sqlite"))) {
        QTemporaryDir tmp;
        Database db;
        if (!makeSqlite(tmp, db)) {
            fprintf(stderr, "cannot make the SQLite knowledge base\n");
            return 1;
        }
        convertAll(db, "SQLite", messages);
    }
    if (!pg.isEmpty()) {
        const QString name = QStringLiteral("zel_mailbench_%1").arg(QCoreApplication::applicationPid());
        Database server;
        if (TryConnect(server, 1, pg, QString(), pgUser, QString()) && CreateServerDatabase(server, name)) {
            {
                Database db;
                if (db.open(BuildConnectionString(1, pg, name, QString(), pgUser)) &&
                    CreateSchema(db, QStringLiteral("admin"), QString()))
                    convertAll(db, "PostgreSQL", messages);
            }
            server.exec(QStringLiteral("drop database if exists ") + name + QStringLiteral(" with (force)"));
        }
    } else {
        printf("convert PostgreSQL: skipped (give --pg HOST:PORT or set ZEL_TEST_PG)\n");
    }

    const int port = option(QStringLiteral("--pop3"), qEnvironmentVariable("ZEL_TEST_POP3_PORT")).toInt();
    QString maildir = option(QStringLiteral("--maildir"), QString());
    if (maildir.isEmpty() && !qEnvironmentVariable("ZEL_TEST_MAILDIR").isEmpty())
        maildir = qEnvironmentVariable("ZEL_TEST_MAILDIR") + QStringLiteral("/bob/Maildir");
    const QString ca = option(QStringLiteral("--ca-file"), qEnvironmentVariable("ZEL_TEST_MAIL_CA"));
    if (port > 0 && !maildir.isEmpty()) {
        poplibFloor(maildir, port, messages);
        receiveAll(maildir, port, ca, MailTls::None, "plain", messages);
        receiveAll(maildir, port, ca, MailTls::StartTls, "STLS", messages);
    } else {
        printf("receive: skipped (give --pop3 PORT --maildir DIR or run under scripts/mail-test-servers.sh)\n");
    }
    return 0;
}
