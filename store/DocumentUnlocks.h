#pragma once

#include <QSet>

namespace zel {

// Nodes whose document password was given in this session. Whoever checks a document password records
// a correct answer here; the search shows protected documents only when they are in this set.
void RememberDocumentUnlocked(qint64 id);
QSet<qint64> UnlockedDocuments();
// At logout: every protected document is locked again.
void ForgetUnlockedDocuments();

} // namespace zel
