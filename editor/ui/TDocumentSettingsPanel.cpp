#include "editor/ui/TDocumentSettingsPanel.h"

#include <QCheckBox>
#include <QColor>
#include <QComboBox>
#include <QFileDialog>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QSpinBox>
#include <QToolButton>
#include <QUrl>

#include "shell/Strings.h"
#include "store/Content.h"
#include "tree/ui/TreeAsk.h"

namespace zel {

namespace {

const char16_t* const kColourNames[5] = {u"cbBackColor", u"cbTextColor", u"cbLinkColor", u"cbALinkColor",
                                         u"cbVLinkColor"};
const char16_t* const kColourCaptions[5] = {u"Background colour", u"Text colour", u"Link colour", u"Active link colour",
                                            u"Visited link colour"};

QLayout* layoutOf(QWidget* page) {
    if (!page->layout()) new QVBoxLayout(page);
    return page->layout();
}

} // namespace

TDocumentSettingsPanel::TDocumentSettingsPanel(QWidget* backgroundPage, QWidget* marginPage, QObject* parent)
    : QObject(parent), pages_{backgroundPage, marginPage} {
    auto* bg = new QWidget(backgroundPage);
    auto* form = new QFormLayout(bg);
    auto* pictureRow = new QHBoxLayout;
    edtBackground_ = new QLineEdit(bg);
    edtBackground_->setObjectName(QStringLiteral("edtBackground"));
    edtBackground_->setAccessibleName(GetString(40416));
    btnBackground_ = new QToolButton(bg);
    btnBackground_->setObjectName(QStringLiteral("btnBackground"));
    btnBackground_->setText(QStringLiteral("..."));
    btnBackground_->setAccessibleName(GetString(40416));
    pictureRow->addWidget(edtBackground_, 1);
    pictureRow->addWidget(btnBackground_);
    form->addRow(GetString(40416), pictureRow);
    for (int i = 0; i < 5; ++i) {
        colours_[i] = new QComboBox(bg);
        colours_[i]->setObjectName(QString::fromUtf16(kColourNames[i]));
        colours_[i]->setAccessibleName(QString::fromUtf16(kColourCaptions[i]));
        for (int c = 0; c < ColourCount(); ++c) {
            const QColor named(NamedColour(c));
            QPixmap swatch(12, 12);
            swatch.fill(named.isValid() ? named : QColor(Qt::transparent));
            colours_[i]->addItem(QIcon(swatch), ColourName(c));
        }
        form->addRow(QString::fromUtf16(kColourCaptions[i]), colours_[i]);
        connect(colours_[i], &QComboBox::activated, this, [this, i](int index) { colourChosen(i, index); });
    }
    cbCharset_ = new QComboBox(bg);
    cbCharset_->setObjectName(QStringLiteral("cbCharset"));
    cbCharset_->setAccessibleName(QStringLiteral("Character set"));
    cbCharset_->addItems(CharsetNames());
    form->addRow(QStringLiteral("Character set"), cbCharset_);
    layoutOf(backgroundPage)->addWidget(bg);

    auto* mg = new QWidget(marginPage);
    auto* mform = new QFormLayout(mg);
    chkTop_ = new QCheckBox(QStringLiteral("Specify top Margin"), mg);
    chkTop_->setObjectName(QStringLiteral("chkTopMargin"));
    chkTop_->setAccessibleName(chkTop_->text());
    spTop_ = new QSpinBox(mg);
    spTop_->setObjectName(QStringLiteral("seTopMargin"));
    spTop_->setAccessibleName(chkTop_->text());
    spTop_->setRange(0, 1000);
    spTop_->setValue(kDefaultTopMargin);
    chkLeft_ = new QCheckBox(QStringLiteral("Specify left Margin"), mg);
    chkLeft_->setObjectName(QStringLiteral("chkLeftMargin"));
    chkLeft_->setAccessibleName(chkLeft_->text());
    spLeft_ = new QSpinBox(mg);
    spLeft_->setObjectName(QStringLiteral("seLeftMargin"));
    spLeft_->setAccessibleName(chkLeft_->text());
    spLeft_->setRange(0, 1000);
    spLeft_->setValue(kDefaultLeftMargin);
    mform->addRow(chkTop_, spTop_);
    mform->addRow(chkLeft_, spLeft_);
    layoutOf(marginPage)->addWidget(mg);

    connect(edtBackground_, &QLineEdit::editingFinished, this, [this] {
        if (edtBackground_->text() != shownBackground_) emitChanged();
    });
    connect(btnBackground_, &QToolButton::clicked, this, [this] {
        const QString file = QFileDialog::getOpenFileName(pages_[0], GetString(40416), QString(),
                                                          QStringLiteral("Pictures (*.png *.jpg *.jpeg *.gif *.bmp)"));
        if (file.isEmpty()) return;
        edtBackground_->setText(QUrl::fromLocalFile(file).toString());
        emitChanged();
    });
    connect(cbCharset_, &QComboBox::activated, this, [this](int) { emitChanged(); });
    for (QCheckBox* c : {chkTop_, chkLeft_})
        connect(c, &QCheckBox::toggled, this, [this] { emitChanged(); });
    for (QSpinBox* s : {spTop_, spLeft_})
        connect(s, &QSpinBox::valueChanged, this, [this] { emitChanged(); });
    setEnabled(false);
}

void TDocumentSettingsPanel::setEnabled(bool on) {
    for (QWidget* p : pages_)
        for (QWidget* w : p->findChildren<QWidget*>(Qt::FindDirectChildrenOnly))
            w->setEnabled(on);
}

void TDocumentSettingsPanel::colourChosen(int which, int index) {
    if (filling_) return;
    if (index == kColourCustom) {
        const std::optional<QColor> c = Ask().colour ? Ask().colour(pages_[0], QColor(custom_[which])) : std::nullopt;
        if (!c || !c->isValid()) return;
        custom_[which] = ColourValue(c->red(), c->green(), c->blue());
    }
    emitChanged();
}

void TDocumentSettingsPanel::fill(const DocumentSettings& s) {
    filling_ = true;
    const QSignalBlocker b0(edtBackground_), b1(cbCharset_), b2(chkTop_), b3(chkLeft_), b4(spTop_), b5(spLeft_);
    shownBackground_ = db_ ? CidUrlToPathUrl(*db_, s.background) : s.background;
    if (s.background.isEmpty()) shownBackground_.clear();
    edtBackground_->setText(shownBackground_);
    const QString values[5] = {s.bgColor, s.text, s.link, s.alink, s.vlink};
    for (int i = 0; i < 5; ++i) {
        const QSignalBlocker b(colours_[i]);
        const int index = ColourIndexOf(values[i]);
        custom_[i] = index == kColourCustom ? values[i] : QString();
        colours_[i]->setCurrentIndex(index);
    }
    const int cs = CharsetIndex(s.charset);
    filledCharset_ = cs >= 0 ? CharsetNames().at(cs) : QString();
    cbCharset_->setCurrentIndex(cs);
    // A document already in UTF-8 keeps it.
    cbCharset_->setEnabled(cs != CharsetIndex(QStringLiteral("utf-8")));
    chkTop_->setChecked(MarginSpecified(s.topMargin, kDefaultTopMargin));
    spTop_->setValue(chkTop_->isChecked() ? s.topMargin.toInt() : kDefaultTopMargin);
    chkLeft_->setChecked(MarginSpecified(s.leftMargin, kDefaultLeftMargin));
    spLeft_->setValue(chkLeft_->isChecked() ? s.leftMargin.toInt() : kDefaultLeftMargin);
    filling_ = false;
}

DocumentSettings TDocumentSettingsPanel::settings() const {
    DocumentSettings s;
    const QString bg = edtBackground_->text().trimmed();
    s.background = (db_ && !bg.isEmpty()) ? PathUrlToCidUrl(*db_, bg) : bg;
    QString* values[5] = {&s.bgColor, &s.text, &s.link, &s.alink, &s.vlink};
    for (int i = 0; i < 5; ++i) {
        const int index = colours_[i]->currentIndex();
        *values[i] = index == kColourCustom ? custom_[i] : NamedColour(index);
    }
    // Only a changed character set is written.
    if (cbCharset_->currentIndex() >= 0 && cbCharset_->currentText() != filledCharset_)
        s.charset = cbCharset_->currentText();
    s.topMargin = chkTop_->isChecked() ? QString::number(spTop_->value()) : QString();
    s.leftMargin = chkLeft_->isChecked() ? QString::number(spLeft_->value()) : QString();
    return s;
}

void TDocumentSettingsPanel::emitChanged() {
    if (filling_) return;
    shownBackground_ = edtBackground_->text();
    emit changed(settings());
}

} // namespace zel
