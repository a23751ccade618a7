// Placeholder definitions until the search index exists: the store's calls change nothing yet.
#include "store/IndexHooks.h"

namespace zel {

void SearchIndexNodesChanged(Database&, const QList<qint64>&) {}
void SearchIndexSubtreeChanged(Database&, const QString&) {}
void SearchIndexRowsPurged(Database&) {}

} // namespace zel
