#include "editor/ui/TFrmImageProperty.h"

#include <QComboBox>
#include <QFileDialog>
#include <QFormLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLineEdit>
#include <QPushButton>
#include <QSpinBox>
#include <QVBoxLayout>

#include "shell/Strings.h"

namespace zel {

namespace {
QSpinBox* spin(QWidget* parent, int ident) {
    auto* s = new QSpinBox(parent);
    s->setRange(0, 100);
    s->setAccessibleName(GetString(ident));
    return s;
}
} // namespace

TFrmImageProperty::TFrmImageProperty(QWidget* parent) : QDialog(parent) {
    setObjectName(QStringLiteral("TFrmImageProperty"));
    setWindowTitle(GetString(40440));
    setAccessibleName(windowTitle());
    auto* top = new QVBoxLayout(this);
    auto* form = new QFormLayout;
    auto* srcRow = new QHBoxLayout;
    edtSrc_ = new QLineEdit(this);
    edtSrc_->setAccessibleName(GetString(40441));
    auto* choose = new QPushButton(QStringLiteral("..."), this);
    choose->setAccessibleName(QStringLiteral("..."));
    srcRow->addWidget(edtSrc_);
    srcRow->addWidget(choose);
    form->addRow(GetString(40441), srcRow);
    edtAlt_ = new QLineEdit(this);
    edtAlt_->setAccessibleName(GetString(40442));
    form->addRow(GetString(40442), edtAlt_);
    top->addLayout(form);

    auto* layout = new QGroupBox(GetString(40443), this);
    auto* layoutForm = new QFormLayout(layout);
    cbAlign_ = new QComboBox(layout);
    cbAlign_->setAccessibleName(GetString(40444));
    for (int i = 0; i < 11; ++i)
        cbAlign_->addItem(GetString(40451 + i), ImageAlignValues().at(i));
    spBorder_ = spin(layout, 40445);
    layoutForm->addRow(GetString(40444), cbAlign_);
    layoutForm->addRow(GetString(40445), spBorder_);
    top->addWidget(layout);

    auto* spacing = new QGroupBox(GetString(40446), this);
    auto* spacingForm = new QFormLayout(spacing);
    spH_ = spin(spacing, 40447);
    spV_ = spin(spacing, 40448);
    spacingForm->addRow(GetString(40447), spH_);
    spacingForm->addRow(GetString(40448), spV_);
    top->addWidget(spacing);

    auto* buttons = new QHBoxLayout;
    auto* ok = new QPushButton(GetString(43002), this);
    ok->setAccessibleName(GetString(43002));
    ok->setDefault(true);
    auto* cancel = new QPushButton(GetString(43003), this);
    cancel->setAccessibleName(GetString(43003));
    buttons->addStretch();
    buttons->addWidget(ok);
    buttons->addWidget(cancel);
    top->addLayout(buttons);
    connect(ok, &QPushButton::clicked, this, &QDialog::accept);
    connect(cancel, &QPushButton::clicked, this, &QDialog::reject);
    connect(choose, &QPushButton::clicked, this, [this] {
        const QString file = QFileDialog::getOpenFileName(
            this, GetString(40441), edtSrc_->text(), QStringLiteral("*.png *.jpg *.jpeg *.gif *.bmp *.svg *.webp"));
        if (!file.isEmpty()) edtSrc_->setText(file);
    });
    setFields({});
}

void TFrmImageProperty::setFields(const ImageFields& f) {
    edtSrc_->setText(f.src);
    edtAlt_->setText(f.alt);
    const int at = ImageAlignValues().indexOf(f.align.toLower());
    cbAlign_->setCurrentIndex(at < 0 ? 0 : at);
    spBorder_->setValue(f.border);
    spH_->setValue(f.hspace);
    spV_->setValue(f.vspace);
    edtSrc_->setFocus();
}

ImageFields TFrmImageProperty::fields() const {
    ImageFields f;
    f.src = edtSrc_->text().trimmed();
    f.alt = edtAlt_->text().trimmed();
    f.align = cbAlign_->currentIndex() <= 0 ? QString() : cbAlign_->currentData().toString();
    f.border = spBorder_->value();
    f.hspace = spH_->value();
    f.vspace = spV_->value();
    return f;
}

} // namespace zel
