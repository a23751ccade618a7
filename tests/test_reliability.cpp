// The store under concurrent zel-cli processes, crashes and unfriendly input, on both databases: real
// processes against real SQLite files and the PostgreSQL test server. Every concurrency test ends with
// the path-consistency check.
#include <gtest/gtest.h>

#include "platform/Database.h"
#include "platform/SqliteFile.h"
#include "store/Catalogue.h"
#include "support/PathCheck.h"
#include "support/TestKb.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QThread>
#include <atomic>
#include <memory>
#include <sys/stat.h>

using namespace zel;

namespace {

struct CliRun {
    int status = -1;
    QString out, err;
    QByteArray raw;
};

// A home folder with one knowledge base "t" (admin, empty password) made by zel-cli itself.
class CliKb : public ::testing::Test {
protected:
    void makeKb(Dialect d) {
        dialect_ = d;
        if (d == Dialect::Postgres && !test::postgresAvailable()) {
            if (!qEnvironmentVariable("CI").isEmpty()) FAIL() << "ZEL_TEST_PG is not set under CI";
            GTEST_SKIP() << "no PostgreSQL test server";
        }
        ASSERT_TRUE(home_.isValid());
        QStringList args{"kb", "new", "t"};
        if (d == Dialect::Sqlite) {
            args << "--folder" << dataFolder() << "--file"
                 << "t.skm";
            conn_ = BuildConnectionString(0, dataFolder(), QStringLiteral("t.skm"), {}, {});
        } else {
            static std::atomic<int> counter{0};
            dbName_ = QStringLiteral("zel_rel_%1_%2").arg(QCoreApplication::applicationPid()).arg(counter++);
            test::ScratchDb::dropServerDatabase(dbName_);
            args << "--server" << test::postgresServer() << "--database" << dbName_ << "--db-user"
                 << test::postgresUser();
            conn_ = BuildConnectionString(1, test::postgresServer(), dbName_, {}, test::postgresUser());
        }
        args << "--admin"
             << "admin";
        const CliRun r = run(args, false);
        ASSERT_EQ(r.status, 0) << r.err.toStdString();
    }
    void TearDown() override {
        if (!dbName_.isEmpty()) test::ScratchDb::dropServerDatabase(dbName_);
    }

    QString dataFolder() const { return home_.path() + QStringLiteral("/data/"); }
    QString kbFile() const { return dataFolder() + QStringLiteral("t.skm"); }
    QStringList sessionArgs(bool session) const {
        QStringList all{"--home", home_.path()};
        if (session)
            all << "-k"
                << "t"
                << "-u"
                << "admin"
                << "-p" << QString();
        return all;
    }

    CliRun run(const QStringList& args, bool session = true, const QString& stdoutFile = {}) {
        QProcess p;
        if (!stdoutFile.isEmpty()) p.setStandardOutputFile(stdoutFile);
        p.start(QStringLiteral(ZEL_CLI_PATH), sessionArgs(session) + args);
        EXPECT_TRUE(p.waitForFinished(120000)) << args.join(u' ').toStdString();
        CliRun r;
        r.status = p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
        r.raw = p.readAllStandardOutput();
        r.out = QString::fromUtf8(r.raw).trimmed();
        r.err = QString::fromUtf8(p.readAllStandardError()).trimmed();
        if (p.state() != QProcess::NotRunning) {
            p.kill();
            p.waitForFinished();
        }
        return r;
    }
    QString ok(const QStringList& args) {
        const CliRun r = run(args);
        EXPECT_EQ(r.status, 0) << args.join(u' ').toStdString() << ": " << r.err.toStdString();
        return r.out;
    }
    void fails(const QStringList& args, const char* messagePart) {
        const CliRun r = run(args);
        EXPECT_EQ(r.status, 1) << args.join(u' ').toStdString() << " " << r.out.toStdString();
        EXPECT_TRUE(r.err.contains(QString::fromUtf8(messagePart)))
            << args.join(u' ').toStdString() << ": " << r.err.toStdString();
    }

