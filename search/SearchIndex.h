#pragma once

#include <QDeadlineTimer>
#include <QList>
#include <QString>
#include <QStringList>
#include <atomic>
#include <optional>

#include "platform/Database.h"

namespace zel {

// The search index finds candidate rows for content searches; every candidate is still checked by the
// exact matcher. SQLite: contentless FTS5 trigram tables; PostgreSQL: GIN indexes over the words of each
// row, with a trigram index over the vocabulary. It covers every row of info, whatever its deletion state,
// so bin moves and restores need no index work. Triggers on info note every change, whoever makes it; the
// index catches up on those notes before a search uses it, and the rows still noted are candidates.
//
// Per row it holds the lower-cased text of caption + keywords + content ("body"), and the lower-cased
// full name followed by the first kLeadLength characters of the body ("head"), so that a word that starts
// in the full name and runs on into the caption is found too, and a move or rename of a folder only
// rewrites the small head texts of its subtree.

constexpr int kLeadLength = 64;

// True when the index tables exist (complete or still being built).
bool SearchIndexExists(Database& db);
// True when the index exists and covers every row.
bool SearchIndexReady(Database& db);
// Creates the index when missing and indexes the rows it does not cover yet, in batches of their own
// transactions. Returns true when the index is complete; false when stopped or on failure (the work
// done so far is kept and resumed next time).
// A deadline ends the build early the same way, without counting as a failure.
// With oneBatch, at least one batch of rows is built however short the deadline.
bool EnsureSearchIndex(Database& db, const std::atomic<bool>* stop = nullptr,
                       const QDeadlineTimer& deadline = QDeadlineTimer(QDeadlineTimer::Forever), bool oneBatch = false);
// While the first build is under way: the index covers every row with an id up to this one (and the
// rows changed since). -1 when the index is complete or missing.
qint64 SearchIndexBuiltUpTo(Database& db);
// Brings the entries of rows changed since (the database notes every change of info in zel_search_dirty,
// whoever writes) up to date. Returns true when no change is left to take.
bool CatchUpSearchIndex(Database& db, const std::atomic<bool>* stop = nullptr,
                        const QDeadlineTimer& deadline = QDeadlineTimer(QDeadlineTimer::Forever));
// Changes noted and not yet taken by the index.
qint64 SearchIndexPendingChanges(Database& db);
// Drops the index and builds it again ("Repair Search Index").
bool RebuildSearchIndex(Database& db);
// Drops the index; the next search builds it again.
bool DropSearchIndex(Database& db);
// Bytes the index takes in the database (SQLite: pages of its tables; PostgreSQL: relation sizes).
qint64 SearchIndexBytes(Database& db);

// Rows the index covers.
qint64 SearchIndexRowCount(Database& db);

// Words the index can narrow a search by: at least three characters (PostgreSQL: a run of three letters
// or digits), and for searches that include the full name no longer than the head can hold past it.
bool IndexCanServe(Dialect d, const QString& foldedWord, bool includeFullName);

// Ids (ascending) of the rows that may contain every servable word of foldedWords, or nothing when
// the index cannot narrow the search: no servable word, every servable word occurs in at least limit
// rows, or limit rows or more have changes the index has not caught up on (those rows are always
// candidates). Words found in limit rows or more do not narrow the set.
std::optional<QList<qint64>> SearchIndexCandidates(Database& db, const QStringList& foldedWords, bool includeFullName,
                                                   qint64 limit);

} // namespace zel
