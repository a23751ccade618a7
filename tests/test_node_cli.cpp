// zel-cli node, content, attach, bin and maintain commands end to end on an SQLite knowledge base.
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <gtest/gtest.h>

namespace {

struct CliRun {
    int status = -1;
    QString out, err;
    QByteArray raw;
};

class NodeCli : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(home_.isValid());
        const CliRun r =
            cli({QStringLiteral("kb"), QStringLiteral("new"), QStringLiteral("t"), QStringLiteral("--folder"),
                 home_.path() + QStringLiteral("/data"), QStringLiteral("--file"), QStringLiteral("t.skm"),
                 QStringLiteral("--admin"), QStringLiteral("admin")},
                false);
        ASSERT_EQ(r.status, 0) << r.err.toStdString();
    }

    CliRun cli(const QStringList& args, bool session = true) {
        QStringList all{QStringLiteral("--home"), home_.path()};
        if (session)
            all << QStringLiteral("-k") << QStringLiteral("t") << QStringLiteral("-u") << QStringLiteral("admin")
                << QStringLiteral("-p") << QString();
        all << args;
        QProcess p;
        p.start(QStringLiteral(ZEL_CLI_PATH), all);
        EXPECT_TRUE(p.waitForFinished(60000));
        CliRun r;
        r.status = p.exitCode();
        r.raw = p.readAllStandardOutput();
        r.out = QString::fromUtf8(r.raw).trimmed();
        r.err = QString::fromUtf8(p.readAllStandardError()).trimmed();
        return r;
    }
    QString ok(const QStringList& args) {
        const CliRun r = cli(args);
        EXPECT_EQ(r.status, 0) << args.join(u' ').toStdString() << ": " << r.err.toStdString();
        return r.out;
    }
    QString file(const QString& name, const QByteArray& bytes) {
        const QString path = home_.path() + u'/' + name;
        QFile f(path);
        EXPECT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(bytes);
        return path;
    }

    QTemporaryDir home_;
};

TEST_F(NodeCli, NodesContentAttachmentsAndBin) {
    const QString a = ok({QStringLiteral("node"), QStringLiteral("add"), QStringLiteral("0"), QStringLiteral("Alpha")});
    const QString b = ok({QStringLiteral("node"), QStringLiteral("add"), a, QStringLiteral("Bé \"q\""),
                          QStringLiteral("--keywords"), QStringLiteral("kw")});
    EXPECT_EQ(ok({QStringLiteral("node"), QStringLiteral("find"), QStringLiteral("\\alpha\\BÉ \"q\"")}), b);
    EXPECT_EQ(ok({QStringLiteral("node"), QStringLiteral("show"), b}).contains(QStringLiteral("keywords\tkw")), true);

    // The system's messages for refused names and moves.
    const struct {
        QStringList args;
        const char* message;
    } refused[] = {
        {{QStringLiteral("node"), QStringLiteral("add"), a, QStringLiteral("bé \"Q\"")}, "Document name have already"},
        {{QStringLiteral("node"), QStringLiteral("add"), a, QStringLiteral("a/b")}, "Can't Include Stmble / \\ #"},
        {{QStringLiteral("node"), QStringLiteral("move"), a, b}, "The target Folder is under source Folder"},
        {{QStringLiteral("node"), QStringLiteral("move"), b, a}, "The target Folder is same to source Folder"},
        {{QStringLiteral("node"), QStringLiteral("rename"), a, QStringLiteral("outbox")}, "File Can't rename"},
    };
    for (const auto& r : refused) {
        const CliRun run = cli(r.args);
        EXPECT_EQ(run.status, 1) << r.message;
        EXPECT_TRUE(run.err.contains(QString::fromUtf8(r.message))) << run.err.toStdString();
    }

    const QString html = file(QStringLiteral("in.html"), QByteArray("\xFF\xFE<\0p\0>\0\xE9\0", 10));
    ok({QStringLiteral("content"), QStringLiteral("put"), b, html});
    EXPECT_EQ(cli({QStringLiteral("content"), QStringLiteral("get"), b}).raw, QByteArray("<p>\xC3\xA9\r\n"));

    // A name with a path separator could never be reached through a path URL: refused.
    EXPECT_EQ(cli({QStringLiteral("attach"), QStringLiteral("add"), b, html, QStringLiteral("--name"),
                   QStringLiteral("../up.GIF")})
                  .status,
              1);
    const QString att = ok(
        {QStringLiteral("attach"), QStringLiteral("add"), b, html, QStringLiteral("--name"), QStringLiteral("up.GIF")});
    const QString out = home_.path() + QStringLiteral("/out");
    ASSERT_TRUE(QDir().mkpath(out));
    ok({QStringLiteral("attach"), QStringLiteral("get"), b, QStringLiteral("UP.gif"), QStringLiteral("-o"), out});
    EXPECT_TRUE(QFile::exists(out + QStringLiteral("/UP.gif")));
    EXPECT_EQ(cli({QStringLiteral("attach"), QStringLiteral("get-id"), att}).raw.size(), 10);
    ok({QStringLiteral("attach"), QStringLiteral("rename"), att, QStringLiteral("pic.gif")});
    EXPECT_TRUE(ok({QStringLiteral("attach"), QStringLiteral("ls"), b}).contains(QStringLiteral("pic.gif\t10\t1Kb")));

    ok({QStringLiteral("node"), QStringLiteral("delete"), a});
    const QString bin = ok({QStringLiteral("bin"), QStringLiteral("list")});
    EXPECT_TRUE(bin.contains(a + QStringLiteral("\tAlpha"))) << bin.toStdString();
    EXPECT_TRUE(bin.contains(b + QStringLiteral("\tBé"))) << bin.toStdString();
    ok({QStringLiteral("bin"), QStringLiteral("restore"), a});
    EXPECT_TRUE(ok({QStringLiteral("node"), QStringLiteral("ls"), a}).isEmpty()) << "B stays in the bin";
    ok({QStringLiteral("bin"), QStringLiteral("empty")});
    EXPECT_EQ(ok({QStringLiteral("maintain"), QStringLiteral("--repair-paths")}),
              QStringLiteral("Congratulations, the knowledge base is already successful to compress with repair"));
    EXPECT_EQ(cli({QStringLiteral("node"), QStringLiteral("show"), b}).status, 1) << "purged rows are gone";
}

} // namespace