    // A bash script with z() running zel-cli in the session; started, not waited for.
    std::unique_ptr<QProcess> startScript(const QString& body) {
        auto p = std::make_unique<QProcess>();
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("ZCLI"), QStringLiteral(ZEL_CLI_PATH));
        env.insert(QStringLiteral("ZHOME"), home_.path());
        p->setProcessEnvironment(env);
        p->start(QStringLiteral("bash"),
                 {"-c", QStringLiteral("z() { \"$ZCLI\" --home \"$ZHOME\" -k t -u admin -p '' \"$@\"; }\n") + body});
        EXPECT_TRUE(p->waitForStarted());
        return p;
    }
    static QStringList finish(QProcess& p) {
        EXPECT_TRUE(p.waitForFinished(600000));
        return QString::fromUtf8(p.readAllStandardOutput()).split(u'\n', Qt::SkipEmptyParts);
    }

    std::unique_ptr<Database> open() {
        auto db = std::make_unique<Database>();
        EXPECT_TRUE(db->open(conn_)) << db->lastError().toStdString();
        return db;
    }
    QVariant value(const QString& sql, const Params& p = {}) { return open()->scalar(sql, p); }
    QString state(const QString& id) {
        return value(QStringLiteral("select hasdelete from info where id=:id"), {{":id", id.toLongLong()}}).toString();
    }
    QString parentOf(const QString& id) {
        return value(QStringLiteral("select parentnode from info where id=:id"), {{":id", id.toLongLong()}}).toString();
    }
    void expectPathsConsistent() {
        auto db = open();
        const QStringList problems = test::PathProblems(*db);
        EXPECT_TRUE(problems.isEmpty()) << problems.join(u'\n').toStdString();
    }
    QString file(const QString& name, const QByteArray& bytes) {
        const QString path = home_.path() + u'/' + name;
        QFile f(path);
        EXPECT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
        f.write(bytes);
        return path;
    }

    QTemporaryDir home_;
    Dialect dialect_ = Dialect::Sqlite;
    QString dbName_;
    QString conn_;
};

class Reliability : public CliKb, public ::testing::WithParamInterface<Dialect> {
protected:
    void SetUp() override { makeKb(GetParam()); }
};

class FileKb : public CliKb {
protected:
    void SetUp() override { makeKb(Dialect::Sqlite); }
};

// Three writers add nodes while maintenance runs in a loop: every add reported as done is stored,
// once, and the ids are distinct.
TEST_P(Reliability, WritersAndMaintenanceLoseNothing) {
    std::vector<std::unique_ptr<QProcess>> writers;
    for (int w = 1; w <= 3; ++w)
        writers.push_back(startScript(QStringLiteral("for i in $(seq 1 15); do if out=$(z node add 0 w%1_$i 2>&1); "
                                                     "then echo \"ADD $out w%1_$i\"; else echo \"FAIL $out\"; fi; done")
                                          .arg(w)));
    auto maintenance = startScript(QStringLiteral("for i in $(seq 1 6); do z maintain >/dev/null 2>&1; echo \"M $?\"; "
                                                  "done"));
    QHash<qint64, QString> added;
    QStringList failed;
    for (auto& w : writers)
        for (const QString& line : finish(*w)) {
            const QStringList f = line.split(u' ');
            if (f[0] == QStringLiteral("ADD")) {
                EXPECT_FALSE(added.contains(f[1].toLongLong())) << "id handed out twice: " << f[1].toStdString();
                added.insert(f[1].toLongLong(), f[2]);
            } else {
                failed << line;
            }
        }
    int maintained = 0;
    for (const QString& line : finish(*maintenance)) {
        EXPECT_TRUE(line == QStringLiteral("M 0") || line == QStringLiteral("M 1")) << line.toStdString();
        maintained += line == QStringLiteral("M 0");
    }
    EXPECT_TRUE(failed.isEmpty()) << failed.join(u'\n').toStdString();
    EXPECT_GT(maintained, 0);
    auto db = open();
    // All of them started on a new knowledge base: the system folders were made once.
    EXPECT_EQ(
        db->scalar(QStringLiteral("select count(*) from info where caption in ('outbox','Sent Items')")).toLongLong(),
        2);
    for (auto it = added.cbegin(); it != added.cend(); ++it)
        EXPECT_EQ(db->scalar(QStringLiteral("select caption from info where id=:id"), {{":id", it.key()}}).toString(),
                  it.value())
            << "node " << it.key() << " was reported as added";
    EXPECT_EQ(db->scalar(QStringLiteral("select count(*) from info where caption like 'w%'")).toLongLong(),
              added.size());
    expectPathsConsistent();
}

