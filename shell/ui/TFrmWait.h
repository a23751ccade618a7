#pragma once

#include <QDialog>

class QLabel;
class QProgressBar;

namespace zel {

// A small window that stays on top, centred, with one text line and a progress bar (0 to 100 unless
// the caller sets another maximum).
class TFrmWait : public QDialog {
    Q_OBJECT
public:
    explicit TFrmWait(QWidget* parent = nullptr);
    void setText(const QString& text);
    void advance(int n);
    void setMaximum(int max);
    int position() const;
    QString text() const;

private:
    QLabel* label_;
    QProgressBar* bar_;
};

} // namespace zel
