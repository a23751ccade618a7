#include "editor/ui/TFrmDocProperty.h"

#include <QCheckBox>
#include <QDialogButtonBox>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QPushButton>
#include <QVBoxLayout>

#include "editor/ui/TDocumentSettingsPanel.h"
#include "shell/Strings.h"

namespace zel {

TFrmDocProperty::TFrmDocProperty(Database* db, const DocumentSettings& current, QWidget* parent) : QDialog(parent) {
    setObjectName(QStringLiteral("FrmDocProperty"));
    setWindowTitle(QStringLiteral("Document Property"));
    setAccessibleName(windowTitle());
    auto* layout = new QVBoxLayout(this);
    chkUseBackground_ = new QCheckBox(QStringLiteral("use background "), this);
    chkUseBackground_->setObjectName(QStringLiteral("chkUseBackground"));
    chkUseBackground_->setAccessibleName(chkUseBackground_->text());
    chkUseBackground_->setChecked(!current.background.isEmpty());
    layout->addWidget(chkUseBackground_);
    auto* colours = new QGroupBox(GetString(40416), this);
    auto* margins = new QGroupBox(GetString(41326), this);
    new QVBoxLayout(colours);
    new QVBoxLayout(margins);
    layout->addWidget(colours);
    layout->addWidget(margins);
    panel_ = new TDocumentSettingsPanel(colours, margins, this);
    panel_->setDatabase(db);
    panel_->fill(current);
    panel_->setEnabled(true);
    auto* buttons =
        new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Apply | QDialogButtonBox::Cancel, this);
    const struct {
        QDialogButtonBox::StandardButton b;
        const char16_t* name;
        int ident;
    } captions[] = {{QDialogButtonBox::Ok, u"btnOK", 43002},
                    {QDialogButtonBox::Apply, u"btnApply", 0},
                    {QDialogButtonBox::Cancel, u"btnCancel", 43003}};
    for (const auto& c : captions) {
        QPushButton* b = buttons->button(c.b);
        b->setObjectName(QString::fromUtf16(c.name));
        if (c.ident) b->setText(GetString(c.ident));
        b->setAccessibleName(b->text().remove(u'&'));
    }
    layout->addWidget(buttons);
    connect(buttons->button(QDialogButtonBox::Apply), &QPushButton::clicked, this,
            [this] { emit applied(settings()); });
    connect(buttons, &QDialogButtonBox::accepted, this, [this] {
        emit applied(settings());
        accept();
    });
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
}

DocumentSettings TFrmDocProperty::settings() const {
    DocumentSettings s = panel_->settings();
    if (!chkUseBackground_->isChecked()) s.background.clear();
    return s;
}

} // namespace zel
