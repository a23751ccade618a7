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
    ASSERT_TRUE(PurgeNodes(db(), ids({d})));    // already purged
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
    EXPECT_FALSE(PurgeNodes(db(), ids({c})));
    expectStates(c, "N", "N", "");
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
    EXPECT_EQ(CountLiveNodes(db()), 0);
}

TEST_P(Bin, CompactionKeepsTheDataAndRefusesServers) {
    build();
    ASSERT_TRUE(MoveNodeToBin(db(), b, true));
    ASSERT_TRUE(EmptyRecycleBin(db()));
    if (db().dialect() == Dialect::Postgres) {
        const MaintenanceResult r = RunMaintenance(db(), true, true);
        EXPECT_TRUE(r.purged);
        EXPECT_FALSE(r.compacted);
        EXPECT_FALSE(r.repaired);
        EXPECT_EQ(r.messageIdent, 40334);
        EXPECT_TRUE(db().isOpen());
        EXPECT_TRUE(column(QStringLiteral("info"), QStringLiteral("id"), c).isEmpty());
        EXPECT_EQ(GetNodeCaption(db(), d), QStringLiteral("D"));
        return;
    }
    const QString file = db().filePath();
    ASSERT_TRUE(db().exec(QStringLiteral("update info set fullname='/wrong/' where id=:id"),
                          {{QStringLiteral(":id"), d.toLongLong()}}));
    ASSERT_TRUE(DropSearchIndex(db()));
    const MaintenanceResult r = RunMaintenance(db(), true, true);
    EXPECT_TRUE(r.ok);
    EXPECT_TRUE(SearchIndexReady(db())) << "the repair step builds the search index again";
    EXPECT_EQ(r.messageIdent, 40333);
    ASSERT_TRUE(db().isOpen());
    EXPECT_EQ(db().filePath(), file);
    EXPECT_EQ(GetChildName(db(), d), QStringLiteral("/A/D/")) << "paths repaired";
    EXPECT_EQ(ReadAttachmentByName(db(), d, QStringLiteral("f.txt")), QByteArray("x"));
    EXPECT_TRUE(column(QStringLiteral("info"), QStringLiteral("id"), c).isEmpty());
    const QString folder = QFileInfo(file).absolutePath();
    EXPECT_FALSE(QFile::exists(folder + QStringLiteral("/smtp_cr_0856_ind.mdb")));
    EXPECT_FALSE(QFile::exists(folder + QStringLiteral("/smtp_cr_0856_old.mdb")));
}

TEST_P(Bin, FailedCompactionLeavesTheFileInPlace) {
    if (GetParam() == Dialect::Postgres) GTEST_SKIP() << "only files are compacted";
    build();
    const QString file = db().filePath();
    const QString folder = QFileInfo(file).absolutePath();
    // The backup name is taken by something that cannot be removed: the swap cannot start.
    ASSERT_TRUE(QDir().mkpath(folder + QStringLiteral("/smtp_cr_0856_old.mdb/busy")));
    EXPECT_FALSE(CompactDatabase(db()));
    ASSERT_TRUE(db().isOpen());
    EXPECT_EQ(GetChildName(db(), c), QStringLiteral("/A/B/C/"));
    EXPECT_FALSE(QFile::exists(folder + QStringLiteral("/smtp_cr_0856_ind.mdb")));

    // A second connection keeps its log open: the file is not swapped under it.
    ASSERT_TRUE(QDir(folder + QStringLiteral("/smtp_cr_0856_old.mdb")).removeRecursively());
    auto other = openAnother();
    ASSERT_TRUE(other->exec(QStringLiteral("update info set caption='A2' where id=:id"),
                            {{QStringLiteral(":id"), a.toLongLong()}}));
    EXPECT_FALSE(CompactDatabase(db()));
    ASSERT_TRUE(db().isOpen());
    EXPECT_EQ(GetNodeCaption(db(), a), QStringLiteral("A2"));
    other->close();
    EXPECT_TRUE(CompactDatabase(db()));
    EXPECT_EQ(GetNodeCaption(db(), a), QStringLiteral("A2"));
}

ZEL_INSTANTIATE_DB_TEST(Bin);

} // namespace
} // namespace zel::test
