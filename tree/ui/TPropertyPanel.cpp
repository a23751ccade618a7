#include "tree/ui/TPropertyPanel.h"

#include <QCheckBox>
#include <QFormLayout>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QVBoxLayout>

#include "platform/Database.h"
#include "shell/Strings.h"
#include "store/Nodes.h"
#include "tree/ui/TFrmFolder.h"

namespace zel {

namespace {

QLineEdit* field(QFormLayout* form, const char* name, const QString& caption, bool readOnly) {
    auto* e = new QLineEdit;
    e->setObjectName(QString::fromLatin1(name));
    e->setAccessibleName(caption);
    e->setReadOnly(readOnly);
    form->addRow(caption, e);
    return e;
}

} // namespace

TPropertyPanel::TPropertyPanel(QWidget* parent) : QTabWidget(parent) {
    setObjectName(QStringLiteral("PropertyPanel"));
    setAccessibleName(QStringLiteral("Property"));
    auto* property = new QWidget;
    auto* pf = new QFormLayout(property);
    edtKeyword = field(pf, "edtKeyword", GetString(40436), false);
    edtOwner = field(pf, "edtOwner", QStringLiteral("Owner"), false);
    edtCreated = field(pf, "edtCreated", GetString(40213), true);
    edtModified = field(pf, "edtModified", GetString(40214), true);
    edtFullPath = field(pf, "edtFullPath", QStringLiteral("Full path"), true);
    addTab(property, QStringLiteral("Property"));

    auto* security = new QWidget;
    auto* sl = new QVBoxLayout(security);
    chkPassword = new QCheckBox(QStringLiteral("Password Protect"));
    chkPassword->setObjectName(QStringLiteral("chkPassword"));
    chkPassword->setAccessibleName(chkPassword->text());
    chkHide = new QCheckBox(QStringLiteral("Hide"));
    chkHide->setObjectName(QStringLiteral("chkHIde"));
    chkHide->setAccessibleName(chkHide->text());
    sl->addWidget(chkPassword);
    sl->addWidget(chkHide);
    sl->addStretch();
    addTab(security, QStringLiteral("Security"));

    memMemo = new QPlainTextEdit;
    memMemo->setObjectName(QStringLiteral("memMemo"));
    memMemo->setAccessibleName(QStringLiteral("Memo"));
    addTab(memMemo, QStringLiteral("Memo"));

    auto* mail = new QWidget;
    auto* mf = new QFormLayout(mail);
    edtMailFrom = field(mf, "edtMailFrom", GetString(41133), true);
    edtMailTo = field(mf, "edtMailTo", GetString(41134), true);
    edtReceived = field(mf, "edtReceived", GetString(41154), true);
    edtSent = field(mf, "edtSent", GetString(41155), true);
    addTab(mail, QStringLiteral("Mail"));

    connect(edtKeyword, &QLineEdit::textChanged, this, &TPropertyPanel::changed);
    connect(chkPassword, &QCheckBox::toggled, this, &TPropertyPanel::changed);
    connect(chkHide, &QCheckBox::toggled, this, &TPropertyPanel::changed);
    connect(memMemo, &QPlainTextEdit::textChanged, this, &TPropertyPanel::changed);
}

void TPropertyPanel::changed() {
    if (filling_ || nodeId_.isEmpty()) return;
    if (!modified_) {
        modified_ = true;
        emit modifiedChanged(true);
    }
}

void TPropertyPanel::clear() {
    filling_ = true;
    nodeId_.clear();
    for (QLineEdit* e :
         {edtKeyword, edtCreated, edtModified, edtOwner, edtFullPath, edtMailFrom, edtMailTo, edtReceived, edtSent})
        e->clear();
    chkPassword->setChecked(false);
    chkHide->setChecked(false);
    memMemo->clear();
    filling_ = false;
    if (modified_) {
        modified_ = false;
        emit modifiedChanged(false);
    }
}

void TPropertyPanel::fill(const QString& nodeId) {
    clear();
    if (!db_ || nodeId.trimmed().toLongLong() <= 0) return;
    const std::optional<Tinfoproperty> p = ReadNodeProperties(*db_, nodeId);
    if (!p) return;
    filling_ = true;
    nodeId_ = nodeId.trimmed();
    edtKeyword->setText(p->keywords);
    edtCreated->setText(TFrmFolder::timeText(p->created));
    edtModified->setText(TFrmFolder::timeText(p->modified));
    chkPassword->setChecked(p->isProtected);
    chkHide->setChecked(p->hidden);
    edtOwner->setText(p->actor);
    edtFullPath->setText(p->fullName);
    memMemo->setPlainText(p->memo);
    if (p->mailId > 0) {
        // The mail header fields come with the node's file-list row.
        if (const std::optional<FileListRow> row = ReadFileRow(*db_, nodeId_)) {
            edtMailFrom->setText(row->account);
            edtMailTo->setText(row->mailAddress);
            edtReceived->setText(TFrmFolder::timeText(row->received));
            edtSent->setText(TFrmFolder::timeText(row->sent));
        }
    }
    filling_ = false;
}

bool TPropertyPanel::store() {
    if (!db_ || nodeId_.isEmpty()) return false;
    Tinfoproperty rec;
    rec.keywords = edtKeyword->text();
    rec.isProtected = chkPassword->isChecked();
    rec.hidden = chkHide->isChecked();
    rec.memo = memMemo->toPlainText();
    const bool ok = UpdateNodeProperties(*db_, rec, nodeId_);
    if (ok && modified_) {
        modified_ = false;
        emit modifiedChanged(false);
    }
    return ok;
}

} // namespace zel
