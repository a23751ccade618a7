#include "shell/ui/TFrmMain.h"

#include "shell/RuntimeSettings.h"
#include "shell/Strings.h"
#include "store/KnowledgeBase.h"
#include "store/Schema.h"
#include "store/Users.h"

#include <QStatusBar>
#include <QWebEngineView>

namespace zel {

TFrmMain::TFrmMain(QWidget* parent) : QMainWindow(parent), view_(new QWebEngineView(this)) {
    setObjectName(QStringLiteral("FrmMain"));
    setWindowTitle(QStringLiteral("ZEL Lite Edition"));
    view_->setObjectName(QStringLiteral("WebView"));
    setCentralWidget(view_);
    connect(view_, &QWebEngineView::loadFinished, this, &TFrmMain::pageLoaded);
    resize(1000, 700);
}

QString TFrmMain::openStartKnowledgeBase() {
    TMainData& data = MainData();
    TRuntimeReg& reg = RuntimeSettings();
    QString name, code, password;
    if (reg.rememberLogin && data.catalogue.FindCatalogueEntry(reg.catalogueName) >= 0) {
        name = reg.catalogueName;
        code = reg.userCode;
        password = reg.password;
    } else if (data.catalogue.entries().isEmpty()) {
        // First start: the default knowledge base with the administrator "admin" and an empty password.
        if (!CreateDefaultKnowledgeBase(data.catalogue, QStringLiteral("admin"), QString())) return {};
        name = GetString(40406);
        code = QStringLiteral("admin");
        reg.rememberLogin = true;
    } else {
        return {};
    }
    const OpenResult r = OpenKnowledgeBase(data.acGlint, data.catalogue, name, code, true, false, true, password);
    if (!r.ok()) return {};
    if (!UpgradeSchema(data.acGlint)) return {};
    LoadSystemFolders(data.acGlint);
    LoadUserSettings(data.acGlint, CurrentUser().code);
    statusBar()->showMessage(name + QStringLiteral(" - ") + GetString(40306) + u':' + CurrentUser().name);
    return name;
}

} // namespace zel
