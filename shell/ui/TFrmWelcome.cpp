#include "shell/ui/TFrmWelcome.h"

#include "shell/Resources.h"
#include "shell/Strings.h"
#include "shell/TcnResourceManager.h"
#include "store/KnowledgeBase.h"
#include "store/Users.h"

#include <QCheckBox>
#include <QEvent>
#include <QHBoxLayout>
#include <QLabel>
#include <QRandomGenerator>
#include <QTextBrowser>
#include <QUrl>
#include <QVBoxLayout>

namespace zel {

namespace {
const int kTags[3] = {0, 2, 3};
const int kIdents[3] = {41097, 41099, 41100};
const char* kNormal = "color: rgb(0,0,160); text-decoration: underline;";
const char* kHover = "color: red; text-decoration: underline;";
} // namespace

TFrmWelcome::TFrmWelcome(QWidget* parent)
    : QDialog(parent), tip_(new QTextBrowser(this)), chkShow_(new QCheckBox(this)) {
    setObjectName(QStringLiteral("FrmWelcome"));
    PrepareDialog(this);
    tip_->setObjectName(QStringLiteral("wbTip"));
    tip_->setSearchPaths({programDirectory()});
    tip_->viewport()->installEventFilter(this);
    chkShow_->setObjectName(QStringLiteral("chkShowWelcome"));
    captions_.text(chkShow_, 41096);
    captions_.window(this, 41095);
    auto* links = new QVBoxLayout;
    for (int i = 0; i < 3; ++i) {
        labels_[i] = new QLabel(this);
        labels_[i]->setObjectName(QStringLiteral("lblLink%1").arg(kTags[i]));
        labels_[i]->setStyleSheet(QString::fromLatin1(kNormal));
        labels_[i]->setCursor(Qt::PointingHandCursor);
        labels_[i]->setFocusPolicy(Qt::StrongFocus);
        labels_[i]->installEventFilter(this);
        captions_.text(labels_[i], kIdents[i]);
        links->addWidget(labels_[i]);
    }
    links->addStretch();
    links->addWidget(chkShow_);
    auto* layout = new QHBoxLayout(this);
    layout->addWidget(tip_, 1);
    layout->addLayout(links);
    captions_.apply();
    tip_->setAccessibleName(PlainCaption(GetString(41095)));
    resize(620, 340);
    chkShow_->setChecked(CurrentUser().showWelcome);
    connect(chkShow_, &QCheckBox::clicked, this,
            [](bool on) { SetShowWelcome(MainData().acGlint, CurrentUser().code, on); });
    showTopic(5);
}

void TFrmWelcome::showTopic(int ident) {
    const Topic t = ResourceManager().GetTopic(ident);
    html_ = QStringLiteral("<!DOCTYPE HTML PUBLIC \"-//W3C//DTD HTML 4.0 Transitional//EN\">\n<HTML><HEAD></HEAD>"
                           "<BODY background=\"back.jpg\"><P><IMG src=\"tip.bmp\"> <FONT color=#0000ff><STRONG>") +
            t.caption.toHtmlEscaped() +
            QStringLiteral("</STRONG></FONT></P><BLOCKQUOTE style=\"MARGIN-RIGHT: 0px\"><P>") + t.text.toHtmlEscaped() +
            QStringLiteral("</P></BLOCKQUOTE></BODY></HTML>");
    tip_->setHtml(html_);
}

QString TFrmWelcome::tipHtml() const {
    return html_;
}

bool TFrmWelcome::eventFilter(QObject* watched, QEvent* event) {
    if (watched == tip_->viewport() && event->type() == QEvent::MouseButtonRelease) {
        const int count = ResourceManager().TopicCount();
        if (count > 1) showTopic(1 + int(QRandomGenerator::global()->bounded(count - 1)));
        return false;
    }
    for (int i = 0; i < 3; ++i) {
        if (watched != labels_[i]) continue;
        switch (event->type()) {
        case QEvent::Enter:
            labels_[i]->setStyleSheet(QString::fromLatin1(kHover));
            showTopic(kTags[i] + 1);
            break;
        case QEvent::Leave:
            labels_[i]->setStyleSheet(QString::fromLatin1(kNormal));
            break;
        case QEvent::MouseButtonRelease:
            emit linkActivated(kTags[i]);
            break;
        default:
            break;
        }
    }
    return QDialog::eventFilter(watched, event);
}

} // namespace zel