// Two opposite moves at once: never both stored (that would make each the other's parent); the one
// reported as done is the one stored.
TEST_P(Reliability, OppositeMovesAndRenameVersusAdd) {
    const QString x = ok({"node", "add", "0", "X"});
    const QString y = ok({"node", "add", "0", "Y"});
    int moved = 0;
    for (int round = 0; round < 6; ++round) {
        QProcess a, b;
        a.start(QStringLiteral(ZEL_CLI_PATH), sessionArgs(true) + QStringList{"node", "move", x, y});
        b.start(QStringLiteral(ZEL_CLI_PATH), sessionArgs(true) + QStringList{"node", "move", y, x});
        ASSERT_TRUE(a.waitForFinished(120000) && b.waitForFinished(120000));
        const bool aOk = a.exitCode() == 0, bOk = b.exitCode() == 0;
        EXPECT_FALSE(aOk && bOk) << "round " << round;
        EXPECT_TRUE(a.exitCode() <= 1 && b.exitCode() <= 1);
        EXPECT_EQ(parentOf(x), aOk ? y : QStringLiteral("0")) << "round " << round;
        EXPECT_EQ(parentOf(y), bOk ? x : QStringLiteral("0")) << "round " << round;
        moved += aOk + bOk;
        expectPathsConsistent();
        if (aOk) ok({"node", "move", x, "0"});
        if (bOk) ok({"node", "move", y, "0"});
    }
    EXPECT_GT(moved, 0);

    // A rename racing an add below it: the child always carries the name path it is found by.
    const QString f = ok({"node", "add", "0", "F"});
    for (int round = 0; round < 6; ++round) {
        const QString name = QStringLiteral("F%1").arg(round), child = QStringLiteral("c%1").arg(round);
        QProcess rename, add;
        rename.start(QStringLiteral(ZEL_CLI_PATH), sessionArgs(true) + QStringList{"node", "rename", f, name});
        add.start(QStringLiteral(ZEL_CLI_PATH), sessionArgs(true) + QStringList{"node", "add", f, child});
        ASSERT_TRUE(rename.waitForFinished(120000) && add.waitForFinished(120000));
        ASSERT_EQ(rename.exitCode(), 0) << rename.readAllStandardError().toStdString();
        ASSERT_EQ(add.exitCode(), 0) << add.readAllStandardError().toStdString();
        const QString id = QString::fromUtf8(add.readAllStandardOutput()).trimmed();
        EXPECT_EQ(ok({"node", "find", u'/' + name + u'/' + child}), id) << "round " << round;
        expectPathsConsistent();
    }
}

