#include "shell/ui/TFrmWait.h"

#include "shell/ui/Captions.h"

#include <QApplication>
#include <QLabel>
#include <QProgressBar>
#include <QVBoxLayout>

namespace zel {

TFrmWait::TFrmWait(QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::WindowStaysOnTopHint | Qt::CustomizeWindowHint | Qt::WindowTitleHint),
      label_(new QLabel(this)), bar_(new QProgressBar(this)) {
    setObjectName(QStringLiteral("FrmWait"));
    PrepareDialog(this);
    label_->setObjectName(QStringLiteral("lblWait"));
    bar_->setObjectName(QStringLiteral("pbWait"));
    bar_->setRange(0, 100);
    bar_->setValue(0);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(label_);
    layout->addWidget(bar_);
    setMinimumWidth(360);
}

void TFrmWait::setText(const QString& text) {
    label_->setText(text);
    label_->setAccessibleName(text);
    bar_->setAccessibleName(text);
    QApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
}

void TFrmWait::advance(int n) {
    bar_->setValue(qMin(bar_->maximum(), bar_->value() + n));
    QApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
}

void TFrmWait::setMaximum(int max) {
    bar_->setMaximum(max);
}

int TFrmWait::position() const {
    return bar_->value();
}

QString TFrmWait::text() const {
    return label_->text();
}

} // namespace zel
