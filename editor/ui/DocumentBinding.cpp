#include "editor/ui/DocumentBinding.h"

#include <QAction>
#include <QTabWidget>

#include "editor/ui/TDocumentPane.h"
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

    QObject::connect(&frame, &TFrmMain::sessionOpened, pane,
                     [pane](Database& db, const QString&) { pane->setDatabase(&db); });
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
    frame.addCloseGuard([pane] { return pane->leaveDocument(true); });
    return pane;
}

} // namespace zel