TEST_P(Reliability, BinTakesOnlyRowsInTheBinAndRefusesTargetsThere) {
    const QString a = ok({"node", "add", "0", "A"});
    const QString b = ok({"node", "add", a, "B"});
    const QString c = ok({"node", "add", b, "C"});
    const QString d = ok({"node", "add", "0", "D"});

    fails({"bin", "purge", d}, "is not in the recycle bin");
    fails({"bin", "restore", d}, "is not in the recycle bin");
    fails({"bin", "purge", "99999"}, "no node 99999");
    fails({"bin", "restore", "99999"}, "no node 99999");
    EXPECT_EQ(state(d), QStringLiteral("N"));

    ok({"node", "delete", a});
    for (const QStringList& args : {QStringList{"node", "add", a, "qq9"}, QStringList{"node", "add", c, "qq9"},
                                    QStringList{"node", "move", d, b}, QStringList{"node", "copy", d, c}})
        fails(args, "is in the recycle bin");
    // A child restored while its folder stays in the bin is live but still below the bin.
    ok({"bin", "restore", b});
    EXPECT_EQ(state(b), QStringLiteral("N"));
    fails({"node", "add", b, "qq9"}, "is in the recycle bin");
    // Purging the folder takes everything below it, the restored child too.
    ok({"bin", "purge", a});
    for (const QString& id : {a, b, c})
        EXPECT_EQ(state(id), QStringLiteral("D")) << id.toStdString();
    fails({"bin", "restore", c}, "is not in the recycle bin");

    // Emptying the bin takes a live child left below a folder in the bin as well.
    const QString g = ok({"node", "add", "0", "G"});
    const QString h = ok({"node", "add", g, "H"});
    ok({"node", "delete", g});
    ok({"bin", "restore", h});
    ok({"bin", "empty"});
    EXPECT_EQ(state(h), QStringLiteral("D"));
    EXPECT_EQ(state(d), QStringLiteral("N"));
    expectPathsConsistent();
    ok({"maintain"});
    EXPECT_EQ(value(QStringLiteral("select count(*) from info where id in (:a,:h)"),
                    {{":a", a.toLongLong()}, {":h", h.toLongLong()}})
                  .toLongLong(),
              0);
    EXPECT_TRUE(run({"search", "qq9"}).out.isEmpty());
    expectPathsConsistent();
}

// Maintenance succeeds on both databases and its path repair runs on both.
TEST_P(Reliability, MaintenanceRepairsPaths) {
    const QString a = ok({"node", "add", "0", "A"});
    const QString b = ok({"node", "add", a, "B"});
    open()->exec(QStringLiteral("update info set fullname='/wrong/',fullpath='/9/' where id=:id"),
                 {{":id", b.toLongLong()}});
    EXPECT_FALSE(test::PathProblems(*open()).isEmpty());
    EXPECT_EQ(ok({"maintain", "--repair-paths"}),
              QStringLiteral("Congratulations, the knowledge base is already successful to compress with repair"));
    expectPathsConsistent();
    EXPECT_EQ(ok({"node", "find", "/A/B"}), b);
}

// Starting a command only reads unless the knowledge base needs an upgrade: reads never wait for a
// writer that holds its transaction open.
TEST_P(Reliability, ReadsDoNotWaitForAWriter) {
    const QString a = ok({"node", "add", "0", "Alpha"});
    ok({"search-index", "rebuild"});
    auto writer = open();
    ASSERT_TRUE(writer->begin());
    ASSERT_TRUE(
        writer->exec(QStringLiteral("update info set caption='Alpha2' where id=:id"), {{":id", a.toLongLong()}}));
    for (const QStringList& args :
         {QStringList{"info"}, QStringList{"node", "ls", "0"}, QStringList{"search", "Alpha"}}) {
        const CliRun r = run(args);
        EXPECT_EQ(r.status, 0) << args.join(u' ').toStdString() << ": " << r.err.toStdString();
    }
    const CliRun ls = run({"node", "ls", "0"});
    EXPECT_TRUE(ls.out.contains(QStringLiteral("\tAlpha\t"))) << "the writer's change is not seen before it commits";
    writer->rollback();
}

ZEL_INSTANTIATE_DB_TEST(Reliability);

