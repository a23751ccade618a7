#include "tree/ui/TFrmFolder.h"

#include <QCheckBox>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QLocale>
#include <QPushButton>
#include <QVBoxLayout>

#include "platform/Database.h"
#include "shell/RuntimeSettings.h"
#include "shell/Strings.h"
#include "store/Nodes.h"
#include "store/Users.h"
#include "tree/TreeRules.h"
#include "tree/ui/TreeAsk.h"

namespace zel {

namespace {

QLineEdit* lineEdit(const char* name, const QString& accessible, bool readOnly = false) {
    auto* e = new QLineEdit;
    e->setObjectName(QString::fromLatin1(name));
    e->setAccessibleName(accessible);
    e->setReadOnly(readOnly);
    return e;
}

QCheckBox* checkBox(const char* name, const QString& caption) {
    auto* c = new QCheckBox(caption);
    c->setObjectName(QString::fromLatin1(name));
    c->setAccessibleName(caption);
    return c;
}

} // namespace

QString TFrmFolder::timeText(const QDateTime& dt) {
    if (!dt.isValid()) return {};
    return QLocale().toString(dt.date(), QLocale::LongFormat) + u',' + dt.toString(QStringLiteral("hh:mm:ss"));
}

TFrmFolder::TFrmFolder(Database& db, Mode mode, QWidget* parent) : QDialog(parent), db_(db), mode_(mode) {
    setObjectName(QStringLiteral("FrmFolder"));
    edtName = lineEdit("edtName", QStringLiteral("Name"));
    edtKeyword = lineEdit("edtKeyword", GetString(40436));
    edtOwner = lineEdit("edtOwner", QStringLiteral("Owner"));
    edtCreated = lineEdit("edtCreated", GetString(40213), true);
    edtModified = lineEdit("edtModified", GetString(40214), true);
    edtFullPath = lineEdit("edtFullPath", QStringLiteral("Full path"), true);
    chkHide = checkBox("chkHIde", QStringLiteral("Hide"));
    chkPassword = checkBox("chkPassword", QStringLiteral("Password Protect"));
    chkNewDocMessage = checkBox("chkNewDocMessage", QStringLiteral("New Document Message"));
    lblInclude = new QLabel;
    lblInclude->setObjectName(QStringLiteral("lblInclude"));
    btnOK = new QPushButton(GetString(43002).remove(u'&'));
    btnOK->setObjectName(QStringLiteral("btnOK"));
    btnOK->setAccessibleName(btnOK->text());
    btnOK->setDefault(true);
    btnCancel = new QPushButton(GetString(43003).remove(u'&'));
    btnCancel->setObjectName(QStringLiteral("btnCancel"));
    btnCancel->setAccessibleName(btnCancel->text());

    auto* form = new QFormLayout;
    form->addRow(QStringLiteral("Name"), edtName);
    form->addRow(GetString(40436), edtKeyword);
    form->addRow(QStringLiteral("Owner"), edtOwner);
    form->addRow(GetString(40213), edtCreated);
    form->addRow(GetString(40214), edtModified);
    form->addRow(QStringLiteral("Full path"), edtFullPath);
    auto* flags = new QHBoxLayout;
    flags->addWidget(chkHide);
    flags->addWidget(chkPassword);
    flags->addWidget(chkNewDocMessage);
    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(btnOK);
    buttons->addWidget(btnCancel);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(form);
    layout->addLayout(flags);
    layout->addWidget(lblInclude);
    layout->addLayout(buttons);
    lblInclude->hide();
    chkNewDocMessage->setVisible(mode == Mode::Create);
    resize(420, 270);

    connect(btnOK, &QPushButton::clicked, this, &TFrmFolder::btnOKClick);
    connect(btnCancel, &QPushButton::clicked, this, &QDialog::reject);
}

void TFrmFolder::fillForCreate(const QString& parentId) {
    setWindowTitle(GetString(40310));
    nodeId_ = QStringLiteral("0");
    parentId_ = parentId.trimmed().isEmpty() ? QStringLiteral("0") : parentId.trimmed();
    edtName->clear();
    edtKeyword->setText(QStringLiteral(" "));
    edtOwner->setText(CurrentUser().name);
    edtCreated->setText(timeText(QDateTime::currentDateTime()));
    edtModified->clear();
    edtFullPath->setText(GetChildName(db_, parentId_));
    chkHide->setChecked(false);
    chkPassword->setChecked(false);
    // The box keeps its last setting for as long as the program runs.
    chkNewDocMessage->setChecked(RuntimeSettings().newDocumentMessage);
    edtName->setFocus();
}

bool TFrmFolder::fillForEdit(const QString& nodeId) {
    const std::optional<Tinfoproperty> p = ReadNodeProperties(db_, nodeId);
    if (!p) return false;
    nodeId_ = nodeId.trimmed();
    // The parent is the last step of the node's id path before the node itself.
    const QStringList chain = GetChildPath(db_, nodeId_).split(u'/', Qt::SkipEmptyParts);
    parentId_ = chain.size() >= 2 ? chain[chain.size() - 2] : QStringLiteral("0");
    oldCaption_ = p->caption;
    memo_ = p->memo;
    edtName->setText(p->caption);
    edtKeyword->setText(p->keywords);
    edtOwner->setText(p->actor);
    edtCreated->setText(timeText(p->created));
    edtModified->setText(timeText(p->modified));
    edtFullPath->setText(p->fullName);
    chkHide->setChecked(p->hidden);
    chkPassword->setChecked(p->isProtected);
    const int below = CountSubtree(db_, nodeId_);
    const std::optional<NodeItem> item = ReadNodeItem(db_, nodeId_);
    const bool folder = item && item->hasChild == QStringLiteral("Y");
    setWindowTitle(GetString(folder ? 40316 : 40317));
    if (folder) {
        lblInclude->setText(GetString(40318) + QStringLiteral("  ") + QString::number(below) + GetString(40319) +
                            QStringLiteral(" , ") + QString::number(CountSubfolders(db_, nodeId_)) + GetString(40320));
        lblInclude->show();
        resize(width(), 300);
    }
    edtName->setFocus();
    return true;
}

QString TFrmFolder::name() const {
    return edtName->text().trimmed();
}
QString TFrmFolder::keyword() const {
    return edtKeyword->text();
}
bool TFrmFolder::hide() const {
    return chkHide->isChecked();
}
bool TFrmFolder::passwordProtect() const {
    return chkPassword->isChecked();
}
bool TFrmFolder::newDocumentMessage() const {
    return chkNewDocMessage->isChecked();
}

bool TFrmFolder::validate() {
    const int problem = CheckNodeName(db_, name(), parentId_, nodeId_);
    if (problem == 0) return true;
    QString text = GetString(problem);
    if (problem == 41018) text.replace(QStringLiteral("%s"), QStringLiteral("/ \\ #"));
    Ask().inform(this, text);
    edtName->setFocus();
    return false;
}

void TFrmFolder::btnOKClick() {
    if (!validate()) return;
    if (mode_ == Mode::Create) RuntimeSettings().newDocumentMessage = chkNewDocMessage->isChecked();
    accept();
}

QString TFrmFolder::applyEdit() {
    QString caption = oldCaption_;
    const QString wanted = name();
    if (wanted != oldCaption_) {
        if (IsSiblingCaptionTaken(db_, parentId_, nodeId_, wanted))
            Ask().inform(this, GetString(40315));
        else if (RenameNode(db_, wanted, nodeId_))
            caption = wanted;
    }
    Tinfoproperty rec;
    rec.keywords = keyword();
    rec.hidden = hide();
    rec.isProtected = passwordProtect();
    rec.memo = memo_;
    UpdateNodeProperties(db_, rec, nodeId_);
    return caption;
}

} // namespace zel
