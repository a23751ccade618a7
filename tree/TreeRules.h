#pragma once

#include <QList>
#include <QString>
#include <QStringList>

#include "platform/Database.h"

namespace zel {

// --- Sort numbers --------------------------------------------------------------------------------

// The eight sort commands: caption 0/1, modification time 4/5, custom 6/7, creation time 16/17 (even
// ascending, odd descending). The section sorted on is the number halved.
bool IsKnownSortNumber(int number);
int SortSection(int number);
bool SortAscending(int number);

// Tree item columns after the caption (section 0): ids and texts kept as the store gives them.
enum TreeColumn {
    ColCaption = 0,
    ColId = 1,
    ColModified = 2,
    ColSortNumber = 3,
    ColInbox = 4,
    ColMailId = 5,
    ColMailType = 6,
    ColMimeId = 7,
    ColCreated = 8,
    TreeColumnCount = 9
};
enum class SortKind { Text, Number, DateTime };
SortKind TreeColumnKind(int section);
// Compares two column values by the section's kind; -1, 0 or 1.
int CompareTreeValues(int section, const QString& a, const QString& b);

// "yyyy-MM-dd hh:mm:ss", the form the tree keeps times in.
QString TreeTimeText(const QDateTime& dt);

// --- Link URLs -----------------------------------------------------------------------------------

// The link URL of a node from the captions of its item chain, the root's caption first:
// {"KB", "Work", "Notes"} -> "link://document/Work/Notes.htm".
QString NodeLinkUrl(const QStringList& captionsFromRoot);

// --- History -------------------------------------------------------------------------------------

struct HistoryEntry {
    QString id;
    QString url;
    bool operator==(const HistoryEntry&) const = default;
};

// Back and forward stacks of opened nodes.
class NodeHistory {
public:
    // A node was opened by any means but back/forward: the previous one (when there was one) goes on
    // the back stack and the forward stack is emptied.
    void opened(const HistoryEntry& previous);
    // The entry to open for "Back"/"forward"; current goes on the other stack. Empty id when none.
    HistoryEntry back(const HistoryEntry& current);
    HistoryEntry forward(const HistoryEntry& current);
    bool canBack() const { return !back_.isEmpty(); }
    bool canForward() const { return !forward_.isEmpty(); }
    void clear();

private:
    QList<HistoryEntry> back_, forward_;
};

// --- Command states ------------------------------------------------------------------------------

// The tree and file-list commands whose enabled state the tree computes.
enum class TreeCommand {
    Open,
    NewDocument,
    NewSubDocument,
    Rename,
    MoveTo,
    Delete,
    MarkRead,
    MarkUnread,
    ColourSign,
    Import,
    SendToMail,
    Replay,
    Property,
    EmptyBin,
    Restore,
    DefaultDocument,
    DefaultPage,
    Sort,
    MoveUp,
    MoveDown,
    Back,
    Forward,
    SetDocumentPassword,
    Count
};
constexpr int kTreeCommandCount = int(TreeCommand::Count);
// A stable name for each command ("NewDocument", ...), the key the main window's command table uses.
QString TreeCommandName(TreeCommand c);

// What the command states depend on, for the focused tree item.
struct TreeItemFacts {
    bool focused = false;
    qint64 id = 0;
    bool outbox = false, sentbox = false, inbox = false;
    QString mailType;
    bool binHoldsNodes = false; // the recycle bin item shows its full image
    // Custom order and the item's place among its siblings.
    int sortNumber = 0;
    bool first = false, last = false;
};
struct CommandStates {
    bool enabled[kTreeCommandCount] = {};
    bool operator[](TreeCommand c) const { return enabled[int(c)]; }
    bool& operator[](TreeCommand c) { return enabled[int(c)]; }
};
// States of the commands that follow the tree's focused item (history and password not included).
CommandStates TreeCommandStates(const TreeItemFacts& f);

// What the file list's states depend on: the row under the mouse or the focused row.
struct FileRowFacts {
    bool binShown = false; // the list shows the recycle bin
    bool rowGiven = false;
    bool anySelected = false;
    qint64 id = -1;
    bool outbox = false, sentbox = false, inbox = false;
    QString mailType;
    bool rowsPresent = false;
};
CommandStates FileListCommandStates(const FileRowFacts& f);

// --- Checks against the store ---------------------------------------------------------------------

// The node exists and is live (not in the bin, not purged). The root "0" always is.
bool IsLiveNode(Database& db, const QString& id);
// Checks a node name as the node dialog does; returns 0 when it may be used, else the ident of the
// message: 40433 empty, 41018 forbidden character, 40434 a live sibling (other than excludedId) has it.
int CheckNodeName(Database& db, const QString& trimmedName, const QString& parentId, const QString& excludedId);

} // namespace zel
