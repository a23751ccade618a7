#include "search/TSearchPages.h"

#include "search/SearchText.h"

#include <algorithm>

namespace zel {

void TSearchPages::clear() {
    pages_.clear();
    current_ = -1;
}

bool TSearchPages::add(const QString& html) {
    if (html.isEmpty()) return false;
    pages_ << html;
    if (current_ >= 0) return false;
    current_ = 0;
    return true;
}

bool TSearchPages::step(bool next) {
    if (pages_.isEmpty()) return false;
    const int target = std::clamp(current_ + (next ? 1 : -1), 0, count() - 1);
    if (target == current_) return false;
    current_ = target;
    return true;
}

QString TSearchPages::label() const {
    return PageLabelText(current_, count());
}

} // namespace zel
