#include "shell/ui/TFrmMain.h"

#include "platform/Paths.h"
#include "shell/Resources.h"
#include "shell/RuntimeSettings.h"
#include "shell/Strings.h"
#include "shell/TcnResourceManager.h"
#include "shell/ui/Commands.h"
#include "shell/ui/Messages.h"
#include "shell/ui/TBookmarkPage.h"
#include "shell/ui/TFrmDataLink.h"
#include "shell/ui/TFrmFirstRun.h"
#include "shell/ui/TFrmLogin.h"
#include "shell/ui/TFrmSetDataBase.h"
#include "shell/ui/TFrmUser.h"
#include "shell/ui/TFrmWait.h"
#include "shell/ui/TFrmWelcome.h"
#include "shell/ui/TfrmPassword.h"
#include "shell/ui/TfrmUserSet.h"
#include "store/KnowledgeBase.h"
#include "store/Schema.h"
#include "store/Users.h"

#include <QActionGroup>
#include <QApplication>
#include <QCloseEvent>
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QFontComboBox>
#include <QLabel>
#include <QMenuBar>
#include <QMessageBox>
#include <QPainter>
#include <QSaveFile>
#include <QSplitter>
#include <QStatusBar>
#include <QStyle>
#include <QTabWidget>
#include <QTimer>
#include <QToolBar>
#include <QToolButton>
#include <QUrl>
#include <QVBoxLayout>
#include <QWebEngineView>
#include <QtConcurrent/QtConcurrentRun>

