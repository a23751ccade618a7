#pragma once

#include <QDialog>

#include "shell/ui/Captions.h"

class QCheckBox;
class QLabel;
class QTextBrowser;

namespace zel {

// The welcome window: a tip pane, three link labels and the "show at next time" check box. Created
// once per main window and shown again.
class TFrmWelcome : public QDialog {
    Q_OBJECT
public:
    explicit TFrmWelcome(QWidget* parent = nullptr);
    void showTopic(int ident);
    QString tipHtml() const;

signals:
    // Tag 0 "How to use", 2 mail settings, 3 system settings.
    void linkActivated(int tag);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    QTextBrowser* tip_;
    QLabel* labels_[3] = {};
    QCheckBox* chkShow_;
    QString html_;
    Captions captions_;
};

} // namespace zel
