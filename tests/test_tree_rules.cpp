// The tree's rules that need no widgets: sort numbers, link URLs, history, command states.
#include <gtest/gtest.h>

#include "tree/TreeRules.h"

using namespace zel;

TEST(TreeRules, SortNumbersPickSectionAndDirection) {
    struct Case {
        int number, section;
        bool ascending;
    };
    for (const Case& c : {Case{0, 0, true}, Case{1, 0, false}, Case{4, 2, true}, Case{5, 2, false}, Case{6, 3, true},
                          Case{7, 3, false}, Case{16, 8, true}, Case{17, 8, false}}) {
        EXPECT_TRUE(IsKnownSortNumber(c.number));
        EXPECT_EQ(SortSection(c.number), c.section) << c.number;
        EXPECT_EQ(SortAscending(c.number), c.ascending) << c.number;
    }
    for (int n : {2, 3, 8, 15, 18, -1})
        EXPECT_FALSE(IsKnownSortNumber(n)) << n;
    // Sort numbers compare as numbers, times as times, captions as text.
    EXPECT_LT(CompareTreeValues(ColSortNumber, QStringLiteral("9"), QStringLiteral("10")), 0);
    EXPECT_GT(CompareTreeValues(ColSortNumber, QStringLiteral("20001"), QStringLiteral("300")), 0);
    EXPECT_LT(
        CompareTreeValues(ColCreated, QStringLiteral("2024-01-02 09:00:00"), QStringLiteral("2024-01-10 08:00:00")), 0);
}

TEST(TreeRules, LinkUrlDropsTheRootCaption) {
    EXPECT_EQ(NodeLinkUrl({QStringLiteral("My KB"), QStringLiteral("Work"), QStringLiteral("Notes")}),
              QStringLiteral("link://document/Work/Notes.htm"));
    EXPECT_EQ(NodeLinkUrl({QStringLiteral("KB"), QStringLiteral("Čaj")}), QStringLiteral("link://document/Čaj.htm"));
}

TEST(TreeRules, HistoryBackAndForward) {
    NodeHistory h;
    EXPECT_FALSE(h.canBack());
    h.opened({}); // nothing was open yet
    EXPECT_FALSE(h.canBack());
    h.opened({QStringLiteral("1"), QStringLiteral("u1")});
    h.opened({QStringLiteral("2"), QStringLiteral("u2")});
    // Current is 3.
    HistoryEntry e = h.back({QStringLiteral("3"), QStringLiteral("u3")});
    EXPECT_EQ(e.id, QStringLiteral("2"));
    EXPECT_TRUE(h.canForward());
    e = h.back(e);
    EXPECT_EQ(e.id, QStringLiteral("1"));
    EXPECT_FALSE(h.canBack());
    e = h.forward(e);
    EXPECT_EQ(e.id, QStringLiteral("2"));
    // Opening something new drops the forward stack.
    h.opened(e);
    EXPECT_FALSE(h.canForward());
    EXPECT_TRUE(h.back({QStringLiteral("9"), {}}).id == QStringLiteral("2"));
}

TEST(TreeRules, TreeCommandStates) {
    TreeItemFacts doc;
    doc.focused = true;
    doc.id = 12;
    CommandStates s = TreeCommandStates(doc);
    for (TreeCommand c : {TreeCommand::Open, TreeCommand::NewDocument, TreeCommand::NewSubDocument, TreeCommand::Rename,
                          TreeCommand::MoveTo, TreeCommand::Delete, TreeCommand::MarkRead, TreeCommand::ColourSign,
                          TreeCommand::Property, TreeCommand::DefaultDocument, TreeCommand::SendToMail})
        EXPECT_TRUE(s[c]) << TreeCommandName(c).toStdString();
    EXPECT_FALSE(s[TreeCommand::Replay]);
    EXPECT_FALSE(s[TreeCommand::Restore]);
    EXPECT_FALSE(s[TreeCommand::MoveUp]); // caption order

    TreeItemFacts root = doc;
    root.id = 0;
    s = TreeCommandStates(root);
    EXPECT_FALSE(s[TreeCommand::NewDocument]);
    EXPECT_TRUE(s[TreeCommand::NewSubDocument]);
    EXPECT_FALSE(s[TreeCommand::Delete]);
    EXPECT_TRUE(s[TreeCommand::Property]);
    EXPECT_FALSE(s[TreeCommand::DefaultDocument]);

    TreeItemFacts bin = doc;
    bin.id = -1;
    s = TreeCommandStates(bin);
    EXPECT_FALSE(s[TreeCommand::EmptyBin]);
    bin.binHoldsNodes = true;
    s = TreeCommandStates(bin);
    EXPECT_TRUE(s[TreeCommand::EmptyBin]);
    EXPECT_FALSE(s[TreeCommand::Property]);
    EXPECT_FALSE(s[TreeCommand::Delete]);

    TreeItemFacts outbox = doc;
    outbox.outbox = true;
    s = TreeCommandStates(outbox);
    EXPECT_FALSE(s[TreeCommand::Delete]);
    EXPECT_FALSE(s[TreeCommand::Rename]);

    TreeItemFacts inbox = doc;
    inbox.inbox = true;
    s = TreeCommandStates(inbox);
    EXPECT_FALSE(s[TreeCommand::Delete]);
    EXPECT_TRUE(s[TreeCommand::Rename]);

    TreeItemFacts mail = doc;
    mail.mailType = QStringLiteral("I");
    EXPECT_TRUE(TreeCommandStates(mail)[TreeCommand::Replay]);

    // Custom order: first cannot go up, last cannot go down.
    TreeItemFacts custom = doc;
    custom.sortNumber = 6;
    custom.first = true;
    s = TreeCommandStates(custom);
    EXPECT_FALSE(s[TreeCommand::MoveUp]);
    EXPECT_TRUE(s[TreeCommand::MoveDown]);
    custom.first = false;
    custom.last = true;
    custom.sortNumber = 7;
    s = TreeCommandStates(custom);
    EXPECT_TRUE(s[TreeCommand::MoveUp]);
    EXPECT_FALSE(s[TreeCommand::MoveDown]);
}

TEST(TreeRules, FileListCommandStates) {
    FileRowFacts row;
    row.rowGiven = true;
    row.id = 5;
    CommandStates s = FileListCommandStates(row);
    EXPECT_TRUE(s[TreeCommand::Open]);
    EXPECT_TRUE(s[TreeCommand::Delete]);
    EXPECT_FALSE(s[TreeCommand::Restore]);
    EXPECT_FALSE(s[TreeCommand::Sort]);
    EXPECT_FALSE(s[TreeCommand::MoveUp]);

    FileRowFacts binRow = row;
    binRow.binShown = true;
    binRow.rowsPresent = true;
    s = FileListCommandStates(binRow);
    EXPECT_TRUE(s[TreeCommand::Restore]);
    EXPECT_TRUE(s[TreeCommand::Delete]); // purges
    EXPECT_TRUE(s[TreeCommand::EmptyBin]);
    EXPECT_FALSE(s[TreeCommand::Open]);
    EXPECT_FALSE(s[TreeCommand::NewDocument]);
    EXPECT_FALSE(s[TreeCommand::Property]);

    FileRowFacts none;
    s = FileListCommandStates(none);
    EXPECT_TRUE(s[TreeCommand::NewDocument]);
    EXPECT_FALSE(s[TreeCommand::Open]);
    EXPECT_FALSE(s[TreeCommand::Delete]);
}
