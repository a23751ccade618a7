#include "tree/ui/TreeBinding.h"

#include <QAction>
#include <QApplication>
#include <QEvent>
#include <QLabel>
#include <QLayout>
#include <QLineEdit>
#include <QMenu>
#include <QStyle>
#include <QTabWidget>
#include <QWebEngineUrlScheme>
#include <QWebEngineView>

#include "platform/Database.h"
#include "shell/Strings.h"
#include "shell/ui/TFrmMain.h"
#include "store/Content.h"
#include "store/Nodes.h"
#include "store/Users.h"
#include "tree/ui/TFileList.h"
#include "tree/ui/TPropertyPanel.h"
#include "tree/ui/TTreePanel.h"
#include "tree/ui/TfrmSelectNode.h"
#include "tree/ui/TvMain.h"

namespace zel {

namespace {

constexpr int kNormalTab = 0;
constexpr int kFileListTab = 3;

struct Binding {
    TreeCommand command;
    const char16_t* name;
};
constexpr Binding kBindings[] = {
    {TreeCommand::NewDocument, u"btnNextItem"},
    {TreeCommand::NewSubDocument, u"btnChild"},
    {TreeCommand::Rename, u"btnReNameIndex"},
    {TreeCommand::Delete, u"btnDeleteIndex"},
    {TreeCommand::MoveTo, u"btnMoveTo"},
    {TreeCommand::MoveUp, u"btnMoveUp"},
    {TreeCommand::MoveDown, u"btnMoveDown"},
    {TreeCommand::DefaultDocument, u"btnDefaultDocument"},
    {TreeCommand::Property, u"btnFolderProperty"},
    {TreeCommand::MarkRead, u"btnRead"},
    {TreeCommand::MarkUnread, u"btnNoRead"},
    {TreeCommand::ColourSign, u"btnColorsign"},
    {TreeCommand::Restore, u"btnRestoreFile"},
    {TreeCommand::EmptyBin, u"btnEmptyRecycleBin"},
    {TreeCommand::Back, u"btnBack"},
    {TreeCommand::Forward, u"btnNext"},
    {TreeCommand::DefaultPage, u"btnIndex"},
    {TreeCommand::Open, u"btnOpenAddFile"},
    {TreeCommand::SetDocumentPassword, u"btnSetDocumentPassword"},
};

struct SortBinding {
    int number;
    const char16_t* name;
};
constexpr SortBinding kSortBindings[] = {
    {0, u"btnCaptionAscend"},      {1, u"btnCaptionDescend"},   {16, u"btnCreateDateAscend"},
    {17, u"btnCreateDateDescend"}, {4, u"btnModifyDateAscend"}, {5, u"btnModifyDateDescend"},
    {6, u"btnCustomAscend"},       {7, u"btnCustomDescend"},
};

// The user-settings dialog's default-document field takes a name path; a button in the field picks the
// node with the node chooser instead of typing it.
class UserSetNodeField : public QObject {
public:
    explicit UserSetNodeField(TTreePanel* panel) : QObject(panel), panel_(panel) {}
    bool eventFilter(QObject* watched, QEvent* e) override {
        if (e->type() == QEvent::Show && watched->objectName() == QStringLiteral("frmUserSet"))
            decorate(static_cast<QWidget*>(watched));
        return false;
    }

private:
    void decorate(QWidget* dialog) {
        auto* field = dialog->findChild<QLineEdit*>(QStringLiteral("edtDefaultDocument"));
        if (!field || field->property("zelNodeChooser").toBool()) return;
        field->setProperty("zelNodeChooser", true);
        QAction* pick =
            field->addAction(dialog->style()->standardIcon(QStyle::SP_DirOpenIcon), QLineEdit::TrailingPosition);
        pick->setObjectName(QStringLiteral("btnSelectDefaultDocument"));
        pick->setText(GetString(40539));
        pick->setToolTip(pick->text());
        QObject::connect(pick, &QAction::triggered, field, [this, field, dialog] {
            Database* db = panel_->database();
            if (!db) return;
            const QString current = FindNodeByName(*db, field->text());
            if (const auto choice = TfrmSelectNode::choose(*db, current, dialog))
                field->setText(GetChildName(*db, choice->id));
        });
    }
    TTreePanel* panel_;
};

void place(QWidget* container, QWidget* w) {
    if (!container) return;
    if (!container->layout()) new QVBoxLayout(container);
    container->layout()->setContentsMargins(0, 0, 0, 0);
    container->layout()->addWidget(w);
}

} // namespace

TTreePanel* AttachKnowledgeTree(TFrmMain& frame, bool showStoredPage) {
    auto* panel = new TTreePanel(frame.contentPage());
    place(frame.contentPage(), panel);
    auto* list = new TFileList(frame.fileListPage());
    place(frame.fileListPage(), list);
    panel->setFileList(list);

    // The property fields go onto the window's own property tabs: "Property" (1), "Security" (4),
    // "Memo" (6), "Mail" (7). The panel object keeps the logic.
    auto* props = new TPropertyPanel(&frame);
    props->hide();
    QTabWidget* tabs = frame.propertyTabs();
    const int targets[4] = {1, 4, 6, 7};
    QList<QWidget*> pages;
    for (int i = 0; i < props->count(); ++i)
        pages << props->widget(i);
    for (int i = 0; i < pages.size() && i < 4; ++i)
        if (targets[i] < tabs->count()) place(tabs->widget(targets[i]), pages[i]);
    panel->setPropertyPanel(props);
    // Edited properties make "Save" available; saving stores them (the first step of every save).
    if (QAction* save = frame.command(QStringLiteral("btnSave"))) {
        QObject::connect(props, &TPropertyPanel::modifiedChanged, save, [save](bool modified) {
            if (modified) save->setEnabled(true);
        });
        QObject::connect(save, &QAction::triggered, props, [props] {
            if (props->modified()) props->store();
        });
    }

    for (const Binding& b : kBindings)
        if (QAction* a = frame.command(QString::fromUtf16(b.name))) panel->bindAction(b.command, a);
    for (const SortBinding& b : kSortBindings)
        if (QAction* a = frame.command(QString::fromUtf16(b.name))) panel->bindSortAction(b.number, a);
    // Commands the window's table does not have go into its menus as the tree's own actions.
    if (QMenu* file = frame.menu(QStringLiteral("siFile"));
        file && !frame.command(QStringLiteral("btnSetDocumentPassword")))
        file->addAction(panel->action(TreeCommand::SetDocumentPassword));
    if (QMenu* index = frame.menu(QStringLiteral("siIndex")); index && !frame.command(QStringLiteral("btnOpenAddFile")))
        index->insertAction(index->actions().value(0), panel->action(TreeCommand::Open));
    if (QAction* compact = frame.command(QStringLiteral("btnCompactAndRepair"))) {
        QObject::connect(compact, &QAction::triggered, panel, &TTreePanel::maintenance);
        compact->setEnabled(frame.sessionOpen());
    }

    QObject::connect(&frame, &TFrmMain::languageChanged, panel, &TTreePanel::applyLanguage);
    QObject::connect(&frame, &TFrmMain::sessionOpened, panel, [panel, &frame](Database& db, const QString& name) {
        panel->openSession(&db, name);
        if (QAction* compact = frame.command(QStringLiteral("btnCompactAndRepair"))) compact->setEnabled(true);
    });
    QObject::connect(&frame, &TFrmMain::sessionClosing, panel, [panel, &frame] {
        panel->closeSession();
        if (QAction* compact = frame.command(QStringLiteral("btnCompactAndRepair"))) compact->setEnabled(false);
    });

    // An opened node shows its stored page, read-only, in the "Normal" view.
    QObject::connect(
        panel, &TTreePanel::nodeOpened, &frame, [panel, &frame, showStoredPage](const QString& id, const QString& url) {
            Database* db = panel->database();
            if (!db || id.toLongLong() <= 0) return;
            if (!showStoredPage) return;
            QString status;
            const QByteArray html = ReadDocumentContent(*db, id, &status);
            // Relative references resolve through the link scheme once it is registered.
            const bool linkScheme = !QWebEngineUrlScheme::schemeByName(QByteArrayLiteral("link")).name().isEmpty();
            frame.viewBrowser()->setHtml(QString::fromUtf8(html), linkScheme ? QUrl(url) : QUrl());
            if (frame.documentTabs()->currentIndex() == kFileListTab) return; // the list stays in front
            frame.documentTabs()->setCurrentIndex(kNormalTab);
            frame.statusPanel(2)->setText(status);
        });
    QObject::connect(panel, &TTreePanel::fileListWanted, &frame,
                     [&frame](const QString&) { frame.documentTabs()->setCurrentIndex(kFileListTab); });
    QObject::connect(frame.documentTabs(), &QTabWidget::currentChanged, panel, [panel, list](int tab) {
        if (tab == kFileListTab && !panel->currentId().isEmpty()) list->fill(panel->currentId());
    });
    // A sort order chosen in the user settings applies at once.
    QObject::connect(&frame, &TFrmMain::userSettingsChanged, panel, [panel] {
        if (panel->database() && panel->tree()->sortNumber() != CurrentUser().sortOrder)
            panel->sortBy(CurrentUser().sortOrder);
    });
    QObject::connect(list, &TFileList::statusText, &frame,
                     [&frame](const QString& t) { frame.statusPanel(3)->setText(t); });
    QObject::connect(panel, &TTreePanel::statusText, &frame,
                     [&frame](const QString& t) { frame.statusPanel(3)->setText(t); });
    qApp->installEventFilter(new UserSetNodeField(panel));
    return panel;
}

} // namespace zel
