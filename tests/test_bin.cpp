// Recycle bin, purge and maintenance on both databases.
#include "StoreFixture.h"

#include "search/SearchIndex.h"
#include "store/Content.h"
#include "store/RecycleBin.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

namespace zel::test {
namespace {

class Bin : public StoreTest {
protected:
    // A folder A with children B (with child C) and D; each node has one attachment and a mail row.
    void build() {
        a = add(QStringLiteral("0"), QStringLiteral("A"));
        b = add(a, QStringLiteral("B"));
        c = add(b, QStringLiteral("C"));
        d = add(a, QStringLiteral("D"));
        for (const QString& n : {a, b, c, d}) {
            att[n] = SaveAttachmentFromStream(db(), "x", n, QStringLiteral("f.txt"));
            mail[n] = QString::number(addMailRow(n));
        }
    }
    void expectStates(const QString& node, const char* info, const char* attachment, const char* mailRow) {
        EXPECT_EQ(state(QStringLiteral("info"), node), QString::fromUtf8(info)) << "node " << node.toStdString();
        EXPECT_EQ(state(QStringLiteral("accessories"), att[node]), QString::fromUtf8(attachment))
            << "attachment of " << node.toStdString();
        EXPECT_EQ(state(QStringLiteral("mail"), mail[node]), QString::fromUtf8(mailRow))
            << "mail of " << node.toStdString();
    }
    static QList<qint64> ids(std::initializer_list<QString> list) {
        QList<qint64> out;
        for (const QString& s : list)
            out << s.toLongLong();
        return out;
    }
    QString a, b, c, d;
    QHash<QString, QString> att, mail;
};

TEST_P(Bin, SubtreeToBinKeepsStatesOfRowsAlreadyGone) {
    build();
    ASSERT_TRUE(MoveNodeToBin(db(), c, false)); // already in the bin
    ASSERT_TRUE(MoveNodeToBin(db(), d, false));
    ASSERT_TRUE(PurgeNodes(db(), ids({d}))); // already purged
    const QString extra = SaveAttachmentFromStream(db(), "y", b, QStringLiteral("g.txt"));
    ASSERT_TRUE(DeleteAttachment(db(), extra)); // purged on its own
    ASSERT_TRUE(MoveNodeToBin(db(), a, true));
    expectStates(a, "Y", "Y", "Y");
    expectStates(b, "Y", "Y", "Y");
    expectStates(c, "Y", "Y", "Y");
    expectStates(d, "D", "D", "D");
    EXPECT_EQ(state(QStringLiteral("accessories"), extra), QStringLiteral("D"));
    EXPECT_EQ(CountBinNodes(db()), 3);
    EXPECT_EQ(ListBinNodes(db()).size(), 3) << "every node in the bin is listed on its own";
    EXPECT_FALSE(MoveNodeToBin(db(), QStringLiteral("987654"), true));
}

TEST_P(Bin, ListedNodesGoWithoutTheirSubtrees) {
    build();
    ASSERT_TRUE(MoveNodesToBin(db(), ids({b, d})));
    expectStates(b, "Y", "Y", "Y");
    expectStates(d, "Y", "Y", "Y");
    expectStates(c, "N", "N", "");
    ASSERT_TRUE(MoveNodesToBin(db(), QList<qint64>{}));
}

TEST_P(Bin, RestoringChildWhoseParentStaysInBin) {
    build();
    ASSERT_TRUE(MoveNodeToBin(db(), b, true));
    const QString purgedAtt = SaveAttachmentFromStream(db(), "z", c, QStringLiteral("z.txt"));
    ASSERT_TRUE(db().exec(QStringLiteral("update accessories set hasdelete='D' where id=:id"),
                          {{QStringLiteral(":id"), purgedAtt.toLongLong()}}));
    ASSERT_TRUE(RestoreNodes(db(), ids({c})));
    expectStates(c, "N", "N", "N");
    expectStates(b, "Y", "Y", "Y");
    EXPECT_EQ(state(QStringLiteral("accessories"), purgedAtt), QStringLiteral("D")) << "purged stays purged";
    EXPECT_EQ(FindNodeByName(db(), QStringLiteral("/A/B/C")), c) << "live, though its parent is in the bin";
    EXPECT_TRUE(ListChildren(db(), a).size() == 1) << "B is not listed under A";
    ASSERT_TRUE(db().exec(QStringLiteral("update info set haschild='N' where id=:id"),
                          {{QStringLiteral(":id"), b.toLongLong()}}));
    EXPECT_TRUE(RestoreParents(db(), ids({c})).isEmpty());
    EXPECT_EQ(column(QStringLiteral("info"), QStringLiteral("haschild"), b), QStringLiteral("Y"));
    ASSERT_TRUE(MoveNodeToBin(db(), a, false));
    ASSERT_TRUE(RestoreNodes(db(), ids({a})));
    EXPECT_EQ(RestoreParents(db(), ids({a, c})), QList<qint64>{a.toLongLong()});
}

TEST_P(Bin, EmptyingTwiceIsHarmlessAndMaintenanceRemovesPurgedRows) {
    build();
    ASSERT_TRUE(MoveNodeToBin(db(), b, true));
    ASSERT_TRUE(EmptyRecycleBin(db()));
    expectStates(b, "D", "D", "D");
    expectStates(c, "D", "D", "D");
    ASSERT_TRUE(EmptyRecycleBin(db()));
    expectStates(b, "D", "D", "D");
    expectStates(a, "N", "N", "");
    EXPECT_EQ(CountBinNodes(db()), 0);
    ASSERT_TRUE(PurgeDeleted(db()));
    EXPECT_TRUE(column(QStringLiteral("info"), QStringLiteral("id"), b).isEmpty());
    EXPECT_TRUE(column(QStringLiteral("accessories"), QStringLiteral("id"), att[c]).isEmpty());
    EXPECT_TRUE(column(QStringLiteral("mail"), QStringLiteral("id"), mail[c]).isEmpty());
    EXPECT_EQ(CountLiveNodes(db()), 2) << "A and D are untouched";
}

TEST_P(Bin, FaultInTheMiddleLeavesNoTrace) {
    build();
    injectUpdateFault(QStringLiteral("mail"), mail[c]);
    // The attachments are set before the mail rows: their change must be undone too.
    EXPECT_FALSE(MoveNodeToBin(db(), a, true));
    for (const QString& n : {a, b, c, d})
        expectStates(n, "N", "N", "");
    EXPECT_FALSE(MoveNodesToBin(db(), ids({b, c})));
    expectStates(b, "N", "N", "");
    ASSERT_TRUE(db().exec(QStringLiteral("update info set hasdelete='Y' where id=:id"),
                          {{QStringLiteral(":id"), c.toLongLong()}}));
    EXPECT_FALSE(PurgeNodes(db(), ids({c})));
    expectStates(c, "Y", "N", "");
}

// Purging acts on rows in the bin only, each with everything below it: a live node purged by a
// mistaken id, or a child left without its purged folder, would be lost at the next maintenance.
TEST_P(Bin, PurgeTakesOnlyBinRowsWithTheirSubtrees) {
    build();
    ASSERT_TRUE(PurgeNodes(db(), ids({a, d, QStringLiteral("987654")})));
    for (const QString& n : {a, b, c, d})
        expectStates(n, "N", "N", "");
    ASSERT_TRUE(MoveNodeToBin(db(), b, true));
    ASSERT_TRUE(RestoreNodes(db(), ids({c}))); // live below a folder that stays in the bin
    ASSERT_TRUE(PurgeNodes(db(), ids({b})));
    expectStates(b, "D", "D", "D");
    expectStates(c, "D", "D", "D");
    ASSERT_TRUE(RestoreNodes(db(), ids({c})));
    EXPECT_EQ(state(QStringLiteral("info"), c), QStringLiteral("D")) << "nothing leaves the purged state";
    expectStates(a, "N", "N", "");
    expectStates(d, "N", "N", "");
    // Emptying the bin does the same for a live child of a folder in the bin.
    ASSERT_TRUE(MoveNodeToBin(db(), a, true));
    ASSERT_TRUE(RestoreNodes(db(), ids({d})));
    ASSERT_TRUE(EmptyRecycleBin(db()));
    expectStates(d, "D", "D", "D");
    ASSERT_TRUE(PurgeDeleted(db()));
    EXPECT_EQ(db().scalar(QStringLiteral("select count(*) from info where parentnode<>0")).toLongLong(), 0);
}

TEST_P(Bin, FaultWhileEmptyingLeavesTheBinAsItWas) {
    build();
    ASSERT_TRUE(MoveNodeToBin(db(), d, false));
    injectUpdateFault(QStringLiteral("mail"), mail[d]);
    // The mail rows go last: the attachments and nodes already changed must come back.
    EXPECT_FALSE(EmptyRecycleBin(db()));
    expectStates(d, "Y", "Y", "Y");
    EXPECT_EQ(CountBinNodes(db()), 1);
}

TEST_P(Bin, LongIdListsAreSentInParts) {
    QList<qint64> ids;
    {
        Transaction tx(db());
        for (int i = 0; i < 1234; ++i)
            ids << add(QStringLiteral("0"), QStringLiteral("n%1").arg(i)).toLongLong();
        ASSERT_TRUE(tx.commit());
    }
    ASSERT_TRUE(MoveNodesToBin(db(), ids));
    EXPECT_EQ(CountBinNodes(db()), 1234);
    ASSERT_TRUE(RestoreNodes(db(), ids.mid(0, 1001)));
    EXPECT_EQ(CountBinNodes(db()), 233);
    EXPECT_EQ(RestoreParents(db(), ids).size(), 1234) << "all are top-level nodes";
    ASSERT_TRUE(PurgeNodes(db(), ids));
    EXPECT_EQ(CountBinNodes(db()), 0);
    EXPECT_EQ(CountLiveNodes(db()), 1001) << "restored nodes are not in the bin: purging passes them by";
}

TEST_P(Bin, MaintenanceCompactsAndRepairsOnBothDatabases) {
    build();
    ASSERT_TRUE(MoveNodeToBin(db(), b, true));
    ASSERT_TRUE(EmptyRecycleBin(db()));
    const QString file = db().filePath();
    ASSERT_TRUE(db().exec(QStringLiteral("update info set fullname='/wrong/' where id=:id"),
                          {{QStringLiteral(":id"), d.toLongLong()}}));
    ASSERT_TRUE(DropSearchIndex(db()));
    const MaintenanceResult r = RunMaintenance(db(), true, true);
    EXPECT_TRUE(r.purged);
    EXPECT_TRUE(r.compacted) << db().lastError().toStdString();
    EXPECT_TRUE(r.repaired);
    EXPECT_TRUE(r.ok);
    EXPECT_TRUE(SearchIndexReady(db())) << "the repair step builds the search index again";
    EXPECT_EQ(r.messageIdent, 40333);
    ASSERT_TRUE(db().isOpen());
    EXPECT_EQ(db().filePath(), file);
    EXPECT_EQ(GetChildName(db(), d), QStringLiteral("/A/D/")) << "paths repaired";
    EXPECT_EQ(ReadAttachmentByName(db(), d, QStringLiteral("f.txt")), QByteArray("x"));
    EXPECT_TRUE(column(QStringLiteral("info"), QStringLiteral("id"), c).isEmpty());
    if (GetParam() == Dialect::Sqlite) {
        const QString folder = QFileInfo(file).absolutePath();
        EXPECT_TRUE(QDir(folder).entryList({QStringLiteral("smtp_cr_*")}).isEmpty())
            << "compacted in place, no copy beside the file";
    }
    // Not inside a transaction: it would end the caller's.
    Transaction tx(db());
    EXPECT_FALSE(CompactDatabase(db()));
}

TEST_P(Bin, CompactionBesideOtherConnections) {
    if (GetParam() == Dialect::Postgres) GTEST_SKIP() << "the server compacts on its own";
    build();
    // A reader and a writer stay open through compaction and keep working on the same file.
    auto writer = openAnother();
    auto reader = openAnother();
    ASSERT_TRUE(writer->exec(QStringLiteral("pragma wal_checkpoint(truncate)")));
    EXPECT_TRUE(CompactDatabase(db())) << db().lastError().toStdString();
    ASSERT_TRUE(writer->exec(QStringLiteral("update info set caption='A2' where id=:id"),
                             {{QStringLiteral(":id"), a.toLongLong()}}));
    EXPECT_EQ(GetNodeCaption(db(), a), QStringLiteral("A2"));
    EXPECT_EQ(GetNodeCaption(*reader, a), QStringLiteral("A2"));
    // A writer that holds its transaction keeps compaction from running: nothing changes.
    ASSERT_TRUE(writer->begin());
    ASSERT_TRUE(writer->exec(QStringLiteral("update info set caption='A3' where id=:id"),
                             {{QStringLiteral(":id"), a.toLongLong()}}));
    Database quick;
    ASSERT_TRUE(quick.open(db().connectionString()));
    ASSERT_TRUE(quick.exec(QStringLiteral("pragma busy_timeout=200")));
    EXPECT_FALSE(CompactDatabase(quick));
    ASSERT_TRUE(writer->commit());
    EXPECT_EQ(GetNodeCaption(db(), a), QStringLiteral("A3"));
    EXPECT_TRUE(CompactDatabase(quick));
}

ZEL_INSTANTIATE_DB_TEST(Bin);

} // namespace
} // namespace zel::test
