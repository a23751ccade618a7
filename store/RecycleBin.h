#pragma once

#include <QList>
#include <QString>

#include "platform/Database.h"
#include "store/Nodes.h"
#include "store/Progress.h"

namespace zel {

// Deletion states of info, mail and accessories rows: null or anything but "Y"/"D" is live, "Y" is
// in the recycle bin, "D" is purged until maintenance removes the row. Every operation below runs as
// one transaction: on failure nothing has changed.

// The node, its live mail row and live attachments go to the bin; with subtree every live node below
// it too, with theirs. Purged rows stay purged.
bool MoveNodeToBin(Database& db, const QString& id, bool withSubtree);
// The listed nodes with their live mail rows and attachments (no subtrees).
bool MoveNodesToBin(Database& db, const QList<qint64>& ids);
// The listed nodes in the bin, and their mail rows and attachments in the bin, become live again.
bool RestoreNodes(Database& db, const QList<qint64>& ids);
// After a restore: the parents of the listed nodes are marked as having children. Returns the listed
// nodes that sit at the top level (the tree adds them under its root).
QList<qint64> RestoreParents(Database& db, const QList<qint64>& ids);
// The listed nodes that are in the bin become purged, each with every row below it that is not purged
// yet, and their mail rows and attachments. Listed nodes that are not in the bin are left alone.
bool PurgeNodes(Database& db, const QList<qint64>& ids);
// Everything in the bin becomes purged, with every row below a node in the bin.
bool EmptyRecycleBin(Database& db);
int CountBinNodes(Database& db);
// Every node in the bin, each on its own whatever its parent's state.
QList<FileListRow> ListBinNodes(Database& db);
// Removes every purged row for good.
bool PurgeDeleted(Database& db);
// SQLite: compacts the file in place (VACUUM), atomically and under the file's own lock, so other
// connections keep working on it; false, with nothing changed, when they keep it from running.
// PostgreSQL: VACUUM (ANALYZE) of the knowledge base's main tables. False inside a transaction.
bool CompactDatabase(Database& main, const Progress& progress = {});

struct MaintenanceResult {
    bool purged = false;
    bool compacted = false;
    bool repaired = false;
    bool ok = false;
    int messageIdent = 0; // 40333 when every step run succeeded, else 40334
};
// The maintenance command after its dialog: purge (optional), compact, repair paths (optional, only
// when everything before succeeded).
MaintenanceResult RunMaintenance(Database& db, bool clearDeleted, bool repairPaths, const Progress& progress = {});

} // namespace zel