// Killed at random points, maintenance never leaves a knowledge base that does not open or check.
TEST_F(FileKb, KillDuringMaintenanceLeavesAWorkingFile) {
    // Enough content that compaction takes a moment.
    QByteArray page = "<html><body>";
    for (int i = 0; i < 20000; ++i)
        page += QByteArray::number(QRandomGenerator::global()->generate64(), 36) + ' ';
    const QString content = file(QStringLiteral("big.html"), page + "</body></html>");
    for (int i = 0; i < 12; ++i)
        ok({"node", "add", "0", QStringLiteral("n%1").arg(i), "--content", content});
    ok({"node", "delete", "3", "5", "7"});
    ok({"bin", "empty"});
    for (int round = 0; round < 10; ++round) {
        QProcess p;
        p.start(QStringLiteral(ZEL_CLI_PATH), sessionArgs(true) + QStringList{"maintain"});
        ASSERT_TRUE(p.waitForStarted());
        QThread::msleep(QRandomGenerator::global()->bounded(30, 400));
        p.kill();
        p.waitForFinished();
        ASSERT_TRUE(QFile::exists(kbFile())) << "round " << round;
        auto db = open();
        EXPECT_EQ(db->scalar(QStringLiteral("pragma quick_check")).toString(), QStringLiteral("ok"));
        EXPECT_EQ(run({"info"}).status, 0) << "round " << round;
    }
    expectPathsConsistent();
}

// Compaction in place: a connection that stays open through it keeps writing to the same file.
TEST_F(FileKb, CompactionKeepsOtherConnectionsWriting) {
    ok({"node", "add", "0", "A"});
    auto other = open();
    ASSERT_TRUE(other->exec(QStringLiteral("pragma wal_checkpoint(truncate)")));
    ok({"maintain"});
    ASSERT_GT(other->insert(QStringLiteral("insert into info (hasdelete,parentnode,fullpath,fullname,caption) values "
                                           "('N',0,'/','/','Late') returning id")),
              0);
    other->close();
    EXPECT_FALSE(ok({"node", "find", "/Late"}).isEmpty()) << "a write after compaction went to the file in use";
}

// Older builds could die between their two renames, leaving only the backup: it is taken back at open.
TEST_F(FileKb, LeftoverCompactionBackupIsRecovered) {
    const QString a = ok({"node", "add", "0", "A"});
    ASSERT_TRUE(QFile::rename(kbFile(), dataFolder() + QStringLiteral("smtp_cr_0856_old.mdb")));
    file(QStringLiteral("data/smtp_cr_0856_ind.mdb"), "half a copy");
    EXPECT_EQ(ok({"node", "find", "/A"}), a);
    EXPECT_TRUE(QFile::exists(kbFile()));
    EXPECT_FALSE(QFile::exists(dataFolder() + QStringLiteral("smtp_cr_0856_old.mdb")));
}

TEST_F(FileKb, SixCatalogueWritersAtOnceAreAllListed) {
    std::vector<std::unique_ptr<QProcess>> procs;
    for (int i = 0; i < 6; ++i) {
        auto p = std::make_unique<QProcess>();
        p->start(QStringLiteral(ZEL_CLI_PATH),
                 sessionArgs(false) + QStringList{"kb", "new", QStringLiteral("k%1").arg(i), "--folder", dataFolder(),
                                                  "--file", QStringLiteral("k%1.skm").arg(i), "--admin", "admin"});
        procs.push_back(std::move(p));
    }
    for (auto& p : procs) {
        ASSERT_TRUE(p->waitForFinished(120000));
        EXPECT_EQ(p->exitCode(), 0) << p->readAllStandardError().toStdString();
    }
    const CliRun list = run({"kb", "list"}, false);
    for (int i = 0; i < 6; ++i)
        EXPECT_TRUE(list.out.contains(QStringLiteral("k%1\t0").arg(i))) << list.out.toStdString();
    EXPECT_TRUE(list.out.contains(QStringLiteral("t\t0")));
}

