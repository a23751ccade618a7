#pragma once

#include <QObject>
#include <QPointer>
#include <QString>

#include "search/TSearchEngine.h"
#include "search/TSearchIndexBuilder.h"

namespace zel {

// The searches and the index builder of one open knowledge base. Only one search runs at a time: a new
// one stops the one before. stopAll() (logout, closing the knowledge base, exit) ends every worker and
// returns when none of them touches the knowledge base any more.
class TSearchSession : public QObject {
    Q_OBJECT
public:
    explicit TSearchSession(QString connectionString, QObject* parent = nullptr);
    ~TSearchSession() override;

    // Stops the running search, waits for it, and returns a new engine for the criteria, owned by the
    // session. Connect to its signals, then start() it. Signals the stopped search queued before it
    // ended may still arrive: receivers compare sender() with the current search.
    TSearchEngine* newSearch(TSearchCriteria criteria);
    TSearchEngine* currentSearch() const { return current_; }
    void stopSearch();

    // The index builder, started when the session opens.
    TSearchIndexBuilder* indexBuilder() { return &builder_; }
    void startIndexBuilder() { builder_.start(); }

    void stopAll();

private:
    QString connString_;
    QPointer<TSearchEngine> current_;
    TSearchIndexBuilder builder_;
};

} // namespace zel
