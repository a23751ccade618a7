#include "editor/ui/TEditCommands.h"

#include <QAction>
#include <QApplication>
#include <QColorDialog>
#include <QComboBox>
#include <QContextMenuEvent>
#include <QDateTime>
#include <QEventLoop>
#include <QFontComboBox>
#include <QFontDialog>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLabel>
#include <QLayout>
#include <QMenu>
#include <QPageSetupDialog>
#include <QPainter>
#include <QPlainTextEdit>
#include <QPrintDialog>
#include <QPrintPreviewDialog>
#include <QPrinter>
#include <QTabWidget>
#include <QToolBar>
#include <QToolButton>
#include <QWebChannel>
#include <QWebEnginePage>
#include <QWebEngineScript>
#include <QWebEngineView>

#include "editor/DocumentSettings.h"
#include "editor/DocumentState.h"
#include "editor/EditMarkup.h"
#include "editor/ui/TDocumentPane.h"
#include "editor/ui/TFrmBookmark.h"
#include "editor/ui/TFrmImageProperty.h"
#include "shell/Strings.h"
#include "shell/ui/TFrmMain.h"
#include "store/Content.h"
#include "tree/ui/TTreePanel.h"
#include "tree/ui/TvMain.h"

namespace zel {

namespace {

// The project's home page ("Software Homepage").
constexpr const char* kHomePage = "https://zel.sourceforge.io/";

// What the editing script reports to: one object per page on that page's channel.
class StateReporter : public QObject {
    Q_OBJECT
public:
    StateReporter(TEditCommands* owner, bool editor) : QObject(owner), owner_(owner), editor_(editor) {}
public slots:
    void states(const QString& json) { owner_->applyStates(json, editor_); }

private:
    TEditCommands* owner_;
    bool editor_;
};

struct TagCommand {
    int tag;
    const char* engine;
    QWebEnginePage::WebAction action; // NoWebAction: run the engine command
};
const TagCommand kTags[] = {
    {1, "Cut", QWebEnginePage::Cut},
    {2, "Copy", QWebEnginePage::Copy},
    {3, "Paste", QWebEnginePage::Paste},
    {4, "Delete", QWebEnginePage::NoWebAction},
    {5, "SelectAll", QWebEnginePage::SelectAll},
    {6, "Undo", QWebEnginePage::NoWebAction},
    {7, "Redo", QWebEnginePage::NoWebAction},
    {12, "Bold", QWebEnginePage::NoWebAction},
    {13, "Italic", QWebEnginePage::NoWebAction},
    {14, "Underline", QWebEnginePage::NoWebAction},
    {15, "JustifyLeft", QWebEnginePage::NoWebAction},
    {16, "JustifyCenter", QWebEnginePage::NoWebAction},
    {17, "JustifyRight", QWebEnginePage::NoWebAction},
    {26, "Indent", QWebEnginePage::NoWebAction},
    {27, "Outdent", QWebEnginePage::NoWebAction},
    {36, "RemoveFormat", QWebEnginePage::NoWebAction},
    {56, "InsertOrderedList", QWebEnginePage::NoWebAction},
    {57, "InsertUnorderedList", QWebEnginePage::NoWebAction},
};

// A string as a script literal.
QString jsString(const QString& s) {
    const QByteArray a = QJsonDocument(QJsonArray{s}).toJson(QJsonDocument::Compact);
    return QString::fromUtf8(a.mid(1, a.size() - 2));
}

// Block formats of the "Style" box: shown name and the engine's tag.
// Block formats of the "Style" box by text ident (40485 on) and the engine's tag.
const char* const kBlocks[] = {"p", "pre", "address", "h1", "h2", "h3", "h4", "h5", "h6", "div"};

} // namespace

TEditCommands::TEditCommands(TFrmMain& frame, TDocumentPane* pane, TTreePanel* tree)
    : QObject(&frame), frame_(frame), pane_(pane), tree_(tree) {
    // The reporters go on the channels before any page loads: the script looks them up at load.
    pane_->editor()->page()->webChannel()->registerObject(QStringLiteral("commands"), new StateReporter(this, true));
    pane_->viewer()->page()->webChannel()->registerObject(QStringLiteral("commands"), new StateReporter(this, false));

    for (const TagCommand& t : kTags) {
        for (QAction* a : frame_.commands()) {
            if (a->data().toInt() != t.tag || a->objectName().startsWith(QLatin1String("btnCaption"))) continue;
            if (a->objectName() == QLatin1String("btnRemoveSkin")) continue;
            connect(a, &QAction::triggered, this, [this, tag = t.tag] { dispatch(tag); });
        }
    }
    auto on = [this](const char16_t* name, auto handler) {
        if (QAction* a = cmd(name)) connect(a, &QAction::triggered, this, handler);
    };
    on(u"btnDateAndTime", [this] { insertDateTime(); });
    on(u"btnLine", [this] { insertLine(); });
    on(u"btnGrowFont1Pt", [this] { growFont(1); });
    on(u"btnShinkFont1Pt", [this] { growFont(-1); });
    on(u"btnSetCaption", [this] { setToCaption(); });
    on(u"btnFont", [this] { fontDialog(); });
    on(u"btnFontColor", [this] { colour(false); });
    on(u"btnHightlight", [this] { colour(true); });
    on(u"btnPicture", [this] { picture(); });
    on(u"btnImageProperty", [this] { picture(); });
    on(u"btnBookMark", [this] { anchor(false); });
    on(u"btnInsertAnchor", [this] { anchor(true); });
    on(u"btnPrint", [this] { print(0); });
    on(u"btnPrintPreview", [this] { print(1); });
    on(u"btnPrintSetup", [this] { print(2); });
    on(u"btnIndexHtm", [] { DocAsk().openExternal(QUrl(QString::fromLatin1(kHomePage))); });
    const char16_t* zooms[] = {u"btnMost", u"btnbiggish", u"btnmiddling", u"btnLess", u"btnleast"};
    for (int tag = 0; tag < 5; ++tag) {
        on(zooms[tag], [this, tag] { zoom(tag); });
        if (QAction* a = cmd(zooms[tag])) a->setEnabled(true);
    }
    if (QAction* a = cmd(u"btnIndexHtm")) a->setEnabled(true);
    if (QAction* a = cmd(u"btnPrintSetup")) a->setEnabled(true);

    // "Grow/Sink Font Space" have no menu entries of their own: they live on the format bar.
    auto* growSpace = new QAction(GetString(40477), this);
    growSpace->setObjectName(QStringLiteral("btnGrowFontSpace"));
    auto* sinkSpace = new QAction(GetString(40478), this);
    sinkSpace->setObjectName(QStringLiteral("btnShinkFontSpace"));
    connect(growSpace, &QAction::triggered, this, [this] { fontSpace(1); });
    connect(sinkSpace, &QAction::triggered, this, [this] { fontSpace(-1); });
    frame_.captions().action(growSpace, 40477);
    frame_.captions().action(sinkSpace, 40478);
    if (QMenu* m = frame_.menu(QStringLiteral("siFormat"))) m->addActions({growSpace, sinkSpace});
    frame_.toolBar(1)->addActions({growSpace, sinkSpace});

    buildBoxes();
    buildColourMenus();
    buildContextMenus();

    // The bookmark page (the frame's) opens nodes through the tree and follows the node opened last.
    if (tree_) {
        connect(&frame_, &TFrmMain::openNodeRequested, this,
                [this](const QString& url, const QString& id) { tree_->openNode(id, url); });
        connect(tree_, &TTreePanel::nodeOpened, this, [this](const QString& id, const QString&) {
            if (QTreeWidgetItem* item = tree_->tree()->findItem(id)) frame_.setCurrentNode(id, item->text(0));
        });
    }
    connect(&frame_, &TFrmMain::sessionOpened, this, [this](Database&, const QString&) { sessionOpen_ = true; });
    connect(&frame_, &TFrmMain::sessionClosing, this, [this] { sessionOpen_ = false; });
    connect(pane_, &TDocumentPane::documentLoaded, this, [this](bool) { fillStatus(); });
    connect(frame_.documentTabs(), &QTabWidget::currentChanged, this, &TEditCommands::onTabChanged);
    connect(pane_->source(), &QPlainTextEdit::textChanged, this, [this] { enableByTab(TabSource); });
    connect(pane_->source(), &QPlainTextEdit::cursorPositionChanged, this, [this] {
        if (frame_.documentTabs()->currentIndex() == TabSource) enableByTab(TabSource);
    });
    connect(&frame_, &TFrmMain::languageChanged, this, [this] {
        for (int i = 0; i < 10; ++i)
            styleBox_->setItemText(i, GetString(40485 + i));
    });
    onTabChanged(frame_.documentTabs()->currentIndex());
}

TEditCommands::~TEditCommands() = default;

QAction* TEditCommands::cmd(const char16_t* name) const {
    return frame_.command(QString::fromUtf16(name));
}

QComboBox* TEditCommands::fontBox() const {
    return fontBox_;
}

QWebEnginePage* TEditCommands::activePage() const {
    return frame_.documentTabs()->currentIndex() == TabNormal ? pane_->viewer()->page() : pane_->editor()->page();
}

QVariant TEditCommands::js(const QString& script) {
    return pane_->run(activePage(), script);
}

bool TEditCommands::designOn(QWebEnginePage* page) {
    return pane_->run(page, QStringLiteral("document.designMode === 'on'")).toBool();
}

void TEditCommands::dispatch(int tag) {
    const int tab = frame_.documentTabs()->currentIndex();
    const bool marks = tag != 2 && tag != 5;
    if (tab == TabSource) {
        QPlainTextEdit* s = pane_->source();
        switch (tag) {
        case 1:
            s->cut();
            break;
        case 2:
            s->copy();
            break;
        case 3:
            s->paste();
            break;
        case 4:
            s->textCursor().removeSelectedText();
            break;
        case 5:
            s->selectAll();
            break;
        case 6:
            s->undo();
            break;
        case 7:
            s->redo();
            break;
        default:
            return;
        }
        if (marks) pane_->markModified(true);
        return;
    }
    if (tab != TabNormal && tab != TabEdit) return;
    const TagCommand* t = nullptr;
    for (const TagCommand& c : kTags)
        if (c.tag == tag) t = &c;
    if (!t) return;
    QWebEnginePage* page = activePage();
    // A document that is not being edited only copies and selects.
    if (!designOn(page)) {
        if (t->action == QWebEnginePage::Copy || t->action == QWebEnginePage::SelectAll) page->triggerAction(t->action);
        return;
    }
    if (t->action != QWebEnginePage::NoWebAction)
        page->triggerAction(t->action);
    else
        pane_->run(page, QStringLiteral("zel.exec(%1)").arg(jsString(QString::fromLatin1(t->engine))));
    if (marks) pane_->markModified(true);
}

void TEditCommands::execValue(const QString& command, const QString& value) {
    js(QStringLiteral("zel.exec(%1, %2)").arg(jsString(command), jsString(value)));
}

void TEditCommands::insertDateTime() {
    if (js(QStringLiteral("zel.paste(%1)").arg(jsString(DateTimeHtml(QDateTime::currentDateTime())))).toBool())
        pane_->markModified(true);
}

void TEditCommands::insertLine() {
    if (js(QStringLiteral("zel.paste(%1)").arg(jsString(QString::fromLatin1(kLineHtml)))).toBool())
        pane_->markModified(true);
}

void TEditCommands::growFont(int delta) {
    const QVariantMap st = js(QStringLiteral("zel.states()")).toMap();
    if (!st.value(QStringLiteral("design")).toBool()) return;
    const int size = st.value(QStringLiteral("cmd"))
                         .toMap()
                         .value(QStringLiteral("FontSize"))
                         .toMap()
                         .value(QStringLiteral("value"))
                         .toInt();
    const int next = (size > 0 ? size : 3) + delta;
    if (next > 7 || next < 1) return;
    execValue(QStringLiteral("FontSize"), QString::number(next));
    pane_->markModified(true);
}

void TEditCommands::fontSpace(int delta) {
    // The style change is made here so that the script and the tests share one rule.
    const QString open = LetterSpacingOpenTag(delta);
    const QVariant done = js(QStringLiteral("zel.letterSpacing(%1, %2, function (style) {"
                                            "  var m = /(letter-spacing\\s*:\\s*)(-?\\d+(?:\\.\\d+)?)([a-zA-Z]{2})/i"
                                            "      .exec(style);"
                                            "  return m ? style.slice(0, m.index) + m[1] + (parseFloat(m[2]) + %3) +"
                                            "      m[3] + style.slice(m.index + m[0].length) : style; })")
                                 .arg(delta)
                                 .arg(jsString(open))
                                 .arg(delta));
    if (done.toBool()) pane_->markModified(true);
}

void TEditCommands::setToCaption() {
    const int tab = frame_.documentTabs()->currentIndex();
    if (!tree_ || (tab != TabNormal && tab != TabEdit)) return;
    QString text = js(QStringLiteral("zel.selectedText()")).toString();
    text.replace(u'\r', u' ').replace(u'\n', u' ');
    text = text.trimmed();
    QTreeWidgetItem* item = tree_->tree()->findItem(tree_->currentId());
    if (text.isEmpty() || !item || text == item->text(0)) return;
    // The tree checks the siblings (and says so) before the store renames the node.
    if (tree_->renameItem(item, text)) frame_.setCurrentNode(tree_->currentId(), text);
}

double TEditCommands::zoomFactor(int tag) {
    // The engine's zoom range is 0.25 to 5; tag 0 is its largest level, tag 4 its smallest.
    static const double levels[] = {5.0, 2.0, 1.0, 0.5, 0.25};
    return levels[qBound(0, tag, 4)];
}

void TEditCommands::zoom(int tag) {
    pane_->viewer()->setZoomFactor(zoomFactor(tag));
    pane_->editor()->setZoomFactor(zoomFactor(tag));
}

void TEditCommands::print(int kind) {
    const int tab = frame_.documentTabs()->currentIndex();
    if (!printer_) printer_ = std::make_unique<QPrinter>(QPrinter::HighResolution);
    if (kind == 2) {
        QPageSetupDialog dialog(printer_.get(), &frame_);
        dialog.exec();
        return;
    }
    if (tab != TabNormal && tab != TabEdit) return;
    QWebEngineView* view = tab == TabNormal ? pane_->viewer() : pane_->editor();
    auto printOn = [view](QPrinter* printer) {
        // The engine prints asynchronously; the caller waits so that the preview gets its pages.
        QEventLoop loop;
        auto c = QObject::connect(view, &QWebEngineView::printFinished, &loop, &QEventLoop::quit);
        view->print(printer);
        loop.exec();
        QObject::disconnect(c);
    };
    if (kind == 0) {
        QPrintDialog dialog(printer_.get(), &frame_);
        if (DocAsk().exec(&dialog)) printOn(printer_.get());
        return;
    }
    QPrintPreviewDialog preview(printer_.get(), &frame_);
    connect(&preview, &QPrintPreviewDialog::paintRequested, this, printOn);
    DocAsk().exec(&preview);
}

void TEditCommands::fontDialog() {
    const QVariantMap st = js(QStringLiteral("zel.states()")).toMap();
    const QVariantMap c = st.value(QStringLiteral("cmd")).toMap();
    auto state = [&](const char* n, const char* field) {
        return c.value(QString::fromLatin1(n)).toMap().value(QString::fromLatin1(field));
    };
    if (!state("FontName", "e").toBool()) return;
    QFont start(state("FontName", "value").toString().remove(u'"').section(u',', 0, 0).trimmed());
    const int sizes[] = {8, 10, 12, 14, 18, 24, 36};
    const int pos = state("FontSize", "value").toInt();
    if (pos >= 1 && pos <= 7) start.setPointSize(sizes[pos - 1]);
    start.setBold(state("Bold", "v").toBool());
    start.setItalic(state("Italic", "v").toBool());
    start.setUnderline(state("Underline", "v").toBool());
    QFontDialog dialog(start, &frame_);
    if (!DocAsk().exec(&dialog)) return;
    const QFont f = dialog.selectedFont();
    execValue(QStringLiteral("FontName"), f.family());
    // The size goes to the nearest of the engine's seven sizes.
    int size = 1;
    while (size < 7 && f.pointSize() > sizes[size - 1])
        ++size;
    if (f.pointSize() > 0) execValue(QStringLiteral("FontSize"), QString::number(size));
    if (f.italic() != state("Italic", "v").toBool()) js(QStringLiteral("zel.exec('Italic')"));
    if (f.bold() != state("Bold", "v").toBool()) js(QStringLiteral("zel.exec('Bold')"));
    if (f.underline() != state("Underline", "v").toBool()) js(QStringLiteral("zel.exec('Underline')"));
    pane_->markModified(true);
}

void TEditCommands::colour(bool background) {
    const QVariantMap st = js(QStringLiteral("zel.states()")).toMap();
    const QString name = background ? QStringLiteral("BackColor") : QStringLiteral("ForeColor");
    if (!st.value(QStringLiteral("design")).toBool() ||
        !st.value(QStringLiteral("cmd")).toMap().value(name).toMap().value(QStringLiteral("e")).toBool())
        return;
    const QColor c = currentColour(background);
    execValue(name, ColourValue(c.red(), c.green(), c.blue()));
    pane_->markModified(true);
}

void TEditCommands::setCurrentColour(bool background, const QColor& c) {
    (background ? back_ : fore_) = c;
    refreshColourIcon(background);
}

void TEditCommands::refreshColourIcon(bool background) {
    QAction* a = cmd(background ? u"btnHightlight" : u"btnFontColor");
    if (!a) return;
    QPixmap pm(20, 20);
    pm.fill(Qt::transparent);
    QPainter p(&pm);
    p.setPen(QApplication::palette().color(QPalette::ButtonText));
    QFont f = p.font();
    f.setBold(true);
    p.setFont(f);
    p.drawText(QRect(0, 0, 20, 16), Qt::AlignCenter, background ? QStringLiteral("ab") : QStringLiteral("A"));
    // The current colour as a 4-pixel bar at the bottom.
    p.fillRect(QRect(0, 16, 20, 4), currentColour(background));
    p.end();
    a->setIcon(QIcon(pm));
}

void TEditCommands::buildColourMenus() {
    for (int i = 0; i < 2; ++i) {
        const bool background = i == 1;
        QAction* a = cmd(background ? u"btnHightlight" : u"btnFontColor");
        if (!a) continue;
        auto* menu = new QMenu(&frame_);
        menu->setObjectName(background ? QStringLiteral("pmHighLight") : QStringLiteral("pmFontColor"));
        connect(menu, &QMenu::aboutToShow, this, [this, menu, background] {
            menu->clear();
            for (int c = 1; c < kColourCustom; ++c) {
                const QColor colour(NamedColour(c));
                QPixmap swatch(14, 14);
                swatch.fill(colour);
                QAction* item = menu->addAction(QIcon(swatch), ColourName(c));
                item->setCheckable(true);
                item->setChecked(colour == currentColour(background));
                connect(item, &QAction::triggered, this,
                        [this, background, colour] { setCurrentColour(background, colour); });
            }
            menu->addSeparator();
            QAction* custom = menu->addAction(ColourName(kColourCustom) + QStringLiteral("..."));
            connect(custom, &QAction::triggered, this, [this, background] {
                const QColor c = QColorDialog::getColor(currentColour(background), &frame_);
                if (c.isValid()) setCurrentColour(background, c);
            });
        });
        a->setMenu(menu);
        if (auto* button = qobject_cast<QToolButton*>(frame_.toolBar(1)->widgetForAction(a)))
            button->setPopupMode(QToolButton::MenuButtonPopup);
        refreshColourIcon(background);
    }
}

void TEditCommands::buildBoxes() {
    // The frame owns the boxes; the style box gets the block formats here.
    fontBox_ = frame_.formatBox(QStringLiteral("cbFontName"));
    sizeBox_ = frame_.formatBox(QStringLiteral("cnFontSize"));
    styleBox_ = frame_.formatBox(QStringLiteral("btnStyle"));
    styleBox_->clear();
    for (int i = 0; i < 10; ++i)
        styleBox_->addItem(GetString(40485 + i), QString::fromLatin1(kBlocks[i]));
    connect(fontBox_, &QComboBox::activated, this, [this] { boxChanged(0); });
    connect(sizeBox_, &QComboBox::activated, this, [this] { boxChanged(1); });
    connect(styleBox_, &QComboBox::activated, this, [this] { boxChanged(2); });
}

void TEditCommands::boxChanged(int which) {
    if (updating_) return;
    const QVariantMap c = js(QStringLiteral("zel.states()")).toMap().value(QStringLiteral("cmd")).toMap();
    const char* names[] = {"FontName", "FontSize", "FormatBlock"};
    if (!c.value(QString::fromLatin1(names[which])).toMap().value(QStringLiteral("e")).toBool()) return;
    if (which == 0)
        execValue(QStringLiteral("FontName"), fontBox_->currentText());
    else if (which == 1)
        execValue(QStringLiteral("FontSize"), QString::number(sizeBox_->currentIndex() + 1));
    else if (styleBox_->count() > 0)
        execValue(QStringLiteral("FormatBlock"), styleBox_->currentData().toString());
    pane_->markModified(true);
}

void TEditCommands::picture() {
    const QVariantMap info = js(QStringLiteral("zel.imageInfo()")).toMap();
    const QString kind = info.value(QStringLiteral("kind")).toString();
    if (kind != QLatin1String("img") && kind != QLatin1String("text")) return;
    if (!designOn(activePage())) return;
    Database* db = pane_->database();
    TFrmImageProperty dialog(&frame_);
    ImageFields f;
    if (kind == QLatin1String("img")) {
        f.src = ReadImgSrc(info.value(QStringLiteral("outer")).toString());
        if (db) f.src = CidUrlToPathUrl(*db, f.src);
        f.alt = info.value(QStringLiteral("alt")).toString();
        f.align = info.value(QStringLiteral("align")).toString();
        f.border = info.value(QStringLiteral("border")).toInt();
        f.hspace = info.value(QStringLiteral("hspace")).toInt();
        f.vspace = info.value(QStringLiteral("vspace")).toInt();
    }
    dialog.setFields(f);
    if (!DocAsk().exec(&dialog)) return;
    ImageFields out = dialog.fields();
    if (out.src.isEmpty()) return;
    if (db) out.src = PathUrlToCidUrl(*db, out.src);
    bool done;
    if (kind == QLatin1String("img")) {
        QJsonObject v{{QStringLiteral("src"), out.src},
                      {QStringLiteral("alt"), out.alt},
                      {QStringLiteral("align"), out.align},
                      {QStringLiteral("border"), QString::number(out.border)},
                      {QStringLiteral("hspace"), QString::number(out.hspace)},
                      {QStringLiteral("vspace"), QString::number(out.vspace)}};
        done = js(QStringLiteral("zel.setImage(%1)")
                      .arg(QString::fromUtf8(QJsonDocument(v).toJson(QJsonDocument::Compact))))
                   .toBool();
    } else {
        done = js(QStringLiteral("zel.paste(%1)").arg(jsString(ImageHtml(out)))).toBool();
    }
    if (done) pane_->markModified(true);
}

void TEditCommands::anchor(bool link) {
    if (!designOn(activePage())) return;
    auto read = [this] {
        const QVariantMap m = js(QStringLiteral("zel.anchorInfo()")).toMap();
        AnchorStart s;
        s.editing = m.value(QStringLiteral("editing")).toBool();
        s.nameEnabled = m.value(QStringLiteral("anchors")).toInt() <= 1 && !m.value(QStringLiteral("multi")).toBool();
        s.name = s.editing ? m.value(QStringLiteral("name")).toString() : m.value(QStringLiteral("text")).toString();
        s.href = m.value(QStringLiteral("href")).toString();
        s.names = m.value(QStringLiteral("names")).toStringList();
        return std::make_pair(s, m);
    };
    auto [start, info] = read();
    if (info.isEmpty()) return;
    if (link && !start.nameEnabled) {
        DocAsk().inform(&frame_, GetString(info.value(QStringLiteral("anchors")).toInt() > 1 ? 40413 : 40414));
        return;
    }
    TFrmBookmark dialog(start, link, &frame_);
    QVariantMap current = info;
    connect(&dialog, &TFrmBookmark::anchorWanted, this, [&](const QString& name) {
        if (!js(QStringLiteral("zel.selectAnchor(%1)").arg(jsString(name))).toBool()) return;
        auto [again, m] = read();
        current = m;
        dialog.restart(again);
    });
    if (!DocAsk().exec(&dialog)) return;
    const bool editing = current.value(QStringLiteral("editing")).toBool();
    if (dialog.deleteChosen()) {
        if (js(QStringLiteral("zel.unwrapAnchor()")).toBool()) pane_->markModified(true);
        return;
    }
    const QString html = current.value(QStringLiteral("html")).toString();
    QString out;
    if (dialog.linkMode()) {
        if (dialog.address().isEmpty()) return;
        out = LinkHtml(dialog.address(), html, editing ? current.value(QStringLiteral("name")).toString() : QString());
    } else {
        if (dialog.name().isEmpty()) return;
        out = BookmarkHtml(dialog.name(), html, editing ? current.value(QStringLiteral("href")).toString() : QString());
    }
    if (js(QStringLiteral("zel.paste(%1)").arg(jsString(out))).toBool()) pane_->markModified(true);
}

void TEditCommands::applyStates(const QString& json, bool fromEditor) {
    const int tab = frame_.documentTabs()->currentIndex();
    if (!sessionOpen_) return;
    const QJsonObject root = QJsonDocument::fromJson(json.toUtf8()).object();
    if (root.isEmpty()) return; // a failed report keeps the previous states
    const QJsonObject c = root.value(QStringLiteral("cmd")).toObject();
    auto supported = [&](const char* n) {
        return c.value(QString::fromLatin1(n)).toObject().value(QStringLiteral("s")).toBool();
    };
    auto enabled = [&](const char* n) {
        return c.value(QString::fromLatin1(n)).toObject().value(QStringLiteral("e")).toBool();
    };
    auto pressed = [&](const char* n) {
        return c.value(QString::fromLatin1(n)).toObject().value(QStringLiteral("v")).toBool();
    };
    if (!fromEditor) {
        if (tab == TabNormal) {
            if (QAction* a = cmd(u"btnCopy")) a->setEnabled(enabled("Copy"));
        }
        emit statesApplied();
        return;
    }
    if (tab != TabEdit) return;
    updating_ = true;
    struct Plain {
        const char* engine;
        const char16_t* action;
    };
    static const Plain plain[] = {{"Cut", u"btnCut"},
                                  {"Copy", u"btnCopy"},
                                  {"Paste", u"btnPaste"},
                                  {"Delete", u"btndelete"},
                                  {"SelectAll", u"btnSelectAll"},
                                  {"Undo", u"btnUndo"},
                                  {"Redo", u"btnRedo"},
                                  {"CreateBookmark", u"btnBookMark"},
                                  {"CreateLink", u"btnInsertAnchor"},
                                  {"InsertImage", u"btnPicture"},
                                  {"InsertImage", u"btnImageProperty"},
                                  {"RemoveFormat", u"btnDeleteFormat"},
                                  {"ForeColor", u"btnFontColor"},
                                  {"BackColor", u"btnHightlight"}};
    for (const Plain& p : plain)
        if (supported(p.engine))
            if (QAction* a = cmd(p.action)) a->setEnabled(enabled(p.engine));
    if (supported("FormatBlock")) styleBox_->setEnabled(enabled("FormatBlock"));
    static const Plain toggles[] = {{"Bold", u"btnBold"},
                                    {"Italic", u"btnItalic"},
                                    {"Underline", u"btnUnderline"},
                                    {"JustifyCenter", u"btnCenter"},
                                    {"JustifyRight", u"btnAlignRight"},
                                    {"Indent", u"btnIncreaseIndent"},
                                    {"Outdent", u"btnDecreaseIndent"},
                                    {"InsertOrderedList", u"btnNumberList"},
                                    {"InsertUnorderedList", u"btnBullets"},
                                    {"JustifyLeft", u"btnAlignLeft"}};
    for (const Plain& p : toggles) {
        if (!supported(p.engine) && qstrcmp(p.engine, "JustifyLeft") != 0) continue;
        if (QAction* a = cmd(p.action)) {
            a->setEnabled(enabled(p.engine));
            if (a->isCheckable()) a->setChecked(pressed(p.engine));
        }
    }
    const bool fontOn = enabled("FontName");
    if (QAction* a = cmd(u"btnFont")) a->setEnabled(fontOn);
    fontBox_->setEnabled(fontOn);
    const QString family = c.value(QStringLiteral("FontName"))
                               .toObject()
                               .value(QStringLiteral("value"))
                               .toString()
                               .remove(u'"')
                               .section(u',', 0, 0)
                               .trimmed();
    if (!family.isEmpty() && fontBox_->currentText() != family) {
        const int at = fontBox_->findText(family, Qt::MatchFixedString);
        if (at >= 0)
            fontBox_->setCurrentIndex(at);
        else
            fontBox_->setEditText(family);
    }
    sizeBox_->setEnabled(enabled("FontSize"));
    const int size = c.value(QStringLiteral("FontSize")).toObject().value(QStringLiteral("value")).toVariant().toInt();
    const int pos = size >= 1 ? size - 1 : -1;
    sizeBox_->setCurrentIndex(pos);
    if (QAction* a = cmd(u"btnShinkFont1Pt")) a->setEnabled(pos > 0);
    if (QAction* a = cmd(u"btnGrowFont1Pt")) a->setEnabled(pos >= 0 && pos < 6);
    const QString block = c.value(QStringLiteral("FormatBlock")).toObject().value(QStringLiteral("value")).toString();
    const int blockAt = styleBox_->findData(block.isEmpty() ? QStringLiteral("p") : block.toLower());
    if (blockAt >= 0) styleBox_->setCurrentIndex(blockAt);
    updating_ = false;
    emit statesApplied();
}

void TEditCommands::enableByTab(int tab) {
    const bool viewing = tab == TabNormal || tab == TabEdit || tab == TabSource;
    const bool editing = tab == TabEdit || tab == TabSource;
    for (const char16_t* n : {u"btnCopy", u"btnSelectAll"})
        if (QAction* a = cmd(n)) a->setEnabled(viewing);
    for (const char16_t* n : {u"btnUndo", u"btnRedo", u"btnCut", u"btnPaste", u"btndelete", u"btnSetCaption"})
        if (QAction* a = cmd(n)) a->setEnabled(editing);
    if (QAction* a = cmd(u"btnSetCaption")) a->setEnabled(tab == TabEdit || tab == TabNormal);
    const bool edit = tab == TabEdit;
    for (const char16_t* n :
         {u"btnDateAndTime",  u"btnLine",        u"btnPicture",        u"btnImageProperty",  u"btnBookMark",
          u"btnInsertAnchor", u"btnFont",        u"btnBold",           u"btnItalic",         u"btnUnderline",
          u"btnFontColor",    u"btnHightlight",  u"btnGrowFont1Pt",    u"btnShinkFont1Pt",   u"btnAlignLeft",
          u"btnCenter",       u"btnAlignRight",  u"btnIncreaseIndent", u"btnDecreaseIndent", u"btnNumberList",
          u"btnBullets",      u"btnDeleteFormat"})
        if (QAction* a = cmd(n)) a->setEnabled(edit);
    for (const char* n : {"btnGrowFontSpace", "btnShinkFontSpace"})
        if (auto* a = findChild<QAction*>(QString::fromLatin1(n))) a->setEnabled(edit);
    fontBox_->setEnabled(edit);
    sizeBox_->setEnabled(edit);
    styleBox_->setEnabled(edit);
    if (QAction* a = cmd(u"btnPrintPreview")) a->setEnabled(tab == TabNormal || tab == TabEdit);
    if (QAction* a = cmd(u"btnPrint")) a->setEnabled(tab == TabNormal || tab == TabEdit);
}

void TEditCommands::onTabChanged(int tab) {
    enableByTab(tab);
    if (tab == TabEdit)
        pane_->editor()->page()->runJavaScript(QStringLiteral("window.zel && zel.report && zel.report()"),
                                               QWebEngineScript::ApplicationWorld);
}

void TEditCommands::buildContextMenus() {
    // The engine's own menu is replaced by ours in the editor and the source memo.
    pane_->editor()->setContextMenuPolicy(Qt::CustomContextMenu);
    connect(pane_->editor(), &QWidget::customContextMenuRequested, this, &TEditCommands::editorMenu);
    pane_->source()->setContextMenuPolicy(Qt::CustomContextMenu);
    connect(pane_->source(), &QWidget::customContextMenuRequested, this, &TEditCommands::sourceMenu);
}

void TEditCommands::editorMenu(const QPoint& pos) {
    QWebEnginePage* page = pane_->editor()->page();
    if (!designOn(page)) return;
    const QString hit = pane_->run(page, QStringLiteral("zel.hitKind(%1, %2)").arg(pos.x()).arg(pos.y())).toString();
    QList<const char16_t*> names;
    if (hit == QLatin1String("IMG"))
        names = {u"btnUndo",  u"btnRedo",   u"btnCut", u"btnCopy",
                 u"btnPaste", u"btndelete", nullptr,   u"btnImageProperty"};
    else if (hit == QLatin1String("TABLE"))
        names = {u"btnUndo",        u"btnRedo",       u"btnCut",        u"btnCopy",
                 u"btnPaste",       u"btnSelectAll",  nullptr,          u"btnInsertRow",
                 u"btnInsertCol",   u"btnSplitCells", u"btnMergeCells", u"btnTableProperty",
                 u"btnCellProperty"};
    else
        names = {u"btnUndo",      u"btnRedo",     u"btnCut",          u"btnCopy",    u"btnPaste",  u"btndelete",
                 u"btnSelectAll", nullptr,        u"btnFont",         u"btnBold",    u"btnItalic", u"btnUnderline",
                 nullptr,         u"btnBookMark", u"btnInsertAnchor", u"btnPicture", nullptr,      u"btnSetCaption"};
    QMenu menu(pane_->editor());
    menu.setObjectName(hit == QLatin1String("IMG")     ? QStringLiteral("pmImage")
                       : hit == QLatin1String("TABLE") ? QStringLiteral("pmTable")
                                                       : QStringLiteral("pmEdit"));
    for (const char16_t* n : names) {
        if (!n)
            menu.addSeparator();
        else if (QAction* a = cmd(n))
            menu.addAction(a);
    }
    menu.exec(pane_->editor()->mapToGlobal(pos));
}

void TEditCommands::sourceMenu(const QPoint& pos) {
    QMenu menu(pane_->source());
    menu.setObjectName(QStringLiteral("pmSource"));
    const QList<const char16_t*> names = {u"btnUndo",  u"btnRedo",     u"btnCut",       u"btnCopy",
                                          u"btnPaste", u"btndelete",   u"btnSelectAll", nullptr,
                                          u"btnFind",  u"btnFindNext", u"btnReplace"};
    for (const char16_t* n : names) {
        if (!n)
            menu.addSeparator();
        else if (QAction* a = cmd(n))
            menu.addAction(a);
    }
    menu.exec(pane_->source()->mapToGlobal(pos));
}

void TEditCommands::fillStatus() {
    Database* db = pane_->database();
    const QString id = pane_->state().nodeId;
    if (!db || id.toLongLong() <= 0) {
        frame_.statusPanel(2)->clear();
        frame_.statusPanel(3)->clear();
        return;
    }
    frame_.statusPanel(3)->setText(GetString(40206) + u':' + QString::number(CountAttachments(*db, id)));
    // The size of the page as shown, in UTF-8; read without waiting, the panel fills when it answers.
    QPointer<QLabel> panel = frame_.statusPanel(2);
    activePage()->runJavaScript(QStringLiteral("new Blob([document.documentElement.outerHTML]).size"),
                                QWebEngineScript::ApplicationWorld, [panel](const QVariant& v) {
                                    if (panel)
                                        panel->setText(GetString(40243) + QStringLiteral(" : ") +
                                                       KiloBytes(v.toLongLong()) + QStringLiteral("KB"));
                                });
}

TEditCommands* AttachEditCommands(TFrmMain& frame, TDocumentPane* pane, TTreePanel* tree) {
    return new TEditCommands(frame, pane, tree);
}

} // namespace zel

#include "TEditCommands.moc"
