// Node records and tree paths on both databases.
#include "StoreFixture.h"

#include "store/Content.h"
#include "store/DocumentUnlocks.h"
#include "store/RecycleBin.h"

namespace zel::test {
namespace {

class Nodes : public StoreTest {};

TEST_P(Nodes, InsertGivesParentPathsUnderRootAndBelow) {
    const QString a = add(QStringLiteral("0"), QStringLiteral("A"));
    const QString b = add(a, QStringLiteral("B"));
    const QString c = add(b, QStringLiteral("C"));
    EXPECT_EQ(column(QStringLiteral("info"), QStringLiteral("fullpath"), a), QStringLiteral("/"));
    EXPECT_EQ(column(QStringLiteral("info"), QStringLiteral("fullname"), a), QStringLiteral("/"));
    EXPECT_EQ(column(QStringLiteral("info"), QStringLiteral("fullpath"), c), u'/' + a + u'/' + b + u'/');
    EXPECT_EQ(column(QStringLiteral("info"), QStringLiteral("fullname"), c), QStringLiteral("/A/B/"));
    EXPECT_EQ(GetChildPrefixes(db(), c).path, u'/' + a + u'/' + b + u'/' + c + u'/');
    EXPECT_EQ(GetChildPrefixes(db(), c).name, QStringLiteral("/A/B/C/"));
    EXPECT_TRUE(InsertNode(db(), Tinfoproperty{}, QStringLiteral("987654")).isEmpty()) << "unknown parent";
    expectPathsConsistent();
}

TEST_P(Nodes, CaptionCrLfBecomesSpaceAndDefaultDocumentIsStored) {
    Tinfoproperty rec;
    rec.caption = QStringLiteral("two\r\nlines");
    rec.placeholder = true;
    const QString id = InsertNode(db(), rec, QStringLiteral("0"));
    EXPECT_EQ(GetNodeCaption(db(), id), QStringLiteral("two lines"));
    const QString html = QString::fromUtf8(ReadDocumentContent(db(), id));
    EXPECT_TRUE(html.startsWith(QStringLiteral("<!DOCTYPE HTML"))) << html.toStdString();
    EXPECT_TRUE(html.contains(QStringLiteral("    <p> It's a new knowledge Document"))) << html.toStdString();
}

TEST_P(Nodes, FindNodeByNameAcceptsBothSeparatorsAndIgnoresCaseAndBin) {
    const QString a = add(QStringLiteral("0"), QStringLiteral("Äpfel \"quoted\" 'x'"));
    const QString b = add(a, QStringLiteral("Bücher"));
    const struct {
        const char* path;
        bool found;
    } cases[] = {
        {"/Äpfel \"quoted\" 'x'/Bücher/", true},
        {"\\Äpfel \"quoted\" 'x'\\Bücher", true},
        {"/Äpfel \"quoted\" 'X'/Bücher", true},
        {"/Äpfel \"quoted\" 'x'/Bücher2", false},
        {"", false},
        {"/", false},
    };
    for (const auto& c : cases)
        EXPECT_EQ(FindNodeByName(db(), QString::fromUtf8(c.path)), c.found ? b : QStringLiteral("0")) << c.path;
    EXPECT_EQ(FindNodeByName(db(), QStringLiteral("/äpfel \"quoted\" 'x'")), a) << "letter case ignored";
    ASSERT_TRUE(MoveNodeToBin(db(), b, false));
    EXPECT_EQ(FindNodeByName(db(), QStringLiteral("/Äpfel \"quoted\" 'x'/Bücher")), QStringLiteral("0"));
    EXPECT_EQ(MarkFolderByName(db(), QStringLiteral("/Äpfel \"quoted\" 'x'/")), a);
    EXPECT_EQ(column(QStringLiteral("info"), QStringLiteral("haschild"), a), QStringLiteral("Y"));
}

TEST_P(Nodes, SiblingCaptionsClashWithoutRegardToCase) {
    const QString a = add(QStringLiteral("0"), QStringLiteral("Notes"));
    const QString other = add(QStringLiteral("0"), QStringLiteral("Other"));
    EXPECT_TRUE(IsSiblingCaptionTaken(db(), QStringLiteral("0"), QStringLiteral("0"), QStringLiteral("notes")));
    EXPECT_FALSE(IsSiblingCaptionTaken(db(), QStringLiteral("0"), a, QStringLiteral("NOTES"))) << "excluded itself";
    EXPECT_FALSE(IsSiblingCaptionTaken(db(), other, QStringLiteral("0"), QStringLiteral("Notes"))) << "other parent";
    const QString unique = UniqueSiblingCaption(db(), QStringLiteral("0"), QStringLiteral("/tmp/notes.txt"));
    EXPECT_TRUE(unique.startsWith(QStringLiteral("notes_"))) << unique.toStdString();
    EXPECT_EQ(UniqueSiblingCaption(db(), QStringLiteral("0"), QStringLiteral("C:\\x\\report.final.doc")),
              QStringLiteral("report.final"));
    ASSERT_TRUE(MoveNodeToBin(db(), a, false));
    EXPECT_FALSE(IsSiblingCaptionTaken(db(), QStringLiteral("0"), QStringLiteral("0"), QStringLiteral("Notes")))
        << "a node in the bin does not count";
}

TEST_P(Nodes, SortNumbersAndCounts) {
    const QString a = add(QStringLiteral("0"), QStringLiteral("A"));
    EXPECT_EQ(MaxSortNumber(db(), a), 0);
    const QString b = add(a, QStringLiteral("B"));
    const QString c = add(b, QStringLiteral("C"));
    add(b, QStringLiteral("D"));
    EXPECT_EQ(MaxSortNumber(db(), b), 2);
    EXPECT_EQ(CountSubtree(db(), a), 3);
    EXPECT_EQ(CountSubfolders(db(), a), 1);
    EXPECT_EQ(CountSubtree(db(), QStringLiteral("0")), 0);
    ASSERT_TRUE(MoveNodeToBin(db(), c, false));
    EXPECT_EQ(CountSubtree(db(), a), 2);
    EXPECT_EQ(ListChildren(db(), b).size(), 1);
    EXPECT_TRUE(RefreshHasChild(db(), b));
    EXPECT_FALSE(RefreshHasChild(db(), c));
    EXPECT_FALSE(RefreshHasChild(db(), QStringLiteral(" ")));
}

TEST_P(Nodes, RenameRewritesWholeSubtreeIncludingBin) {
    const QString a = add(QStringLiteral("0"), QStringLiteral("A"));
    const QString b = add(a, QStringLiteral("B"));
    const QString c = add(b, QStringLiteral("C"));
    const QString d = add(b, QStringLiteral("D"));
    ASSERT_TRUE(MoveNodeToBin(db(), d, false));
    ASSERT_TRUE(RenameNode(db(), QStringLiteral("Ça \"va\" 'bien'"), a));
    EXPECT_EQ(GetChildName(db(), c), QStringLiteral("/Ça \"va\" 'bien'/B/C/"));
    EXPECT_EQ(column(QStringLiteral("info"), QStringLiteral("fullname"), d), QStringLiteral("/Ça \"va\" 'bien'/B/"));
    expectPathsConsistent();
    ASSERT_TRUE(RenameNode(db(), QStringLiteral("X"), b));
    EXPECT_EQ(GetChildName(db(), c), QStringLiteral("/Ça \"va\" 'bien'/X/C/"));
    expectPathsConsistent();
    EXPECT_FALSE(RenameNode(db(), QStringLiteral("Y"), QString()));
}

TEST_P(Nodes, MoveRewritesPathsAndTakesNextSortNumber) {
    const QString a = add(QStringLiteral("0"), QStringLiteral("A"));
    const QString b = add(a, QStringLiteral("B"));
    const QString c = add(b, QStringLiteral("C"));
    add(c, QStringLiteral("E"));
    const QString t = add(QStringLiteral("0"), QStringLiteral("T"));
    add(t, QStringLiteral("t1"));
    add(t, QStringLiteral("t2"));
    EXPECT_EQ(MoveNode(db(), t, b), 3);
    EXPECT_EQ(GetChildName(db(), c), QStringLiteral("/T/B/C/"));
    EXPECT_EQ(GetChildPath(db(), c), u'/' + t + u'/' + b + u'/' + c + u'/');
    expectPathsConsistent();
    EXPECT_EQ(MoveNode(db(), QStringLiteral("0"), b), 3);
    EXPECT_EQ(GetChildName(db(), c), QStringLiteral("/B/C/"));
    expectPathsConsistent();
}

TEST_P(Nodes, MoveRefusesItselfItsSubtreeAndUnknownTargets) {
    const QString a = add(QStringLiteral("0"), QStringLiteral("A"));
    const QString b = add(a, QStringLiteral("B"));
    const QString c = add(b, QStringLiteral("C"));
    for (const QString& target : {a, b, c, QStringLiteral("424242"), QString()})
        EXPECT_EQ(MoveNode(db(), target, a), 0) << target.toStdString();
    EXPECT_EQ(GetChildName(db(), c), QStringLiteral("/A/B/C/"));
    expectPathsConsistent();
}

TEST_P(Nodes, CopyWithAndWithoutChildren) {
    const QString a = add(QStringLiteral("0"), QStringLiteral("A"));
    const QString b = add(a, QStringLiteral("B"));
    const QString c = add(b, QStringLiteral("C"));
    const QString gone = add(b, QStringLiteral("Gone"));
    ASSERT_FALSE(SaveAttachmentFromStream(db(), "kept", b, QStringLiteral("k.txt")).isEmpty());
    const QString dropped = SaveAttachmentFromStream(db(), "dropped", b, QStringLiteral("d.txt"));
    ASSERT_TRUE(DeleteAttachment(db(), dropped));
    ASSERT_TRUE(MoveNodeToBin(db(), gone, false));
    const QString t = add(QStringLiteral("0"), QStringLiteral("T"));

    const QString alone = CopySubtree(db(), false, t, b);
    ASSERT_FALSE(alone.isEmpty());
    EXPECT_TRUE(db().scalar(QStringLiteral("select haschild from info where id=:id"),
                            {{QStringLiteral(":id"), alone.toLongLong()}})
                    .isNull());
    EXPECT_EQ(ListChildren(db(), alone).size(), 0);

    int steps = 0;
    Progress progress;
    progress.step = [&](int n) {
        steps += n;
        return true;
    };
    const QString deep = CopySubtree(db(), true, t, a, progress);
    ASSERT_FALSE(deep.isEmpty());
    EXPECT_EQ(CountSubtree(db(), deep), 2) << "B and C; the node in the bin is not copied";
    const QString copyB = FindNodeByName(db(), QStringLiteral("/T/A/B"));
    ASSERT_NE(copyB, QStringLiteral("0"));
    EXPECT_NE(FindNodeByName(db(), QStringLiteral("/T/A/B/C")), QStringLiteral("0"));
    EXPECT_EQ(CountAttachments(db(), copyB), 1) << "only live attachments are copied";
    EXPECT_EQ(QString::fromUtf8(ReadDocumentContent(db(), copyB)), QString::fromUtf8(ReadDocumentContent(db(), b)));
    EXPECT_EQ(steps, 0) << "three nodes show no progress";
    expectPathsConsistent();

    // Into its own subtree: the source is read before anything is written, so this ends.
    const QString inner = CopySubtree(db(), true, c, a, progress);
    ASSERT_FALSE(inner.isEmpty());
    EXPECT_EQ(CountSubtree(db(), inner), 2);
    EXPECT_EQ(steps, 0);
    expectPathsConsistent();
}

TEST_P(Nodes, CancelledCopyLeavesNoTrace) {
    const QString a = add(QStringLiteral("0"), QStringLiteral("A"));
    for (int i = 0; i < 5; ++i)
        add(a, QStringLiteral("c%1").arg(i));
    const int before = CountLiveNodes(db());
    Progress progress;
    int steps = 0;
    progress.step = [&](int) { return ++steps < 3; };
    EXPECT_TRUE(CopySubtree(db(), true, QStringLiteral("0"), a, progress).isEmpty());
    EXPECT_EQ(steps, 3);
    EXPECT_EQ(CountLiveNodes(db()), before);
}

TEST_P(Nodes, RebuildPathsRepairsReachableRows) {
    const QString a = add(QStringLiteral("0"), QStringLiteral("A"));
    const QString b = add(a, QStringLiteral("B"));
    const QString c = add(b, QStringLiteral("C"));
    const QString e = add(QStringLiteral("0"), QStringLiteral("E"));
    const QString f = add(e, QStringLiteral("F"));
    ASSERT_TRUE(MoveNodeToBin(db(), b, false));
    ASSERT_TRUE(db().exec(QStringLiteral("update info set fullpath='/broken/', fullname='/x/'")));
    // E claims to have no children: what lies below it is not reached and keeps its paths.
    ASSERT_TRUE(db().exec(QStringLiteral("update info set haschild='N' where id=:id"),
                          {{QStringLiteral(":id"), e.toLongLong()}}));
    ASSERT_TRUE(RebuildPaths(db()));
    EXPECT_EQ(GetChildName(db(), c), QStringLiteral("/A/B/C/")) << "rows in the bin are repaired too";
    EXPECT_EQ(GetChildPath(db(), c), u'/' + a + u'/' + b + u'/' + c + u'/');
    EXPECT_EQ(column(QStringLiteral("info"), QStringLiteral("fullname"), e), QStringLiteral("/"));
    EXPECT_EQ(column(QStringLiteral("info"), QStringLiteral("fullname"), f), QStringLiteral("/x/"));
}

TEST_P(Nodes, PropertiesMemoAndSmallUpdates) {
    const QString a = add(QStringLiteral("0"), QStringLiteral("A"));
    Tinfoproperty rec;
    rec.isProtected = true;
    rec.keywords = QStringLiteral("k1 k2");
    rec.memo = QStringLiteral("first\nzweite Zeile é");
    ASSERT_TRUE(UpdateNodeProperties(db(), rec, a));
    const auto back = ReadNodeProperties(db(), a);
    ASSERT_TRUE(back);
    EXPECT_TRUE(back->isProtected);
    EXPECT_FALSE(back->hidden);
    EXPECT_EQ(back->keywords, QStringLiteral("k1 k2"));
    EXPECT_EQ(back->memo, rec.memo);
    const QByteArray stored =
        db().scalar(QStringLiteral("select memotext from info where id=:id"), {{QStringLiteral(":id"), a.toLongLong()}})
            .toByteArray();
    EXPECT_TRUE(stored.startsWith("\xFF\xFE"
                                  "f\0i\0"))
        << "UTF-16 LE with mark, not compressed";
    EXPECT_TRUE(stored.endsWith(QByteArray("\r\0\n\0", 4)));
    rec.keywords.clear();
    ASSERT_TRUE(UpdateNodeProperties(db(), rec, a));
    EXPECT_EQ(column(QStringLiteral("info"), QStringLiteral("key_word"), a), QStringLiteral(" "));
    ASSERT_TRUE(SetReadMark(db(), a, true));
    ASSERT_TRUE(SetFontColor(db(), a, 255));
    ASSERT_TRUE(SetNodeSortNumber(db(), a, 9));
    const auto item = ReadNodeItem(db(), a);
    ASSERT_TRUE(item);
    EXPECT_EQ(item->readType, QStringLiteral("Y"));
    EXPECT_EQ(item->fontColor, 255);
    EXPECT_EQ(item->sortNumber, 9);
    EXPECT_FALSE(SetInboxFlag(db(), a));
    EXPECT_FALSE(IsInboxNode(db(), a));
    EXPECT_EQ(GetMailId(db(), QStringLiteral("99999")), QStringLiteral("0"));
}

TEST_P(Nodes, DocumentPasswordAsksOnlyWhenSet) {
    const QString a = add(QStringLiteral("0"), QStringLiteral("Secret"));
    add(a, QStringLiteral("child"));
    int asked = 0;
    QString lastPrompt;
    std::optional<QString> answer;
    const PasswordPrompt prompt = [&](const QString&, const QString& text) {
        ++asked;
        lastPrompt = text;
        return answer;
    };
    ForgetUnlockedDocuments();
    EXPECT_TRUE(CheckDocumentPassword(db(), a, prompt));
    EXPECT_EQ(asked, 0);
    ASSERT_TRUE(SetDocumentPassword(db(), a, QStringLiteral("pw")));
    answer = QStringLiteral("wrong");
    EXPECT_FALSE(CheckDocumentPassword(db(), a, prompt));
    EXPECT_FALSE(UnlockedDocuments().contains(a.toLongLong()));
    EXPECT_TRUE(ListChildren(db(), a).isEmpty()) << "without a prompt nothing is listed";
    const struct {
        std::optional<QString> answer;
        bool accepted;
    } cases[] = {{QStringLiteral("pw"), true}, {QStringLiteral("PW"), false}, {std::nullopt, false}};
    for (const auto& c : cases) {
        answer = c.answer;
        EXPECT_EQ(CheckDocumentPassword(db(), a, prompt), c.accepted);
        EXPECT_EQ(ListChildren(db(), a, prompt).size(), c.accepted ? 1 : 0);
    }
    EXPECT_EQ(lastPrompt, QStringLiteral("Please input password of Document :Secret"));
    EXPECT_TRUE(UnlockedDocuments().contains(a.toLongLong())) << "the search may show it from now on";
    ASSERT_TRUE(SetDocumentPassword(db(), a, QString()));
    asked = 0;
    EXPECT_TRUE(CheckDocumentPassword(db(), a, prompt));
    EXPECT_EQ(asked, 0);
}

// A copy must not open what the original protects: each copied node keeps its password.
TEST_P(Nodes, CopiesKeepDocumentPasswords) {
    const QString a = add(QStringLiteral("0"), QStringLiteral("A"));
    const QString b = add(a, QStringLiteral("B"));
    const QString t = add(QStringLiteral("0"), QStringLiteral("T"));
    Tinfoproperty protectedRec;
    protectedRec.isProtected = true;
    ASSERT_TRUE(UpdateNodeProperties(db(), protectedRec, a));
    ASSERT_TRUE(SetDocumentPassword(db(), a, QStringLiteral("pa")));
    ASSERT_TRUE(SetDocumentPassword(db(), b, QStringLiteral("pb")));
    const QString alone = CopySubtree(db(), false, t, a);
    const QString deep = CopySubtree(db(), true, t, b);
    ASSERT_FALSE(alone.isEmpty());
    ASSERT_FALSE(deep.isEmpty());
    ForgetUnlockedDocuments();
    const struct {
        QString copy, original, password;
    } cases[] = {{alone, a, QStringLiteral("pa")}, {deep, b, QStringLiteral("pb")}};
    for (const auto& c : cases) {
        EXPECT_EQ(column(QStringLiteral("info"), QStringLiteral("d_password"), c.copy),
                  column(QStringLiteral("info"), QStringLiteral("d_password"), c.original));
        EXPECT_EQ(column(QStringLiteral("info"), QStringLiteral("haspassword"), c.copy),
                  column(QStringLiteral("info"), QStringLiteral("haspassword"), c.original));
        EXPECT_FALSE(CheckDocumentPassword(db(), c.copy, {})) << "no password given";
        const QString pw = c.password;
        EXPECT_TRUE(CheckDocumentPassword(db(), c.copy, [pw](const QString&, const QString&) { return pw; }));
    }
    EXPECT_EQ(column(QStringLiteral("info"), QStringLiteral("haspassword"), alone), QStringLiteral("Y"));
}

// Nothing goes below a node in the recycle bin: it would vanish from the tree when the bin is emptied.
TEST_P(Nodes, TargetsInTheBinAreRefused) {
    const QString a = add(QStringLiteral("0"), QStringLiteral("A"));
    const QString b = add(a, QStringLiteral("B"));
    const QString d = add(QStringLiteral("0"), QStringLiteral("D"));
    ASSERT_TRUE(MoveNodeToBin(db(), a, true));
    ASSERT_TRUE(RestoreNodes(db(), {b.toLongLong()})); // live, but below a node in the bin
    Tinfoproperty rec;
    rec.caption = QStringLiteral("x");
    for (const QString& target : {a, b}) {
        EXPECT_TRUE(InsertNode(db(), rec, target).isEmpty()) << target.toStdString();
        EXPECT_EQ(MoveNode(db(), target, d), 0) << target.toStdString();
        EXPECT_TRUE(CopySubtree(db(), true, target, d).isEmpty()) << target.toStdString();
    }
    EXPECT_EQ(column(QStringLiteral("info"), QStringLiteral("parentnode"), d), QStringLiteral("0"));
    EXPECT_EQ(db().scalar(QStringLiteral("select count(*) from info where caption='x' or parentnode=:b"),
                          {{QStringLiteral(":b"), b.toLongLong()}})
                  .toLongLong(),
              0);
}

TEST_P(Nodes, FaultInMoveLeavesNoTrace) {
    const QString a = add(QStringLiteral("0"), QStringLiteral("A"));
    const QString b = add(a, QStringLiteral("B"));
    const QString c = add(b, QStringLiteral("C"));
    const QString t = add(QStringLiteral("0"), QStringLiteral("T"));
    injectUpdateFault(QStringLiteral("info"), c);
    EXPECT_EQ(MoveNode(db(), t, a), 0);
    EXPECT_EQ(GetChildName(db(), b), QStringLiteral("/A/B/"));
    EXPECT_EQ(column(QStringLiteral("info"), QStringLiteral("parentnode"), a), QStringLiteral("0"));
    EXPECT_FALSE(RenameNode(db(), QStringLiteral("Z"), a));
    EXPECT_EQ(GetNodeCaption(db(), a), QStringLiteral("A"));
    expectPathsConsistent();
}

TEST_P(Nodes, FileListSkipsInboxSystemFoldersAndBin) {
    const QString a = add(QStringLiteral("0"), QStringLiteral("A"));
    const QString live = add(a, QStringLiteral("live"));
    const QString inbox = add(a, QStringLiteral("inbox"));
    const QString binned = add(a, QStringLiteral("binned"));
    ASSERT_TRUE(db().exec(QStringLiteral("update info set inbox='Y' where id=:id"),
                          {{QStringLiteral(":id"), inbox.toLongLong()}}));
    ASSERT_TRUE(MoveNodeToBin(db(), binned, false));
    addMailRow(live);
    const auto rows = ListFileRows(db(), a);
    ASSERT_EQ(rows.size(), 1);
    EXPECT_EQ(QString::number(rows[0].id), live);
    EXPECT_TRUE(ReadFileRow(db(), live).has_value());
    EXPECT_FALSE(ReadFileRow(db(), binned).has_value());
}

ZEL_INSTANTIATE_DB_TEST(Nodes);

} // namespace
} // namespace zel::test
