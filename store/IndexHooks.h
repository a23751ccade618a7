#pragma once

#include <QList>
#include <QString>

#include "platform/Database.h"

namespace zel {

// Store operations call these, inside their own transaction, after they change what full-text search
// looks at: content, caption, keywords, full name (paths), or after they add or physically remove rows.
// The search index keeps itself in step through them.

// The listed nodes were inserted, or had content, caption or keywords changed.
void SearchIndexNodesChanged(Database& db, const QList<qint64>& ids);
// Every node below the id path prefix (the node itself excluded) has a new full name or id path; the
// node owning the prefix is passed on its own through SearchIndexNodesChanged when it changed too.
void SearchIndexSubtreeChanged(Database& db, const QString& idPathPrefix);
// Rows of info were physically deleted (maintenance).
void SearchIndexRowsPurged(Database& db);

} // namespace zel
