#pragma once

#include <QWidget>

#include "store/Progress.h"

class QLabel;
class QProgressBar;

namespace zel {

// The wait window: a small window on top with one text line and a progress bar (0 to 100 unless the
// caller sets another maximum). Shown without being modal.
class TFrmWait : public QWidget {
    Q_OBJECT
public:
    explicit TFrmWait(QWidget* parent = nullptr);
    void setText(const QString& text);
    void setMaximum(int maximum);
    void step(int n = 1);
    void setBarVisible(bool visible);
    int position() const;
    QString text() const;

    // A store progress that drives this window (from the window's own thread).
    Progress progress();

    QLabel* lblText;
    QProgressBar* pbWait;
};

} // namespace zel
