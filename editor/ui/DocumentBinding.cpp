#include "editor/ui/DocumentBinding.h"

#include <QAction>
#include <QTabWidget>

#include "editor/ui/TDocumentPane.h"
#include "editor/ui/TDocumentSettingsPanel.h"
#include "shell/ui/TFrmMain.h"
#include "tree/ui/TTreePanel.h"

namespace zel {

TDocumentPane* AttachDocuments(TFrmMain& frame, TTreePanel& tree) {
    auto* pane =
        new TDocumentPane(frame.documentTabs(), frame.viewBrowser(), frame.editPage(), frame.sourcePage(), &frame);
    pane->setStatusPanels(frame.statusPanel(0), frame.statusPanel(1));
    pane->setSaveAction(frame.command(QStringLiteral("btnSave")));
    if (QAction* editModal = frame.command(QStringLiteral("btnEditModal"))) {
        pane->setEditMode(editModal->isChecked());
        QObject::connect(editModal, &QAction::toggled, pane, [pane](bool on) { pane->setEditMode(on); });
    }
    pane->setNodeOpener([&tree](const QString& id, const QString& url) { return tree.openNode(id, url); });
    tree.setLeaveGuard([pane] { return pane->leaveDocument(true); });

    // The tree opens the user's default document from its own session handler, which may run before
    // this one: show whatever it opened once the pane has the connection.
    QObject::connect(&frame, &TFrmMain::sessionOpened, pane, [pane, &tree](Database& db, const QString&) {
        pane->setDatabase(&db);
        if (tree.currentId().toLongLong() > 0 && pane->state().nodeId == tree.currentId() &&
            pane->state().url.isEmpty())
            pane->openNode(tree.currentId(), tree.currentUrl());
    });
    QObject::connect(&frame, &TFrmMain::sessionClosing, pane, [pane] {
        pane->leaveDocument(true);
        pane->openNode(QStringLiteral("0"), {});
        pane->setDatabase(nullptr);
    });
    QObject::connect(&tree, &TTreePanel::nodeOpened, pane,
                     [pane](const QString& id, const QString& url) { pane->openNode(id, url); });
    QObject::connect(&tree, &TTreePanel::editRequested, pane, [pane, &tree](const QString& id) {
        if (id == tree.currentId()) pane->openNode(id, tree.currentUrl(), true);
    });
    // The "Background" (3) and "Margin" (5) property tabs hold the document settings, live in "Edit" only.
    auto* settings = new TDocumentSettingsPanel(frame.propertyTabs()->widget(3), frame.propertyTabs()->widget(5), pane);
    QObject::connect(pane, &TDocumentPane::settingsRead, settings, &TDocumentSettingsPanel::fill);
    QObject::connect(settings, &TDocumentSettingsPanel::changed, pane, &TDocumentPane::applySettings);
    QObject::connect(frame.documentTabs(), &QTabWidget::currentChanged, settings,
                     [settings](int tab) { settings->setEnabled(tab == TabEdit); });
    QObject::connect(&frame, &TFrmMain::sessionOpened, settings,
                     [settings](Database& db, const QString&) { settings->setDatabase(&db); });
    QObject::connect(&frame, &TFrmMain::sessionClosing, settings, [settings] { settings->setDatabase(nullptr); });
    if (QAction* property = frame.command(QStringLiteral("btnDocProperty"))) {
        QObject::connect(property, &QAction::triggered, pane, [pane] { pane->documentProperty(); });
        property->setEnabled(frame.documentTabs()->currentIndex() == TabEdit);
        QObject::connect(frame.documentTabs(), &QTabWidget::currentChanged, property,
                         [property](int tab) { property->setEnabled(tab == TabEdit); });
    }
    if (QAction* all = frame.command(QStringLiteral("btnDownAll"))) {
        QObject::connect(all, &QAction::triggered, pane, [pane] { pane->downloadAllPictures(); });
        all->setEnabled(frame.documentTabs()->currentIndex() == TabEdit);
        QObject::connect(frame.documentTabs(), &QTabWidget::currentChanged, all,
                         [all](int tab) { all->setEnabled(tab == TabEdit); });
    }
    if (QAction* ext = frame.command(QStringLiteral("btnExtendEditor")))
        QObject::connect(ext, &QAction::triggered, pane, [pane] { pane->externalEdit(); });
    frame.addCloseGuard([pane] { return pane->leaveDocument(true); });
    return pane;
}

} // namespace zel
