#include "tree/ui/TFrmWait.h"

#include <QApplication>
#include <QLabel>
#include <QProgressBar>
#include <QVBoxLayout>

namespace zel {

TFrmWait::TFrmWait(QWidget* parent) : QWidget(parent, Qt::Dialog | Qt::WindowStaysOnTopHint) {
    setObjectName(QStringLiteral("FrmWait"));
    setWindowTitle(QApplication::applicationName());
    lblText = new QLabel;
    lblText->setObjectName(QStringLiteral("lblText"));
    pbWait = new QProgressBar;
    pbWait->setObjectName(QStringLiteral("pbWait"));
    pbWait->setAccessibleName(QStringLiteral("Progress"));
    pbWait->setRange(0, 100);
    pbWait->setValue(0);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(lblText);
    layout->addWidget(pbWait);
    resize(360, 90);
}

void TFrmWait::setText(const QString& text) {
    lblText->setText(text);
    lblText->setAccessibleName(text);
}

void TFrmWait::setMaximum(int maximum) {
    pbWait->setRange(0, qMax(1, maximum));
}

void TFrmWait::step(int n) {
    pbWait->setValue(qMin(pbWait->maximum(), pbWait->value() + n));
}

void TFrmWait::setBarVisible(bool visible) {
    pbWait->setVisible(visible);
}

int TFrmWait::position() const {
    return pbWait->value();
}

QString TFrmWait::text() const {
    return lblText->text();
}

Progress TFrmWait::progress() {
    Progress p;
    p.start = [this](const QString& text, int maximum) {
        if (!text.isEmpty()) setText(text);
        setMaximum(maximum);
        pbWait->setValue(0);
        QApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
    };
    p.step = [this](int n) {
        step(n);
        QApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
        return true;
    };
    return p;
}

} // namespace zel