TEST_F(FileKb, UnreadableCatalogueIsReportedAndEachCopyKept) {
    const QString cat = home_.path() + QStringLiteral("/datalink.dat");
    file(QStringLiteral("datalink.dat"), "garbage one");
    const CliRun list = run({"kb", "list"}, false);
    EXPECT_EQ(list.status, 1);
    EXPECT_TRUE(list.err.contains(QStringLiteral("cannot read the catalogue"))) << list.err.toStdString();
    EXPECT_EQ(run({"info"}).status, 1);
    EXPECT_EQ(run({"kb", "new", "u1", "--folder", dataFolder(), "--file", "u1.skm", "--admin", "admin"}, false).status,
              0);
    file(QStringLiteral("datalink.dat"), "garbage two");
    EXPECT_EQ(run({"kb", "new", "u2", "--folder", dataFolder(), "--file", "u2.skm", "--admin", "admin"}, false).status,
              0);
    for (const auto& [n, text] : {std::pair{1, "garbage one"}, std::pair{2, "garbage two"}}) {
        QFile f(cat + QStringLiteral(".unreadable.%1").arg(n));
        ASSERT_TRUE(f.open(QIODevice::ReadOnly)) << n;
        EXPECT_EQ(f.readAll(), QByteArray(text));
    }
    EXPECT_TRUE(run({"kb", "list"}, false).out.contains(QStringLiteral("u2\t0")));
}

TEST_F(FileKb, HomeFolderAndFilesAreForTheOwnerOnly) {
    auto mode = [](const QString& path) {
        struct stat st {};
        EXPECT_EQ(::stat(QFile::encodeName(path).constData(), &st), 0) << path.toStdString();
        return st.st_mode & 0777;
    };
    const QString cat = home_.path() + QStringLiteral("/datalink.dat");
    const QString data = home_.path() + QStringLiteral("/data");
    EXPECT_EQ(mode(home_.path()), 0700u);
    EXPECT_EQ(mode(cat), 0600u);
    EXPECT_EQ(mode(data), 0700u);
    EXPECT_EQ(mode(kbFile()), 0600u);
    // Left looser by an older build: tightened at the next start.
    ::chmod(QFile::encodeName(home_.path()).constData(), 0755);
    ::chmod(QFile::encodeName(data).constData(), 0755);
    ::chmod(QFile::encodeName(cat).constData(), 0644);
    ::chmod(QFile::encodeName(kbFile()).constData(), 0644);
    ok({"info"});
    EXPECT_EQ(mode(home_.path()), 0700u);
    EXPECT_EQ(mode(cat), 0600u);
    EXPECT_EQ(mode(data), 0700u);
    EXPECT_EQ(mode(kbFile()), 0600u);
    ok({"node", "add", "0", "A"});
    EXPECT_EQ(mode(cat), 0600u);
}

TEST_F(FileKb, OutputFailuresAreReported) {
    const QString a = ok({"node", "add", "0", "A"});
    ok({"attach", "add", a, file(QStringLiteral("f.txt"), "hello")});
    for (const QStringList& args : {QStringList{"content", "get", a}, QStringList{"node", "ls", "0"}}) {
        const CliRun r = run(args, true, QStringLiteral("/dev/full"));
        EXPECT_EQ(r.status, 1) << args.join(u' ').toStdString();
        EXPECT_TRUE(r.err.contains(QStringLiteral("cannot write"))) << r.err.toStdString();
    }
    fails({"attach", "get", a, "f.txt", "-o", "/dev/full"}, "cannot write /dev/full");
}

TEST_F(FileKb, ContentInputIsDecodedByItsDeclarationOrRefused) {
    const QString a = ok({"node", "add", "0", "A"});
    const struct {
        QByteArray bytes;
        QStringList options;
        QString expected;
    } cases[] = {
        {"<html><head><meta charset=\"iso-8859-1\"></head><body>caf\xE9</body></html>",
         {},
         QStringLiteral("caf\u00E9")},
        {"<html><head><meta http-equiv=\"Content-Type\" content=\"text/html; charset=gbk\"></head>"
         "<body>\xD6\xD0\xCE\xC4</body></html>",
         {},
         QStringLiteral("\u4E2D\u6587")},
        {"<p>\xE9t\xE9</p>", {"--charset", "iso-8859-1"}, QStringLiteral("\u00E9t\u00E9")},
        {"<p>\xC3\xA9t\xC3\xA9</p>", {}, QStringLiteral("\u00E9t\u00E9")},
        // Not UTF-8 and not declared: the code page setting (windows-1252).
        {"<p>\x80 5</p>", {}, QStringLiteral("\u20AC 5")},
    };
    for (const auto& c : cases) {
        ok(QStringList{"content", "put", a, file(QStringLiteral("in.html"), c.bytes)} + c.options);
        const QString got = QString::fromUtf8(run({"content", "get", a}).raw);
        EXPECT_TRUE(got.contains(c.expected)) << got.toStdString();
    }
    const QByteArray before = run({"content", "get", a}).raw;
    fails({"content", "put", a, file(QStringLiteral("bin.dat"), QByteArray("GIF89a\0\x01\x02", 9))}, "is not text");
    fails({"content", "put", a, file(QStringLiteral("x.html"), "<p>x</p>"), "--charset", "no-such-charset"},
          "unknown charset");
    fails({"content", "put", a, "/dev/zero"}, "is larger than 256 MB");
    EXPECT_EQ(run({"content", "get", a}).raw, before);
}

