#include "search/TSearchSession.h"

namespace zel {

TSearchSession::TSearchSession(QString connectionString, QObject* parent)
    : QObject(parent), connString_(std::move(connectionString)), builder_(connString_) {}

TSearchSession::~TSearchSession() {
    stopAll();
}

TSearchEngine* TSearchSession::newSearch(TSearchCriteria criteria) {
    stopSearch();
    // The builder is at it already: the search serves what is built and scans the rest at once.
    if (builder_.isRunning()) criteria.indexBuildBudgetMs = 0;
    current_ = new TSearchEngine(connString_, std::move(criteria), this);
    return current_;
}

void TSearchSession::stopSearch() {
    if (!current_) return;
    current_->stop();
    current_->wait();
    // Later: queued signals of the old search may still be on their way to receivers.
    current_->deleteLater();
    current_ = nullptr;
}

void TSearchSession::stopAll() {
    // Both are asked first, so that they wind down together.
    if (current_) current_->stop();
    builder_.stop();
    stopSearch();
}

} // namespace zel
