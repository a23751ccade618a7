#pragma once

#include <QDateTime>
#include <QString>
#include <QStringList>

namespace zel {

// The words of a search text: every include word must occur, no exclude word may.
struct SearchWords {
    QStringList include;
    QStringList exclude;
    bool empty() const { return include.isEmpty() && exclude.isEmpty(); }
};

// Lower-cases text as QString::toLower does, faster for text that is all ASCII.
QString FoldCase(QString text);

// Cuts a search text at " ", "&", "+" and "-"; the word after a "-" is an exclude word. Words are
// lower-cased unless matchCase.
SearchWords SplitSearchWords(const QString& text, bool matchCase);

// The text a row is matched against: full name (when included), caption, keywords and content joined
// without separators, lower-cased unless matchCase.
QString BuildHaystack(const QString& fullName, const QString& caption, const QString& keywords, const QString& content,
                      bool includeFullName, bool matchCase);
bool MatchesWords(const QString& haystack, const SearchWords& words);

// Drops whole tags and the cut halves of tags at the ends of a piece of HTML.
QString RemoveTags(const QString& piece);

// The excerpt of a result: the content around the first occurrence of each include word with the
// words highlighted; the first 200 characters when none occurs. Every text taken from the content is
// escaped. content is already folded when the search ignores case.
QString BuildExcerpt(const QString& content, const QStringList& includeWords);

// One result of a result page. Texts from the knowledge base are escaped.
struct SearchResultEntry {
    int number = 0;
    qint64 id = 0;
    QString caption;
    QString fullName;
    QString keywords;
    QDateTime created;
    QDateTime modified;
    QString excerpt; // HTML from BuildExcerpt
};
QString ResultEntryHtml(const SearchResultEntry& e);

// Texts the search shows in its result view.
QString OpeningDataHtml(); // before the search starts
QString SearchingHtml();   // while it scans
QString NoResultsHtml();   // at the end, when there is no page
QString PageLabelText(int currentIndex, int pageCount);
// Status text at the end: "Search time:1.23Second".
QString SearchTimeText(qint64 elapsedMs);

// The search history file SearchList.dat: one text per line.
QStringList ReadSearchHistory(const QString& path);
bool WriteSearchHistory(const QString& path, const QStringList& items);
// Puts a text first unless it is already there; at most 1001 entries remain.
void AddToSearchHistory(QStringList& items, const QString& text);
QString SearchHistoryPath();

} // namespace zel