TEST_F(FileKb, FileNamesStayInTheirFolderAndOpeningFailuresSayWhy) {
    // The place "../../escape" would reach stays inside this test's home.
    const QString folder = home_.path() + QStringLiteral("/a/b/kbs");
    const CliRun escape =
        run({"kb", "new", "e", "--folder", folder, "--file", "../../escape", "--admin", "admin"}, false);
    EXPECT_EQ(escape.status, 1);
    EXPECT_TRUE(escape.err.contains(QStringLiteral("must not contain a folder"))) << escape.err.toStdString();
    EXPECT_FALSE(QFile::exists(home_.path() + QStringLiteral("/a/escape")));
    EXPECT_FALSE(run({"kb", "list"}, false).out.contains(QStringLiteral("e\t0")));

    // Not a database, a database of something else, a missing file: each says so after the
    // connection failure message.
    file(QStringLiteral("data/t.skm"), QByteArray(4096, 'x'));
    fails({"info"}, "Fail connect Database");
    fails({"info"}, "is not a knowledge base");
    QFile::remove(kbFile());
    ASSERT_TRUE(createSqliteFile(kbFile()));
    fails({"info"}, "not a knowledge base");
    QFile::remove(kbFile());
    fails({"info"}, "does not exist");
}

TEST_F(FileKb, ControlCharactersAreEscapedInTextOutput) {
    const QString a = ok({"node", "add", "0", QStringLiteral("A\x1B[2J\x07z")});
    ok({"node", "add", "0", QStringLiteral("B\u009B31m\u007F")});
    for (const QStringList& args :
         {QStringList{"node", "ls", "0"}, QStringList{"node", "show", a}, QStringList{"search", "z"}}) {
        const CliRun r = run(args);
        EXPECT_EQ(r.status, 0);
        EXPECT_FALSE(r.raw.contains('\x1B') || r.raw.contains('\x07') || r.raw.contains("\xC2\x9B"))
            << args.join(u' ').toStdString();
        if (args[0] != QStringLiteral("search")) {
            EXPECT_TRUE(r.out.contains(QStringLiteral("A\\x1b[2J\\x07z"))) << r.out.toStdString();
        }
    }
    EXPECT_TRUE(run({"node", "ls", "0"}).out.contains(QStringLiteral("B\\u009b31m\\u007f")));
    const QString json = run({"--json", "node", "ls", "0"}).out;
    EXPECT_TRUE(json.contains(QStringLiteral("A\\u001b[2J\\u0007z")));
    // Still JSON, with the captions as stored.
    const QJsonArray rows = QJsonDocument::fromJson(json.toUtf8()).array();
    QStringList captions;
    for (const QJsonValue& row : rows)
        captions << row.toObject().value(QStringLiteral("caption")).toString();
    EXPECT_TRUE(captions.contains(QStringLiteral("A\x1B[2J\x07z"))) << json.toStdString();
    EXPECT_TRUE(captions.contains(QStringLiteral("B\u009B31m\u007F"))) << json.toStdString();
}

} // namespace
