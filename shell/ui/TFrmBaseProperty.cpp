#include "shell/ui/TFrmBaseProperty.h"

#include "shell/Strings.h"
#include "store/KnowledgeBase.h"
#include "store/Nodes.h"

#include <QDialogButtonBox>
#include <QFormLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

namespace zel {

TFrmBaseProperty::TFrmBaseProperty(const QString& catalogueName, QWidget* parent)
    : QDialog(parent), lblType_(new QLabel(this)) {
    setObjectName(QStringLiteral("FrmBaseProperty"));
    PrepareDialog(this);
    const Catalogue& catalogue = MainData().catalogue;
    const int index = catalogue.FindCatalogueEntry(catalogueName);
    CatalogueEntry e;
    if (index >= 0) e = catalogue.entries()[index];
    // The open knowledge base is counted on the main connection; another one on a connection of its own.
    Database own;
    Database* db = nullptr;
    const QString conn = BuildConnectionString(e);
    if (index >= 0 && MainData().acGlint.isOpen() && MainData().acGlint.connectionString() == conn)
        db = &MainData().acGlint;
    else if (index >= 0 && own.open(conn))
        db = &own;
    if (db) {
        nodes_ = CountLiveNodes(*db);
        folders_ = CountLiveFolders(*db);
    }
    auto* form = new QFormLayout;
    auto value = [&](const QString& text, const char16_t* name, int ident) {
        auto* field = new QLineEdit(text, this);
        field->setObjectName(QString::fromUtf16(name));
        field->setReadOnly(true);
        auto* l = new QLabel(this);
        form->addRow(l, field);
        captions_.field(l, field, ident);
    };
    value(catalogueName, u"edtName", 40727);
    lblType_->setObjectName(QStringLiteral("lblType"));
    lblType_->setText(GetString(e.serverType == 0 ? 40554 : 40555));
    auto* typeLabel = new QLabel(this);
    form->addRow(typeLabel, lblType_);
    captions_.field(typeLabel, lblType_, 40734);
    value(e.serverNameText(), u"edtServer", e.serverType == 0 ? 40704 : 40712);
    value(e.databaseText(), u"edtDataBase", 40705);
    value(nodes_ < 0 ? QString() : QString::number(nodes_), u"edtNodeCount", 41048);
    value(folders_ < 0 ? QString() : QString::number(folders_), u"edtFolderCount", 41049);
    auto* buttons = new QDialogButtonBox(this);
    QPushButton* ok = buttons->addButton(QString(), QDialogButtonBox::AcceptRole);
    ok->setObjectName(QStringLiteral("btnOK"));
    captions_.text(ok, 43002);
    captions_.window(this, 40701);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(form);
    layout->addWidget(buttons);
    captions_.apply();
    lblType_->setAccessibleName(lblType_->text());
    setMinimumWidth(420);
    connect(ok, &QPushButton::clicked, this, &QDialog::accept);
}

QString TFrmBaseProperty::typeText() const {
    return lblType_->text();
}

} // namespace zel
