#pragma once

#include <QList>
#include <QString>
#include <QStringList>
#include <functional>

#include "platform/Database.h"
#include "search/TSearchEngine.h"

namespace zel::test {

struct FoundResult {
    int number;
    qint64 id;
    QString caption;
    QString address;
    bool operator==(const FoundResult&) const = default;
};

// Everything one search reported.
struct SearchRun {
    QList<FoundResult> results;
    QStringList pages;
    QList<int> positions;
    bool progressShown = false;
    bool scanStarted = false;
    bool finished = false;
    TSearchStats stats;
    QList<qint64> ids() const;
};

// Runs a search on the calling thread; onResult is called for each result as it is found.
SearchRun RunSearch(const QString& connectionString, const TSearchCriteria& c,
                    const std::function<void(TSearchEngine&, int number)>& onResult = {});

// Inserts a node through the store and sets its keywords by plain SQL. Returns its id.
qint64 AddNode(Database& db, qint64 parent, const QString& caption, const QString& content,
               const QString& keywords = {});
// Replaces a node's content with text in the stored form, as the content writer does.
void WriteContent(Database& db, qint64 id, const QString& text);

} // namespace zel::test
