#pragma once

#include <QString>
#include <functional>

namespace zel {

// Progress of a long store operation, shown by the caller (wait window, progress dialog, nothing).
// start(text, maximum), then step(n) as work advances; step returns false when the user cancelled.
struct Progress {
    std::function<void(const QString& text, int maximum)> start;
    std::function<bool(int n)> step;
    std::function<void()> finish;

    void begin(const QString& text, int maximum) const {
        if (start) start(text, maximum);
    }
    bool advance(int n = 1) const { return step ? step(n) : true; }
    void end() const {
        if (finish) finish();
    }
};

} // namespace zel
