#include "tree/ui/TreeBinding.h"

#include <QAction>
#include <QLabel>
#include <QLayout>
#include <QMenu>
#include <QTabWidget>
#include <QWebEngineUrlScheme>
#include <QWebEngineView>

#include "platform/Database.h"
#include "shell/ui/TFrmMain.h"
#include "store/Content.h"
#include "tree/ui/TFileList.h"
#include "tree/ui/TPropertyPanel.h"
#include "tree/ui/TTreePanel.h"

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
    QObject::connect(list, &TFileList::statusText, &frame,
                     [&frame](const QString& t) { frame.statusPanel(3)->setText(t); });
    QObject::connect(panel, &TTreePanel::statusText, &frame,
                     [&frame](const QString& t) { frame.statusPanel(3)->setText(t); });
    return panel;
}

} // namespace zel
