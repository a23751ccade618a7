#include "editor/ui/TFrmBookmark.h"

#include <QComboBox>
#include <QFileDialog>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QTabWidget>
#include <QVBoxLayout>

#include "editor/ui/TDocumentPane.h"
#include "shell/Strings.h"

namespace zel {

namespace {
const char16_t* const kPrefixes[] = {u"link://document/", u"File://", u"Http://"};
}

TFrmBookmark::TFrmBookmark(const AnchorStart& start, bool link, QWidget* parent) : QDialog(parent) {
    setObjectName(QStringLiteral("TFrmBookmark"));
    setWindowTitle(GetString(40466));
    setAccessibleName(windowTitle());
    auto* top = new QVBoxLayout(this);
    pages_ = new QTabWidget(this);
    top->addWidget(pages_);

    auto* mark = new QWidget(pages_);
    auto* markLayout = new QVBoxLayout(mark);
    auto* nameRow = new QFormLayout;
    edtName_ = new QLineEdit(mark);
    edtName_->setObjectName(QStringLiteral("edtName"));
    edtName_->setAccessibleName(GetString(40467));
    nameRow->addRow(GetString(40467), edtName_);
    markLayout->addLayout(nameRow);
    lstAnchors_ = new QListWidget(mark);
    lstAnchors_->setObjectName(QStringLiteral("lstAnchors"));
    lstAnchors_->setAccessibleName(GetString(40472));
    markLayout->addWidget(new QLabel(GetString(40472), mark));
    markLayout->addWidget(lstAnchors_);
    pages_->addTab(mark, GetString(46104));

    auto* linkPage = new QWidget(pages_);
    auto* linkLayout = new QFormLayout(linkPage);
    cbTarget_ = new QComboBox(linkPage);
    cbTarget_->setObjectName(QStringLiteral("cbTarget"));
    cbTarget_->setAccessibleName(GetString(40471));
    linkLayout->addRow(GetString(40471), cbTarget_);
    auto* addressRow = new QHBoxLayout;
    edtAddress_ = new QLineEdit(linkPage);
    edtAddress_->setObjectName(QStringLiteral("edtAddress"));
    edtAddress_->setAccessibleName(GetString(40465));
    btnChoose_ = new QPushButton(QStringLiteral("..."), linkPage);
    btnChoose_->setAccessibleName(QStringLiteral("..."));
    addressRow->addWidget(edtAddress_);
    addressRow->addWidget(btnChoose_);
    linkLayout->addRow(GetString(40465), addressRow);
    pages_->addTab(linkPage, GetString(40469));

    auto* buttons = new QHBoxLayout;
    btnDelete_ = new QPushButton(GetString(40470), this);
    btnDelete_->setAccessibleName(GetString(40470));
    btnOk_ = new QPushButton(GetString(43002), this);
    btnOk_->setAccessibleName(GetString(43002));
    btnOk_->setDefault(true);
    auto* cancel = new QPushButton(GetString(43003), this);
    cancel->setAccessibleName(GetString(43003));
    buttons->addWidget(btnDelete_);
    buttons->addStretch();
    buttons->addWidget(btnOk_);
    buttons->addWidget(cancel);
    top->addLayout(buttons);

    connect(btnOk_, &QPushButton::clicked, this, &TFrmBookmark::tryAccept);
    connect(cancel, &QPushButton::clicked, this, &QDialog::reject);
    connect(btnDelete_, &QPushButton::clicked, this, [this] {
        delete_ = true;
        accept();
    });
    connect(cbTarget_, &QComboBox::activated, this, &TFrmBookmark::chooseTarget);
    connect(lstAnchors_, &QListWidget::itemDoubleClicked, this,
            [this](QListWidgetItem* item) { emit anchorWanted(item->text()); });
    connect(btnChoose_, &QPushButton::clicked, this, [this] {
        // Files only: stored attachments and documents are linked by their link addresses typed in.
        QString start = edtAddress_->text();
        if (start.startsWith(QLatin1String("file://"), Qt::CaseInsensitive)) start = start.mid(7);
        const QString file =
            QFileDialog::getOpenFileName(this, GetString(40463), start, GetString(40329) + QStringLiteral(" (*)"));
        if (!file.isEmpty()) edtAddress_->setText(QStringLiteral("File://") + file);
    });
    restart(start);
    pages_->setCurrentIndex(link ? 1 : 0);
    edtAddress_->setFocus();
}

void TFrmBookmark::restart(const AnchorStart& start) {
    start_ = start;
    edtName_->setText(start.name);
    edtName_->setEnabled(start.nameEnabled);
    btnDelete_->setEnabled(start.editing && start.nameEnabled);
    edtAddress_->setText(start.href.isEmpty() ? QString::fromUtf16(kPrefixes[0]) : start.href);
    lstAnchors_->clear();
    lstAnchors_->addItems(start.names);
    cbTarget_->clear();
    cbTarget_->addItems({GetString(40462), GetString(40463), GetString(40464)});
    for (const QString& n : start.names)
        cbTarget_->addItem(u'#' + n);
    cbTarget_->setCurrentIndex(start.href.startsWith(u'#') ? cbTarget_->findText(start.href) : 0);
    chooseTarget(cbTarget_->currentIndex() < 0 ? 0 : cbTarget_->currentIndex());
    if (!start.href.isEmpty()) edtAddress_->setText(start.href);
}

void TFrmBookmark::chooseTarget(int index) {
    if (index < 0) return;
    if (index < 3) {
        edtAddress_->setText(QString::fromUtf16(kPrefixes[index]));
        btnChoose_->setEnabled(index == 1);
    } else {
        edtAddress_->setText(cbTarget_->itemText(index));
        btnChoose_->setEnabled(false);
    }
}

bool TFrmBookmark::linkMode() const {
    return pages_->currentIndex() == 1;
}

QString TFrmBookmark::name() const {
    return edtName_->text().trimmed();
}

QString TFrmBookmark::address() const {
    return edtAddress_->text().trimmed();
}

void TFrmBookmark::tryAccept() {
    if (!linkMode() && !name().isEmpty() && name() != start_.name) {
        for (const QString& n : start_.names) {
            if (n == name()) {
                DocAsk().inform(this, GetString(40412));
                edtName_->setFocus();
                return;
            }
        }
    }
    accept();
}

} // namespace zel
