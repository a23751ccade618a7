#pragma once

#include <QString>
#include <QStringList>

namespace zel {

// The result pages of the last search and the page on show, as the result view keeps them; they last
// until the next search starts.
class TSearchPages {
public:
    // A search starts: no pages, none shown.
    void clear();
    // A page was flushed. Returns true when it is the search's first, which is then the page on show.
    bool add(const QString& html);
    // Next (true) or previous page, kept within the pages. Returns true when the page on show changed.
    bool step(bool next);

    int current() const { return current_; }
    int count() const { return int(pages_.size()); }
    QString currentHtml() const { return current_ >= 0 ? pages_.value(current_) : QString(); }
    // "Current page: 1  Total page:3"
    QString label() const;

private:
    QStringList pages_;
    int current_ = -1;
};

} // namespace zel