namespace zel {

namespace {

constexpr int kTitleHeight = 60;
constexpr int kTitleHeightWithProperty = 170;
constexpr quint32 kLayoutMagic = 0x5A454C31; // "ZEL1"

QIcon glyphIcon(const QString& glyph, const QStyle* style) {
    if (glyph.isEmpty()) return {};
    if (glyph.startsWith(QStringLiteral("std:"))) {
        static const QHash<QString, QStyle::StandardPixmap> std{
            {QStringLiteral("FileDialogNewFolder"), QStyle::SP_FileDialogNewFolder},
            {QStringLiteral("FileDialogDetailedView"), QStyle::SP_FileDialogDetailedView},
            {QStringLiteral("DirOpenIcon"), QStyle::SP_DirOpenIcon},
            {QStringLiteral("DialogSaveButton"), QStyle::SP_DialogSaveButton},
            {QStringLiteral("ArrowBack"), QStyle::SP_ArrowBack},
            {QStringLiteral("ArrowForward"), QStyle::SP_ArrowForward},
            {QStringLiteral("DirHomeIcon"), QStyle::SP_DirHomeIcon},
        };
        return style->standardIcon(std.value(glyph.mid(4), QStyle::SP_CustomBase));
    }
    QPixmap pm(48, 48);
    pm.fill(Qt::transparent);
    QPainter p(&pm);
    p.setRenderHint(QPainter::Antialiasing);
    const QColor ink(0x1F, 0x3A, 0x70);
    if (glyph.startsWith(QStringLiteral("draw:"))) {
        // Small pictures that common fonts lack.
        p.setPen(QPen(ink, 3));
        p.setBrush(Qt::white);
        const QString what = glyph.mid(5);
        if (what == QStringLiteral("copy")) {
            p.drawRect(8, 6, 22, 28);
            p.drawRect(18, 14, 22, 28);
        } else if (what == QStringLiteral("paste")) {
            p.drawRect(9, 9, 30, 33);
            p.setBrush(ink);
            p.drawRect(17, 5, 14, 8);
        } else if (what == QStringLiteral("print")) {
            p.drawRect(13, 5, 22, 14);
            p.setBrush(QColor(0xC8, 0xD6, 0xEE));
            p.drawRoundedRect(5, 18, 38, 16, 3, 3);
            p.setBrush(Qt::white);
            p.drawRect(13, 28, 22, 14);
        } else if (what == QStringLiteral("detail")) {
            p.drawRect(6, 8, 36, 32);
            p.setBrush(ink);
            p.drawRect(6, 8, 36, 10);
        }
        return QIcon(pm);
    }
    // A short text drawn as the button's picture.
    QFont f = QApplication::font();
    f.setBold(true);
    f.setPixelSize(glyph.size() > 1 ? 26 : 34);
    if (glyph == QStringLiteral("I")) f.setItalic(true);
    if (glyph == QStringLiteral("U")) f.setUnderline(true);
    p.setFont(f);
    p.setPen(ink);
    p.drawText(pm.rect(), Qt::AlignCenter, glyph);
    return QIcon(pm);
}

QWidget* containerPage(QWidget* parent, const QString& name) {
    auto* w = new QWidget(parent);
    w->setObjectName(name);
    auto* layout = new QVBoxLayout(w);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    return w;
}

QString blankPage() {
    return QStringLiteral("<html><body style=\"background-image: url('back.jpg'); margin: 0\"></body></html>");
}

} // namespace

QString ToolBarLayoutPath() {
    return homeFolder() + QStringLiteral("Kavrel.TBL");
}

TFrmMain::TFrmMain(QWidget* parent) : QMainWindow(parent) {
    setObjectName(QStringLiteral("FrmMain"));
    setWindowTitle(QStringLiteral("ZEL Lite Edition"));
    setAccessibleName(windowTitle());
    TRuntimeReg& reg = RuntimeSettings();

    buildCommands();
    buildPanels();
    buildMenus();
    buildToolBars();
    connectCommands();

    // The start page of the viewer: the program's background picture.
    connect(viewer_, &QWebEngineView::loadFinished, this, &TFrmMain::startPageLoaded, Qt::SingleShotConnection);
    viewer_->setHtml(blankPage(), QUrl::fromLocalFile(programDirectory()));

    setPropertyPanelShown(reg.showProperty);
    applySkin(reg.skinFile.isEmpty() ? programDirectory() + QStringLiteral("skins/xp_blue.xskn") : reg.skinFile);

    // Window state and bounds: a missing size maximises; the bounds apply as soon as one side is known.
    startMaximized_ = reg.width < 20 || reg.height < 20 || reg.windowState == 1;
    if (reg.width > 20 || reg.height > 20)
        setGeometry(reg.left, reg.top, reg.width, reg.height);
    else
        resize(1000, 700);
    normalBounds_ = geometry();
    if (reg.indexWidth > 20) splitter_->setSizes({reg.indexWidth, qMax(200, width() - reg.indexWidth)});
    restoreLayout();
    CloseSession();
    command(QStringLiteral("btnEditModal"))->setChecked(reg.editMode);
    buildLanguageMenu();
    buildSkinMenu();
    ApplyLanguage();
}

TFrmMain::~TFrmMain() {
    shutdown();
}

QAction* TFrmMain::command(const QString& name) const {
    return byName_.value(name);
}

QMenu* TFrmMain::menu(const QString& name) const {
    return menus_.value(name);
}

QComboBox* TFrmMain::formatBox(const QString& name) const {
    return formatBoxes_.value(name);
}

QToolBar* TFrmMain::toolBar(int index) const {
    return index >= 0 && index < 3 ? toolBars_[index] : nullptr;
}

Database& TFrmMain::database() const {
    return MainData().acGlint;
}

void TFrmMain::buildCommands() {
    for (const CommandDef& def : CommandTable()) {
        auto* a = new QAction(this);
        const QString name = QString::fromUtf16(def.name);
        a->setObjectName(name);
        a->setData(def.tag);
        a->setCheckable(def.checkable);
        a->setIcon(glyphIcon(QString::fromUtf16(def.glyph), style()));
        const QString key = QString::fromUtf16(def.shortcut);
        if (!key.isEmpty()) a->setShortcut(QKeySequence(key));
        // Disabled until the subsystem that owns the command connects its handler.
        a->setEnabled(false);
        captions_.action(a, def.captionIdent, def.hintIdent);
        commands_ << a;
        byName_.insert(name, a);
    }
    zoomGroup_ = new QActionGroup(this);
    for (const char16_t* n : {u"btnMost", u"btnbiggish", u"btnmiddling", u"btnLess", u"btnleast"})
        zoomGroup_->addAction(command(QString::fromUtf16(n)));
    sortGroup_ = new QActionGroup(this);
    for (const char16_t* n :
         {u"btnCaptionAscend", u"btnCaptionDescend", u"btnCreateDateAscend", u"btnCreateDateDescend",
          u"btnModifyDateAscend", u"btnModifyDateDescend", u"btnCustomAscend", u"btnCustomDescend"})
        sortGroup_->addAction(command(QString::fromUtf16(n)));
}

void TFrmMain::buildPanels() {
    splitter_ = new QSplitter(Qt::Horizontal, this);
    splitter_->setObjectName(QStringLiteral("splMain"));
    splitter_->setChildrenCollapsible(false);

    // Index panel: caption, then the three pages.
    pnlIndex_ = new QWidget(splitter_);
    pnlIndex_->setObjectName(QStringLiteral("pnlindex"));
    auto* indexLayout = new QVBoxLayout(pnlIndex_);
    indexLayout->setContentsMargins(2, 2, 2, 2);
    indexLayout->setSpacing(2);
    treeCaption_ = new QLabel(pnlIndex_);
    treeCaption_->setObjectName(QStringLiteral("lblIndexCaption"));
    treeCaption_->setMinimumHeight(22);
    indexLayout->addWidget(treeCaption_);
    tabMain_ = new QTabWidget(pnlIndex_);
    tabMain_->setObjectName(QStringLiteral("TabMain"));
    tabMain_->setTabPosition(QTabWidget::South);
    const char16_t* pageNames[] = {u"pnlContent", u"pnlsearch", u"pnlbookmark"};
    const int pageIdents[] = {40201, 40202, 40203};
    for (int i = 0; i < 3; ++i) {
        pages_[i] = containerPage(tabMain_, QString::fromUtf16(pageNames[i]));
        tabMain_->addTab(pages_[i], QString());
        captions_.tab(tabMain_, i, pageIdents[i]);
    }
    indexLayout->addWidget(tabMain_, 1);
    bookmarks_ = new TBookmarkPage(pages_[2]);
    pages_[2]->layout()->addWidget(bookmarks_);
    connect(bookmarks_, &TBookmarkPage::openRequested, this, &TFrmMain::openNodeRequested);

    // Document side: title and property panel above the document tabs.
    auto* docSide = new QWidget(splitter_);
    docSide->setObjectName(QStringLiteral("pnlDocument"));
    auto* docLayout = new QVBoxLayout(docSide);
    docLayout->setContentsMargins(2, 2, 2, 2);
    docLayout->setSpacing(2);
    pnlTitle_ = new QWidget(docSide);
    pnlTitle_->setObjectName(QStringLiteral("PnlTitle"));
    auto* titleLayout = new QVBoxLayout(pnlTitle_);
    titleLayout->setContentsMargins(6, 4, 6, 4);
    titleLayout->setSpacing(2);
    lblTitle_ = new QLabel(pnlTitle_);
    lblTitle_->setObjectName(QStringLiteral("lblTitle"));
    titleLayout->addWidget(lblTitle_);
    tabProperty_ = new QTabWidget(pnlTitle_);
    tabProperty_->setObjectName(QStringLiteral("TabProperty"));
    const char16_t* propNames[] = {u"tsSendMail", u"tsProperty", u"tsAccessories", u"tsBackground",
                                   u"tsSecurity", u"tsMargin",   u"tsMemo",        u"tsMail"};
    const int propIdents[] = {41325, 41163, 40206, 40416, 41161, 41326, 41188, 41160};
    for (int i = 0; i < 8; ++i) {
        tabProperty_->addTab(containerPage(tabProperty_, QString::fromUtf16(propNames[i])), QString());
        captions_.tab(tabProperty_, i, propIdents[i]);
    }
    titleLayout->addWidget(tabProperty_, 1);
    docLayout->addWidget(pnlTitle_);

    tabEdit_ = new QTabWidget(docSide);
    tabEdit_->setObjectName(QStringLiteral("TabEdit"));
    tabEdit_->setTabPosition(QTabWidget::South);
    viewer_ = new QWebEngineView(tabEdit_);
    viewer_->setObjectName(QStringLiteral("WebView"));
    docPages_[0] = viewer_;
    docPages_[1] = containerPage(tabEdit_, QStringLiteral("pnlEdit"));
    docPages_[2] = containerPage(tabEdit_, QStringLiteral("pnlSource"));
    docPages_[3] = containerPage(tabEdit_, QStringLiteral("pnlFileList"));
    for (int i = 0; i < 4; ++i)
        tabEdit_->addTab(docPages_[i], QString());
    captions_.tab(tabEdit_, 0, 40204);
    captions_.tab(tabEdit_, 1, 46002);
    captions_.tab(tabEdit_, 2, 40205);
    captions_.tab(tabEdit_, 3, 41037);
    // The search result tab joins when the tab set has fewer than five tabs.
    if (tabEdit_->count() < 5) {
        docPages_[4] = containerPage(tabEdit_, QStringLiteral("pnlSearchResult"));
        tabEdit_->addTab(docPages_[4], QString());
        captions_.tab(tabEdit_, 4, 40336);
    }
    docLayout->addWidget(tabEdit_, 1);
    connect(tabEdit_, &QTabWidget::currentChanged, this, &TFrmMain::updateMenusForTab);

    splitter_->addWidget(pnlIndex_);
    splitter_->addWidget(docSide);
    splitter_->setStretchFactor(1, 1);
    splitter_->setSizes({260, 740});
    setCentralWidget(splitter_);

    for (int i = 0; i < 5; ++i) {
        status_[i] = new QLabel(this);
        status_[i]->setObjectName(QStringLiteral("stbPanel%1").arg(i));
        status_[i]->setMinimumWidth(i == 0 ? 220 : 110);
        statusBar()->addWidget(status_[i], i == 0 ? 2 : 1);
    }
    statusBar()->setObjectName(QStringLiteral("StatusBar"));
    status_[0]->setText(GetString(40302));
}

void TFrmMain::buildMenus() {
    QMenuBar* bar = menuBar();
    bar->setObjectName(QStringLiteral("MainMenu"));
    auto addMenu = [this](QWidget* parentMenu, const QString& name, int caption, int hint) {
        QMenu* m = nullptr;
        if (auto* b = qobject_cast<QMenuBar*>(parentMenu))
            m = b->addMenu(QString());
        else
            m = static_cast<QMenu*>(parentMenu)->addMenu(QString());
        m->setObjectName(name);
        m->menuAction()->setObjectName(name);
        captions_.menu(m, caption, hint);
        menus_.insert(name, m);
        return m;
    };
    auto add = [this](QMenu* m, std::initializer_list<const char16_t*> names) {
        for (const char16_t* n : names) {
            if (!n)
                m->addSeparator();
            else
                m->addAction(command(QString::fromUtf16(n)));
        }
    };
    QMenu* file = addMenu(bar, QStringLiteral("siFile"), 40001, 46001);
    add(file, {u"btnNew", u"btnSetDatabase", u"btnOpen", nullptr, u"btnSave", nullptr});
    QMenu* imp = addMenu(file, QStringLiteral("btnImport"), 40011, 0);
    add(imp,
        {u"btnHTML", u"btnText", u"btnWord", u"btnCHM", u"btnZEL", u"btnOE", u"btnFile", u"btnImage", u"btnsingle"});
    QMenu* exp = addMenu(file, QStringLiteral("btnExport"), 40012, 0);
    add(exp, {u"btnextHtml", u"btnExtText", u"btnExtWord", u"btnExtChm", u"btnextZEL", u"btnExtSingle"});
    add(file, {u"btnImpGuide", u"btnExpGuide", nullptr, u"btnPrintSetup", u"btnPrintPreview", u"btnPrint", nullptr,
               u"btnExit"});

    QMenu* edit = addMenu(bar, QStringLiteral("siEdit"), 40002, 46002);
    add(edit, {u"btnUndo", u"btnRedo", nullptr, u"btnCut", u"btnCopy", u"btnPaste", u"btndelete", nullptr,
               u"btnSelectAll", nullptr, u"btnFind", u"btnFindNext", u"btnReplace", nullptr, u"btnSetCaption"});

    QMenu* view = addMenu(bar, QStringLiteral("siView"), 40003, 46003);
    QMenu* bars = addMenu(view, QStringLiteral("siToolBars"), 40050, 46050);
    add(bars, {u"btnNormaltb", u"btnFormattb", u"btnNaTB"});
    add(view, {u"btnIndexView", u"btnShowDetail", u"btnFullScreen", u"btnEditModal", u"btnShowBodar", nullptr});
    QMenu* zoom = addMenu(view, QStringLiteral("btnZoomFontSize"), 41028, 41028);
    add(zoom, {u"btnMost", u"btnbiggish", u"btnmiddling", u"btnLess", u"btnleast"});
    addMenu(view, QStringLiteral("btnSkin"), 40051, 46051);
    addMenu(view, QStringLiteral("btnlanguage"), 40748, 0);

    QMenu* index = addMenu(bar, QStringLiteral("siIndex"), 41153, 41153);
    add(index, {u"btnChild", u"btnNextItem", u"btnReNameIndex", u"btnDeleteIndex", nullptr, u"btnMoveTo", u"btnMoveUp",
                u"btnMoveDown"});
    QMenu* sort = addMenu(index, QStringLiteral("btnSort"), 46077, 46077);
    add(sort, {u"btnCaptionAscend", u"btnCaptionDescend", u"btnCreateDateAscend", u"btnCreateDateDescend",
               u"btnModifyDateAscend", u"btnModifyDateDescend", u"btnCustomAscend", u"btnCustomDescend"});
    add(index, {u"btnDefaultDocument", u"btnFolderProperty", nullptr, u"btnRead", u"btnNoRead", u"btnColorsign",
                nullptr, u"btnRestoreFile", u"btnEmptyRecycleBin", nullptr, u"btnBack", u"btnNext", u"btnIndex"});

    QMenu* insert = addMenu(bar, QStringLiteral("siInsert"), 40004, 46004);
    add(insert, {u"btnDateAndTime", u"btnLine", nullptr, u"btnPicture", u"btnImageProperty", u"btnDownAll", nullptr,
                 u"btnBookMark", u"btnInsertAnchor"});
    QMenu* format = addMenu(bar, QStringLiteral("siFormat"), 40005, 46005);
    add(format,
        {u"btnFont", u"btnBold", u"btnItalic", u"btnUnderline", u"btnFontColor", u"btnHightlight", u"btnGrowFont1Pt",
         u"btnShinkFont1Pt", nullptr, u"btnAlignLeft", u"btnCenter", u"btnAlignRight", u"btnIncreaseIndent",
         u"btnDecreaseIndent", u"btnNumberList", u"btnBullets", nullptr, u"btnDeleteFormat", u"btnDocProperty"});
    QMenu* table = addMenu(bar, QStringLiteral("btnTable"), 40006, 46006);
    add(table, {u"btnInsertTable", nullptr, u"btnInsertRow", u"btnDeleteRow", u"btnInsertCol", u"btnDeleteCol",
                u"btnInsertCell", u"btnDeleteCell", u"btnMergeCells", u"btnSplitCells", nullptr, u"btnTableProperty",
                u"btnCellProperty", u"btnShowBodar"});
    QMenu* tools = addMenu(bar, QStringLiteral("siTools"), 40008, 40008);
    add(tools, {u"btnUpdatePassword", u"btnUser", u"btnUserSet", nullptr, u"btnCompactAndRepair", nullptr,
                u"btnExtendEditor", u"btnAddressBook", u"btnshowWelcome"});
    QMenu* mail = addMenu(bar, QStringLiteral("siMail"), 41251, 41251);
    add(mail, {u"btnReceive", nullptr, u"btnMailSet", u"btnMailRule", u"btnOutbox", u"btnoeBox"});
    QMenu* help = addMenu(bar, QStringLiteral("siHelp"), 40010, 46010);
    add(help, {u"btnHelpIndex", u"btnHowtoStart", nullptr, u"btnIndexHtm", u"btnAbout"});
}

void TFrmMain::buildToolBars() {
    const char16_t* names[] = {u"tbNormal", u"tbFormat", u"tbNavigate"};
    const int idents[] = {46014, 46015, 46016};
    for (int i = 0; i < 3; ++i) {
        auto* tb = new QToolBar(this);
        tb->setObjectName(QString::fromUtf16(names[i]));
        tb->setIconSize(QSize(20, 20));
        tb->setToolButtonStyle(Qt::ToolButtonIconOnly);
        captions_.text(tb, idents[i]);
        addToolBar(Qt::TopToolBarArea, tb);
        toolBars_[i] = tb;
    }
    auto add = [this](QToolBar* tb, std::initializer_list<const char16_t*> list) {
        for (const char16_t* n : list) {
            if (!n)
                tb->addSeparator();
            else
                tb->addAction(command(QString::fromUtf16(n)));
        }
    };
    add(toolBars_[0],
        {u"btnOpen", u"btnSave", u"btnPrint", nullptr, u"btnCut", u"btnCopy", u"btnPaste", u"btnUndo", u"btnRedo",
         nullptr, u"btnFind", nullptr, u"btnIndexView", u"btnShowDetail", u"btnEditModal", nullptr, u"btnReceive"});
    // Font, size and style boxes lead the "Format" bar.
    const std::pair<const char16_t*, int> boxes[] = {
        {u"cbFontName", 46105}, {u"cnFontSize", 46106}, {u"btnStyle", 46123}};
    for (const auto& [name, ident] : boxes) {
        const QString boxName = QString::fromUtf16(name);
        QComboBox* box = boxName == QStringLiteral("cbFontName") ? new QFontComboBox(this) : new QComboBox(this);
        box->setObjectName(boxName);
        box->setEnabled(false);
        if (boxName == QStringLiteral("cnFontSize")) {
            for (int i = 1; i <= 7; ++i)
                box->addItem(QString::number(i));
        }
        box->setMinimumContentsLength(boxName == QStringLiteral("cnFontSize") ? 2 : 10);
        box->setSizeAdjustPolicy(QComboBox::AdjustToMinimumContentsLengthWithIcon);
        captions_.window(box, ident);
        toolBars_[1]->addWidget(box);
        formatBoxes_.insert(boxName, box);
    }
    add(toolBars_[1],
        {u"btnBold", u"btnItalic", u"btnUnderline", u"btnFontColor", u"btnHightlight", u"btnGrowFont1Pt",
         u"btnShinkFont1Pt", nullptr, u"btnAlignLeft", u"btnCenter", u"btnAlignRight", nullptr, u"btnNumberList",
         u"btnBullets", u"btnDecreaseIndent", u"btnIncreaseIndent", nullptr, u"btnInsertTable"});
    add(toolBars_[2], {u"btnBack", u"btnNext", u"btnIndex", nullptr, u"btnNextItem", u"btnChild", u"btnDeleteIndex",
                       u"btnMoveUp", u"btnMoveDown"});
    const char16_t* toggles[] = {u"btnNormaltb", u"btnFormattb", u"btnNaTB"};
    for (int i = 0; i < 3; ++i) {
        QAction* a = command(QString::fromUtf16(toggles[i]));
        QToolBar* tb = toolBars_[i];
        a->setEnabled(true);
        a->setChecked(true);
        connect(a, &QAction::toggled, tb, &QToolBar::setVisible);
        connect(tb, &QToolBar::visibilityChanged, a, [a, tb] { a->setChecked(tb->isVisibleTo(tb->parentWidget())); });
    }
}

void TFrmMain::connectCommands() {
    auto on = [this](const char16_t* name, auto handler) {
        QAction* a = command(QString::fromUtf16(name));
        a->setEnabled(true);
        connect(a, &QAction::triggered, this, handler);
    };
    on(u"btnExit", [this] { close(); });
    on(u"btnNew", [this] { TFrmDataLink::NewKnowledgeBase(this); });
    on(u"btnSetDatabase", [this] { TFrmSetDataBase::ManageCatalogue(this); });
    on(u"btnOpen", [this] { runLoginDialog(); });
    on(u"btnUpdatePassword", [this] {
        if (sessionOpen_) TfrmPassword::run(this, database());
    });
    on(u"btnUser", [this] {
        if (!sessionOpen_) return;
        if (!CurrentUser().administrator) {
            ShowInformation(this, GetString(40338));
            return;
        }
        TFrmUser dialog(database(), this);
        dialog.exec();
    });
    on(u"btnUserSet", [this] {
        if (sessionOpen_ && TfrmUserSet::run(this, database())) emit userSettingsChanged();
    });
    on(u"btnshowWelcome", [this] { showWelcome(); });
    on(u"btnAbout", [this] { ShowInformation(this, GetString(40753)); });
    on(u"btnIndexView", [this](bool checked) { pnlIndex_->setVisible(checked); });
    command(QStringLiteral("btnIndexView"))->setChecked(true);
    on(u"btnShowDetail", [this](bool checked) { setPropertyPanelShown(checked); });
    on(u"btnFullScreen", [this](bool checked) {
        if (checked)
            showFullScreen();
        else
            showNormal();
    });
    on(u"btnEditModal", [](bool checked) { RuntimeSettings().editMode = checked; });
    on(u"btnRemoveSkin", [this] {
        applySkin(QString());
        RuntimeSettings().skinFile = QStringLiteral("<CancelSkin>");
        for (QAction* a : skinGroup_->actions())
            a->setChecked(false);
    });
}

bool TFrmMain::propertyPanelShown() const {
    return tabProperty_->isVisibleTo(pnlTitle_);
}

void TFrmMain::setPropertyPanelShown(bool shown) {
    tabProperty_->setVisible(shown);
    pnlTitle_->setFixedHeight(shown ? kTitleHeightWithProperty : kTitleHeight);
    RuntimeSettings().showProperty = shown;
    if (QAction* a = command(QStringLiteral("btnShowDetail"))) {
        QSignalBlocker block(a);
        a->setChecked(shown);
    }
}

void TFrmMain::updateMenusForTab(int tab) {
    // Editing menus belong to the editor tab; the source tab keeps the Edit menu only.
    const bool edit = tab == 1;
    const bool source = tab == 2;
    menu(QStringLiteral("siEdit"))->menuAction()->setVisible(edit || source);
    for (const char16_t* n : {u"siInsert", u"siFormat", u"btnTable"})
        menu(QString::fromUtf16(n))->menuAction()->setVisible(edit);
    // The property tabs hide in the file list and the search view.
    const bool listView = tab == 3 || tab == 4;
    tabProperty_->setVisible(!listView && RuntimeSettings().showProperty);
    pnlTitle_->setFixedHeight(tabProperty_->isVisibleTo(pnlTitle_) ? kTitleHeightWithProperty : kTitleHeight);
}

void TFrmMain::updateSessionCommands() {
    for (const char16_t* n : {u"btnUpdatePassword", u"btnUser", u"btnUserSet", u"btnshowWelcome"})
        command(QString::fromUtf16(n))->setEnabled(sessionOpen_);
    menu(QStringLiteral("siIndex"))->menuAction()->setVisible(sessionOpen_);
    tabEdit_->setEnabled(sessionOpen_);
    tabMain_->setEnabled(sessionOpen_);
}

bool TFrmMain::OpenSession(const QString& catalogueName) {
    Database& db = database();
    QApplication::setOverrideCursor(Qt::WaitCursor);
    TFrmWait wait(this);
    wait.setWindowTitle(GetString(41348));
    wait.show();
    bool ok = false;
    [&] {
        // The schema check may rewrite every row of an old knowledge base: it runs on a connection of its
        // own while the window keeps painting.
        wait.setText(GetString(41343));
        const QString conn = db.connectionString();
        QFuture<bool> upgrade = QtConcurrent::run([conn] {
            Database worker;
            if (!worker.open(conn)) return false;
            return UpgradeSchema(worker);
        });
        while (!upgrade.isFinished()) {
            QApplication::processEvents(QEventLoop::ExcludeUserInputEvents, 50);
            QThread::msleep(5);
        }
        if (!upgrade.result()) return;
        wait.advance(20);
        wait.setText(GetString(41344));
        LoadSystemFolders(db);
        LoadUserSettings(db, CurrentUser().code);
        wait.advance(20);
        wait.setText(GetString(41345));
        if (CurrentUser().showWelcome) showWelcome();
        wait.advance(20);
        wait.setText(GetString(41346));
        catalogueName_ = catalogueName;
        sessionOpen_ = true;
        treeCaption_->setText(u' ' + catalogueName);
        emit sessionOpened(db, catalogueName);
        wait.advance(20);
        wait.setText(GetString(41347));
        tabEdit_->setCurrentIndex(RuntimeSettings().editMode ? 1 : 0);
        status_[4]->setText(GetString(40306) + u':' + CurrentUser().name);
        bookmarks_->setDatabase(&db);
        ok = true;
    }();
    updateSessionCommands();
    wait.close();
    QApplication::restoreOverrideCursor();
    return ok;
}

void TFrmMain::setCurrentNode(const QString& id, const QString& caption) {
    currentCaption_ = caption;
    lblTitle_->setText(QStringLiteral("  ") + caption);
    lblTitle_->setAccessibleName(caption);
    bookmarks_->setCurrentNode(id, caption);
}

void TFrmMain::CloseSession() {
    if (sessionOpen_) emit sessionClosing();
    sessionOpen_ = false;
    catalogueName_.clear();
    treeCaption_->setText(GetString(40307));
    database().close();
    viewer_->setUrl(QUrl(QStringLiteral("about:blank")));
    bookmarks_->setDatabase(nullptr);
    currentCaption_.clear();
    lblTitle_->setText(QStringLiteral("  ") + GetString(40339));
    status_[4]->clear();
    updateSessionCommands();
    emit sessionClosed();
}

void TFrmMain::showAtStart() {
    if (startMaximized_)
        showMaximized();
    else
        show();
}

void TFrmMain::showEvent(QShowEvent* e) {
    QMainWindow::showEvent(e);
    if (loginArmed_) return;
    loginArmed_ = true;
    QTimer::singleShot(200, this, &TFrmMain::loginAtStart);
}

void TFrmMain::loginAtStart() {
    TMainData& data = MainData();
    TRuntimeReg& reg = RuntimeSettings();
    if (reg.rememberLogin) {
        const OpenResult r = OpenKnowledgeBase(data.acGlint, data.catalogue, reg.catalogueName, reg.userCode, true,
                                               true, true, reg.password);
        if (r.ok()) {
            OpenSession(reg.catalogueName);
            return;
        }
        // A user or password that no longer matches is reported; an unreachable knowledge base is not.
        if (r.status == OpenStatus::UnknownUser || r.status == OpenStatus::WrongPassword)
            ShowInformation(this, OpenMessage(r, reg.userCode));
    }
    if (!data.catalogue.entries().isEmpty()) {
        runLoginDialog();
        return;
    }
    TFrmFirstRun wizard(this);
    if (wizard.exec() != QDialog::Accepted) return;
    const FirstRunValues v = wizard.values();
    const QString code = v.adminCode.isEmpty() ? QStringLiteral("admin") : v.adminCode;
    const QString password = v.adminCode.isEmpty() ? QString() : v.adminPassword;
    reg.rememberLogin = true;
    if (!CreateDefaultKnowledgeBase(data.catalogue, code, password)) {
        ShowInformation(this, GetString(40610));
        return;
    }
    reg.catalogueName = GetString(40406);
    reg.userCode = code;
    reg.password = password;
    const OpenResult r =
        OpenKnowledgeBase(data.acGlint, data.catalogue, reg.catalogueName, code, true, true, true, password);
    if (!r.ok()) {
        ShowInformation(this, OpenMessage(r, code));
        return;
    }
    SaveSettings();
    if (!OpenSession(reg.catalogueName)) return;
    SetUserSortOrder(database(), 6);
    TuserReg& user = CurrentUser();
    user.mailAtLogin = v.mailAtLogin;
    user.mailInterval = v.autoMail ? v.mailInterval : -1;
    SaveUserSettings(database());
    // The mail step's values wait in the wizard's keeping until mail accounts exist.
    PendingFirstRunMail() = v;
}

bool TFrmMain::runLoginDialog() {
    TFrmLogin login(this);
    if (login.exec() != QDialog::Accepted) return false;
    // The login has switched the main connection: the previous session ends here.
    if (sessionOpen_) {
        emit sessionClosing();
        sessionOpen_ = false;
        bookmarks_->setDatabase(nullptr);
        emit sessionClosed();
    }
    return OpenSession(login.catalogueName());
}

void TFrmMain::WMRestApp() {
    if (isMinimized()) {
        showNormal();
    } else if (!isActiveWindow()) {
        showMinimized();
        showNormal();
    }
    raise();
    activateWindow();
}

void TFrmMain::ApplyLanguage() {
    // Font first: a size that is not a number leaves the size, the menus' font and the red label alone.
    QFont f = QApplication::font();
    QFont title = f;
    title.setPointSize(12);
    lblTitle_->setFont(title);
    bool ok = false;
    const int size = GetString(43102).trimmed().toInt(&ok);
    if (ok && size > 0) {
        f.setPointSize(size);
        setFont(f);
        menuBar()->setFont(QApplication::font());
        lblTitle_->setFont(title);
    }
    SetMainWindowFont(font());
    captions_.apply();
    bookmarks_->captions().apply();
    status_[4]->setText(sessionOpen_ ? GetString(40306) + u':' + CurrentUser().name : QString());
    if (!sessionOpen_) treeCaption_->setText(GetString(40307));
    // The panel's caption until a node is opened, then the node's.
    const QString titleText = currentCaption_.isEmpty() ? GetString(40339) : currentCaption_;
    lblTitle_->setText(QStringLiteral("  ") + titleText);
    lblTitle_->setAccessibleName(PlainCaption(titleText));
    if (status_[0]->text().isEmpty() || !sessionOpen_) status_[0]->setText(GetString(40302));
    tabMain_->setAccessibleName(PlainCaption(GetString(40201)));
    tabEdit_->setAccessibleName(PlainCaption(GetString(40204)));
    tabProperty_->setAccessibleName(PlainCaption(GetString(41163)));
    viewer_->setAccessibleName(PlainCaption(GetString(40204)));
    for (int i = 0; i < 5; ++i)
        status_[i]->setAccessibleName(QStringLiteral("%1 %2").arg(PlainCaption(GetString(40302))).arg(i));
    updateMenusForTab(tabEdit_->currentIndex());
    emit languageChanged();
}

QWidget* TFrmMain::reportLanguageProblem(const QString& path) {
    auto* box = new QMessageBox(QMessageBox::Information, GetString(43017),
                                GetString(40749).replace(QStringLiteral("%s"), path), QMessageBox::Ok, this);
    box->setObjectName(QStringLiteral("MessageLanguage"));
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->setModal(false);
    box->show();
    return box;
}

void TFrmMain::buildLanguageMenu() {
    QMenu* m = menu(QStringLiteral("btnlanguage"));
    languageGroup_ = new QActionGroup(this);
    languageGroup_->setExclusive(true);
    const QStringList files = ResourceManager().languageFiles();
    for (int i = 0; i < files.size(); ++i) {
        const QString name = ResourceManager().GetLanguageName(files[i]);
        auto* a = m->addAction(name);
        a->setObjectName(QStringLiteral("btnLanguage%1").arg(i));
        a->setData(i);
        a->setCheckable(true);
        a->setChecked(QFileInfo(files[i]).fileName() == RuntimeSettings().language);
        languageGroup_->addAction(a);
        connect(a, &QAction::triggered, this, [this, i] { changeLanguage(i); });
    }
}

void TFrmMain::changeLanguage(int index) {
    const QStringList files = ResourceManager().languageFiles();
    if (index < 0 || index >= files.size()) return;
    ResourceManager().LoadLanguage(files[index]);
    RuntimeSettings().language = QFileInfo(files[index]).fileName();
    if (languageGroup_ && index < languageGroup_->actions().size())
        languageGroup_->actions().at(index)->setChecked(true);
    ApplyLanguage();
}

void TFrmMain::buildSkinMenu() {
    QMenu* m = menu(QStringLiteral("btnSkin"));
    skinGroup_ = new QActionGroup(this);
    skinGroup_->setExclusive(true);
    const QDir dir(programDirectory() + QStringLiteral("skins"));
    const QString current = RuntimeSettings().skinFile.isEmpty()
                                ? programDirectory() + QStringLiteral("skins/xp_blue.xskn")
                                : RuntimeSettings().skinFile;
    int i = 0;
    for (const QString& file : dir.entryList(QDir::Files | QDir::Hidden | QDir::System, QDir::Name)) {
        const QString ext = QFileInfo(file).suffix().toLower();
        if (ext != QStringLiteral("xskn") && ext != QStringLiteral("mskn")) continue;
        auto* a = m->addAction(file);
        a->setObjectName(QStringLiteral("btnSkin%1").arg(i++));
        a->setCheckable(true);
        a->setChecked(dir.filePath(file) == current);
        skinGroup_->addAction(a);
        connect(a, &QAction::triggered, this, [this, a] {
            const QString path = programDirectory() + QStringLiteral("skins/") + a->text();
            if (path == skinInForce_) return;
            applySkin(path);
            RuntimeSettings().skinFile = path;
        });
    }
    m->addSeparator();
    m->addAction(command(QStringLiteral("btnRemoveSkin")));
}

void TFrmMain::applySkin(const QString& path) {
    QString sheet;
    if (!path.isEmpty() && path != QStringLiteral("<CancelSkin>")) {
        QFile f(path);
        if (f.open(QIODevice::ReadOnly)) sheet = QString::fromUtf8(f.readAll());
    }
    // Pictures named in a skin are found beside it.
    sheet.replace(QStringLiteral("url(\"./"), QStringLiteral("url(\"") + QFileInfo(path).absolutePath() + u'/');
    qApp->setStyleSheet(sheet);
    skinInForce_ = sheet.isEmpty() ? QString() : path;
}

void TFrmMain::saveLayout() {
    QSaveFile f(ToolBarLayoutPath());
    if (!ensureHomeFolder() || !f.open(QIODevice::WriteOnly)) return;
    QDataStream out(&f);
    out << kLayoutMagic << saveState();
    f.commit();
}

void TFrmMain::restoreLayout() {
    QFile f(ToolBarLayoutPath());
    if (!f.open(QIODevice::ReadOnly)) return;
    QDataStream in(&f);
    quint32 magic = 0;
    QByteArray state;
    in >> magic >> state;
    if (magic == kLayoutMagic && in.status() == QDataStream::Ok) restoreState(state);
}

void TFrmMain::showWelcome() {
    if (!welcome_) {
        welcome_ = new TFrmWelcome(this);
        connect(welcome_, &TFrmWelcome::linkActivated, this, [this](int tag) {
            if (tag == 3 && sessionOpen_ && TfrmUserSet::run(this, database())) emit userSettingsChanged();
            emit welcomeLinkActivated(tag);
        });
    }
    welcome_->show();
    welcome_->raise();
}

void TFrmMain::closeEvent(QCloseEvent* e) {
    if (shutDown_) {
        e->accept();
        return;
    }
    if (confirmExit_ && !AskYesNo(this, GetString(40323))) {
        e->ignore();
        return;
    }
    for (const auto& guard : closeGuards_) {
        if (!guard()) {
            e->ignore();
            return;
        }
    }
    // Hidden tool bars come back, so the saved layout never loses one for good.
    for (QToolBar* tb : toolBars_)
        tb->setVisible(true);
    shutdown();
    e->accept();
}

void TFrmMain::moveEvent(QMoveEvent* e) {
    QMainWindow::moveEvent(e);
    if (windowState() == Qt::WindowNoState) normalBounds_ = geometry();
}

void TFrmMain::resizeEvent(QResizeEvent* e) {
    QMainWindow::resizeEvent(e);
    if (windowState() == Qt::WindowNoState) normalBounds_ = geometry();
}

void TFrmMain::shutdown() {
    if (shutDown_) return;
    shutDown_ = true;
    emit shuttingDown();
    TRuntimeReg& reg = RuntimeSettings();
    if (pnlIndex_->isVisible()) reg.indexWidth = pnlIndex_->width();
    QRect r = (isMaximized() || isFullScreen()) ? normalGeometry() : geometry();
    if (!r.isValid()) r = normalBounds_;
    reg.left = r.left();
    reg.top = r.top();
    reg.width = r.width();
    reg.height = r.height();
    reg.windowState = isMaximized() ? 1 : 0;
    saveLayout();
    SaveSettings();
    if (sessionOpen_) {
        emit sessionClosing();
        sessionOpen_ = false;
    }
    QDir(tempFolder()).removeRecursively();
}

} // namespace zel
