#pragma once

#include <QDateTime>
#include <QList>
#include <QString>
#include <functional>
#include <optional>

#include "platform/Database.h"
#include "store/Progress.h"

namespace zel {

// The properties of one node, read and written together.
struct Tinfoproperty {
    QString caption;
    QDateTime created;
    QDateTime modified;
    QString actor;
    bool isProtected = false;
    bool hidden = false;
    QString keywords;
    qint32 sortNumber = 0;
    QString content; // initial content for insert; empty means the default document
    bool placeholder = false;
    bool inbox = false;
    qint32 mailId = 0;
    QString mailType;
    QString fullName;
    QString memo;
};

// Asks the user for a document password: (title, prompt) -> the typed text, nullopt when cancelled.
using PasswordPrompt = std::function<std::optional<QString>(const QString& title, const QString& prompt)>;

// --- Paths and lookups ---------------------------------------------------------------------------

// Id path of a node ("/" for the root "0"), empty when there is no such node.
QString GetChildPath(Database& db, const QString& id);
// Name path of a node ("/" for the root), empty when there is no such node.
QString GetChildName(Database& db, const QString& id);
struct ChildPrefixes {
    QString name; // name path of the node
    QString path; // id path of the node
};
// Both paths of a node; both empty when there is no such node.
ChildPrefixes GetChildPrefixes(Database& db, const QString& parentId);
QString GetNodeCaption(Database& db, const QString& id);
// Live node with that name path ("\" and "/" alike, letter case ignored); "0" when none.
QString FindNodeByName(Database& db, const QString& namePath);
// As FindNodeByName, and marks the node found as having children.
QString MarkFolderByName(Database& db, const QString& namePath);
// A live child of parent other than excludedId ("0": none) has this caption, letter case ignored.
bool IsSiblingCaptionTaken(Database& db, const QString& parentId, const QString& excludedId, const QString& caption);
// The file's base name, made unique among the live children of parent with "_" + a random number.
QString UniqueSiblingCaption(Database& db, const QString& parentId, const QString& fileName);
// Largest sort number among the live children, 0 when none or on failure.
int MaxSortNumber(Database& db, const QString& parentId);
bool IsInboxNode(Database& db, const QString& id);
QString GetMailId(Database& db, const QString& id);

// --- Locks ---------------------------------------------------------------------------------------

// Locks info rows until the transaction ends (PostgreSQL: FOR UPDATE when exclusive, else FOR SHARE,
// in id order; SQLite: nothing, its write transaction holds the file). Call inside a transaction.
bool LockNodeRows(Database& db, QList<qint64> ids, bool exclusive);
struct LockedTarget {
    ChildPrefixes prefixes; // the target's own paths, read under the lock
    bool live = false;      // the target and every node above it are live
};
// Locks the extra rows and the target's way to the root (the target and every node above it), then
// reads the target's paths: they hold until the transaction ends. nullopt when there is no such
// target. The root "0" has no row: only the extra rows are locked.
std::optional<LockedTarget> LockTarget(Database& db, const QString& targetId, const QList<qint64>& extra,
                                       bool exclusive);

// --- Counts over live rows -----------------------------------------------------------------------

int CountLiveNodes(Database& db);
int CountLiveFolders(Database& db);
// Live nodes (folders) below a node, the node excluded; 0 for the root or an unknown node.
int CountSubtree(Database& db, const QString& id);
int CountSubfolders(Database& db, const QString& id);

// --- Listings ------------------------------------------------------------------------------------

// One row of the tree's listings.
struct NodeItem {
    qint64 id = 0;
    QString caption;
    QString hasChild;
    QDateTime created, modified;
    qint32 sortNumber = 0;
    QString inbox;
    qint64 mailId = 0;
    QString mailType;
    qint64 mimeId = 0;
    QString readType;
    qint64 fontColor = 0;
};

// Live children of a node. For a node other than the root its document password is asked for first;
// a refused password (or none asked for lack of a prompt) lists nothing.
QList<NodeItem> ListChildren(Database& db, const QString& parentId, const PasswordPrompt& prompt = {});
// One node for the tree; nullopt when there is no such row.
std::optional<NodeItem> ReadNodeItem(Database& db, const QString& id);

// One row of the file list of a folder, or of the recycle bin.
struct FileListRow {
    qint64 id = 0;
    QString caption;
    qint64 fileSize = 0;
    QString fullName;
    qint64 fontColor = 0;
    QString readType, hasDelete, actor, keywords, hasChild;
    QDateTime created, modified;
    qint32 sortNumber = 0;
    QString inbox, mailType;
    // From the mail row, when there is one.
    QString mailAddress, account;
    QDateTime received, sent;
    QString directSend;
};

// Live, non-inbox children in sort order, without the outbox and sent folders.
QList<FileListRow> ListFileRows(Database& db, const QString& parentId);
std::optional<FileListRow> ReadFileRow(Database& db, const QString& id);
// The columns the file list and the bin listing share, in their select order (id ... mailtype).
FileListRow ReadFileListColumns(const Query& q);

// --- Changes -------------------------------------------------------------------------------------

// Inserts a node under the parent; returns its id, empty on failure (no such parent, or a parent in
// the recycle bin or below a node there).
QString InsertNode(Database& db, const Tinfoproperty& rec, const QString& parentId);
// The document a new node gets when no content is given.
QString DefaultDocument(bool placeholder, const QString& background);
// Text in the stored content form: UTF-16 LE with mark, CR LF line ends, compressed. size receives
// the uncompressed size in bytes.
QByteArray StoredContent(const QString& text, qint64* size = nullptr);

// Renames a node and rewrites the name paths of its whole subtree, whatever the rows' state.
bool RenameNode(Database& db, const QString& newCaption, const QString& id);
// Moves a node with its subtree under a new parent ("0": the root). Returns the node's new sort
// number, 0 on failure: no such node or parent, a parent that is the node or lies below it, or a
// parent in the recycle bin (or below a node there).
int MoveNode(Database& db, const QString& newParentId, const QString& id);
// Copies a node (and its live subtree with children) under target; returns the copy's id, empty on
// failure (also for a target in the recycle bin). Each copy keeps its document password. A cancelled
// progress undoes the copy.
QString CopySubtree(Database& db, bool withChildren, const QString& targetId, const QString& sourceId,
                    const Progress& progress = {});
struct CopiedNode {
    QString id;
    ChildPrefixes childPrefixes; // the copy's own name and id paths
};
// Copies one row with its live attachments under newParent, whose own paths are given.
std::optional<CopiedNode> CopyNodeRecord(Database& db, bool copyChildFlag, const QString& sourceId,
                                         const QString& newParentId, const ChildPrefixes& parentPrefixes);
// Sets haschild from the live children; returns whether there are any. False for a blank id.
bool RefreshHasChild(Database& db, const QString& id);
std::optional<Tinfoproperty> ReadNodeProperties(Database& db, const QString& id);
bool UpdateNodeProperties(Database& db, const Tinfoproperty& rec, const QString& id);
bool SetMemoText(Database& db, const QString& id, const QString& text);
bool SetNodeSortNumber(Database& db, const QString& id, int number);
bool SetReadMark(Database& db, const QString& id, bool read);
bool SetFontColor(Database& db, const QString& id, qint64 colour);
// Stores a hash of the password; an empty password removes protection.
bool SetDocumentPassword(Database& db, const QString& id, const QString& password);
// Sets inbox from whether a mail account delivers into the folder; returns the new flag.
bool SetInboxFlag(Database& db, const QString& id);
// True without asking when the node has no password (or does not exist); otherwise asks through
// prompt and checks the answer.
bool CheckDocumentPassword(Database& db, const QString& id, const PasswordPrompt& prompt);
// Rewrites both paths of every row reachable from the root through haschild = "Y".
bool RebuildPaths(Database& db, const Progress& progress = {});

// --- Id lists ------------------------------------------------------------------------------------

// "12,13,14," (as the file list builds it) -> ids; anything that is not a number is left out.
QList<qint64> ParseIdList(const QString& text);

} // namespace zel
