#include "editor/ui/TDocumentPane.h"

#include <QAction>
#include <QApplication>
#include <QDateTime>
#include <QDesktopServices>
#include <QDialog>
#include <QDir>
#include <QEventLoop>
#include <QFile>
#include <QFileInfo>
#include <QFileSystemWatcher>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QKeyEvent>
#include <QLabel>
#include <QLayout>
#include <QMessageBox>
#include <QMouseEvent>
#include <QPlainTextEdit>
#include <QProcess>
#include <QRandomGenerator>
#include <QStringDecoder>
#include <QTabBar>
#include <QTabWidget>
#include <QTimer>
#include <QWebChannel>
#include <QWebEngineNavigationRequest>
#include <QWebEnginePage>
#include <QWebEngineProfile>
#include <QWebEngineScript>
#include <QWebEngineScriptCollection>
#include <QWebEngineSettings>
#include <QWebEngineUrlRequestInterceptor>
#include <QWebEngineView>
#include <memory>

#include "editor/LinkUrl.h"
#include "editor/PictureCapture.h"
#include "editor/ui/TFrmDocProperty.h"
#include "editor/ui/TFrmFileDownLoad.h"
#include "editor/ui/TZelNSHandler.h"
#include "platform/Database.h"
#include "platform/Paths.h"
#include "shell/Strings.h"
#include "store/Content.h"
#include "store/Users.h"

static void initEditorResources() {
    Q_INIT_RESOURCE(editor);
}

namespace zel {

namespace {

DocumentAsk defaults() {
    DocumentAsk a;
    a.confirm = [](QWidget* parent, const QString& text) {
        return QMessageBox::question(parent, QApplication::applicationName(), text) == QMessageBox::Yes;
    };
    a.inform = [](QWidget* parent, const QString& text) {
        QMessageBox::information(parent, QApplication::applicationName(), text);
    };
    a.openExternal = [](const QUrl& url) { QDesktopServices::openUrl(url); };
    a.exec = [](QDialog* d) { return d->exec() == QDialog::Accepted; };
    return a;
}

// Stored pages reach nothing outside the knowledge base: no web, no other scheme. Local pictures
// may show (a picture inserted from disk before it is saved); they never leave the machine.
class LinkOnlyInterceptor : public QWebEngineUrlRequestInterceptor {
public:
    using QWebEngineUrlRequestInterceptor::QWebEngineUrlRequestInterceptor;
    void interceptRequest(QWebEngineUrlRequestInfo& info) override {
        const QString scheme = info.requestUrl().scheme().toLower();
        if (scheme == QStringLiteral("link") || scheme == QStringLiteral("data") || scheme == QStringLiteral("blob") ||
            scheme == QStringLiteral("about") || scheme == QStringLiteral("qrc"))
            return;
        if (scheme == QStringLiteral("file") && info.resourceType() == QWebEngineUrlRequestInfo::ResourceTypeImage)
            return;
        info.block(true);
    }
};

// What the program's script in a page talks to.
class Bridge : public QObject {
    Q_OBJECT
public:
    explicit Bridge(TDocumentPane* pane) : QObject(pane), pane_(pane) {}
public slots:
    void modified() { pane_->modifiedByEditor(); }

private:
    TDocumentPane* pane_;
};

QString scriptText(const QString& resource) {
    QFile f(resource);
    if (!f.open(QIODevice::ReadOnly)) return {};
    return QString::fromUtf8(f.readAll());
}

void preparePage(QWebEnginePage* page, QObject* bridge) {
    QWebEngineSettings* s = page->settings();
    // The page's own scripts never run; the program's script runs in its own world.
    s->setAttribute(QWebEngineSettings::JavascriptEnabled, false);
    s->setAttribute(QWebEngineSettings::LocalContentCanAccessRemoteUrls, false);
    s->setAttribute(QWebEngineSettings::PluginsEnabled, false);
    s->setAttribute(QWebEngineSettings::AutoLoadIconsForPage, false);
    page->setUrlRequestInterceptor(new LinkOnlyInterceptor(page));
    auto* channel = new QWebChannel(page);
    channel->registerObject(QStringLiteral("bridge"), bridge);
    page->setWebChannel(channel, QWebEngineScript::ApplicationWorld);
    const QString code = scriptText(QStringLiteral(":/qtwebchannel/qwebchannel.js")) + QStringLiteral("\n") +
                         scriptText(QStringLiteral(":/editor/editor.js"));
    QWebEngineScript script;
    script.setName(QStringLiteral("zel-editor"));
    script.setSourceCode(code);
    script.setWorldId(QWebEngineScript::ApplicationWorld);
    script.setInjectionPoint(QWebEngineScript::DocumentReady);
    script.setRunsOnSubFrames(false);
    page->scripts().insert(script);
}

DocumentSettings settingsFrom(const QVariant& v) {
    const QVariantMap m = v.toMap();
    auto get = [&m](const char* k) { return m.value(QString::fromLatin1(k)).toString(); };
    return {get("background"), get("bgColor"),   get("text"),       get("link"),   get("alink"),
            get("vlink"),      get("topMargin"), get("leftMargin"), get("charset")};
}

// A string as a script literal.
QString jsString(const QString& s) {
    const QByteArray a = QJsonDocument(QJsonArray{s}).toJson(QJsonDocument::Compact);
    return QString::fromUtf8(a.mid(1, a.size() - 2));
}

bool sameDocument(const QString& url, const QString& current) {
    return !current.isEmpty() && (url == current || url.startsWith(current + u'#'));
}

QString withPath(int ident, const QString& path) {
    return GetString(ident).replace(QStringLiteral("%s"), QDir::toNativeSeparators(path));
}

// The file comes back in whatever the external program wrote: a byte-order mark decides, then
// UTF-8 as it was handed out, then the page's own declaration.
QString decodeReturnedHtml(const QByteArray& bytes) {
    if (const auto bom = QStringConverter::encodingForData(bytes)) {
        QStringDecoder d(*bom);
        return d(bytes);
    }
    QStringDecoder utf8(QStringConverter::Utf8);
    const QString text = utf8(bytes);
    if (!utf8.hasError()) return text;
    QStringDecoder html = QStringDecoder::decoderForHtml(bytes);
    if (html.isValid()) return html(bytes);
    return QString::fromLatin1(bytes);
}

} // namespace

// A document handed to the external editor: its folder in the temporary folder, the file, and what
// the file held when it was written or last taken back.
struct TDocumentPane::External {
    QString nodeId, dir, file;
    QByteArray last;
    QPointer<QProcess> process;
    QFileSystemWatcher watcher;
    QTimer settle;
    bool notTaken = false; // changed after its node was left
};

DocumentAsk& DocAsk() {
    static DocumentAsk ask = defaults();
    return ask;
}

void ResetDocAsk() {
    DocAsk() = defaults();
}

TDocumentPane::TDocumentPane(QTabWidget* tabs, QWebEngineView* viewer, QWidget* editPage, QWidget* sourcePage,
                             QObject* parent)
    : QObject(parent), tabs_(tabs), viewer_(viewer) {
    initEditorResources();
    auto* bridge = new Bridge(this);
    viewer_->setObjectName(QStringLiteral("EmbeddedView"));
    viewer_->setAccessibleName(GetString(40204));
    preparePage(viewer_->page(), bridge);

    editor_ = new QWebEngineView(editPage);
    editor_->setObjectName(QStringLiteral("EmbeddedEdit"));
    editor_->setAccessibleName(GetString(46002));
    preparePage(editor_->page(), bridge);
    if (!editPage->layout()) new QVBoxLayout(editPage);
    editPage->layout()->setContentsMargins(0, 0, 0, 0);
    editPage->layout()->addWidget(editor_);

    source_ = new QPlainTextEdit(sourcePage);
    source_->setObjectName(QStringLiteral("RvSource"));
    source_->setAccessibleName(GetString(40205));
    source_->setLineWrapMode(QPlainTextEdit::NoWrap);
    if (!sourcePage->layout()) new QVBoxLayout(sourcePage);
    sourcePage->layout()->setContentsMargins(0, 0, 0, 0);
    sourcePage->layout()->addWidget(source_);

    TZelNSHandler::instance().setProvider(this, {[this] { return db_; },
                                                 [this] {
                                                     CurrentLinkDocument c{st_.url, st_.nodeId, {}};
                                                     // Until a view has been given a prepared copy, the store answers.
                                                     if (st_.contentSource != ContentSource::Store)
                                                         c.html = [this] { return serving_; };
                                                     return c;
                                                 }});

    // Links the user clicks in the viewer open their targets; the program's own loads go through,
    // anything else a stored page would start (a refresh, a redirect) is stopped.
    for (QWebEnginePage* page : {viewer_->page(), editor_->page()}) {
        connect(page, &QWebEnginePage::navigationRequested, this, [this, page](QWebEngineNavigationRequest& r) {
            const QString url = DecodeLinkUrl(r.url().toString(QUrl::FullyEncoded));
            if (!r.isMainFrame()) {
                if (r.url().scheme() != QStringLiteral("link")) r.reject();
                return;
            }
            if (r.navigationType() == QWebEngineNavigationRequest::LinkClickedNavigation) {
                if (sameDocument(url, st_.url)) return; // anchors of this document scroll in place
                r.reject();
                if (url.contains(QStringLiteral("about:blank"))) return;
                if (page == viewer_->page()) {
                    const QString target = r.url().toString(QUrl::FullyEncoded);
                    QTimer::singleShot(0, this, [this, target] { openUrl(target); });
                }
                return;
            }
            // Only the current document, and pages the program writes itself, load without a click.
            const QString scheme = r.url().scheme().toLower();
            const bool own = scheme == QStringLiteral("data") || scheme == QStringLiteral("about") ||
                             scheme == QStringLiteral("qrc");
            if (!own && !(scheme == QStringLiteral("link") && sameDocument(url, st_.url))) r.reject();
        });
        connect(page, &QWebEnginePage::loadFinished, this, [this, page](bool ok) { onLoaded(page, ok); });
    }

    connect(source_, &QPlainTextEdit::textChanged, this, [this] {
        if (st_.nodeId.toLongLong() <= 0) return;
        ApplyDocumentEvent(st_, DocumentEvent::SourceEdited);
        markModified(true);
    });
    tab_ = tabs_->currentIndex();
    connect(tabs_, &QTabWidget::currentChanged, this, &TDocumentPane::onTabChanged);
    // The user's own ways of changing tabs pass the refusals first; the program's own switches do not.
    tabs_->tabBar()->installEventFilter(this);
    tabs_->installEventFilter(this);
}

TDocumentPane::~TDocumentPane() {
    endExternal();
    TZelNSHandler::instance().clearProvider(this);
}

bool TDocumentPane::tabChangeAllowed() const {
    if (!db_ || st_.nodeId.isEmpty()) return false;
    if (st_.nodeId.toLongLong() > 0) return true;
    const int tab = tabs_->currentIndex();
    return tab == TabFileList || tab == TabSearch;
}

bool TDocumentPane::eventFilter(QObject* watched, QEvent* event) {
    QTabBar* bar = tabs_->tabBar();
    if (watched != bar && watched != tabs_) return false;
    switch (event->type()) {
    case QEvent::MouseButtonPress:
    case QEvent::MouseButtonDblClick: {
        if (watched != bar) return false;
        const int at = bar->tabAt(static_cast<QMouseEvent*>(event)->position().toPoint());
        return at >= 0 && at != bar->currentIndex() && !tabChangeAllowed();
    }
    case QEvent::Wheel:
        return watched == bar && !tabChangeAllowed();
    case QEvent::KeyPress: {
        const auto* k = static_cast<QKeyEvent*>(event);
        const int key = k->key();
        const bool moves =
            watched == bar
                ? (key == Qt::Key_Left || key == Qt::Key_Right || key == Qt::Key_Up || key == Qt::Key_Down ||
                   key == Qt::Key_Home || key == Qt::Key_End)
                : ((k->modifiers() & Qt::ControlModifier) &&
                   (key == Qt::Key_Tab || key == Qt::Key_Backtab || key == Qt::Key_PageUp || key == Qt::Key_PageDown));
        return moves && !tabChangeAllowed();
    }
    default:
        return false;
    }
}

void TDocumentPane::setStatusPanels(QLabel* activity, QLabel* loadTime) {
    activity_ = activity;
    loadTime_ = loadTime;
}

void TDocumentPane::setSaveAction(QAction* save) {
    save_ = save;
    if (save_) {
        save_->setEnabled(st_.modified);
        connect(save_, &QAction::triggered, this, [this] { saveDocument(); });
    }
}

void TDocumentPane::setActivity(const QString& text) {
    if (activity_) activity_->setText(text);
}

QVariant TDocumentPane::run(QWebEnginePage* page, const QString& script) {
    struct Wait {
        QVariant value;
        bool done = false;
        QEventLoop loop;
    };
    auto w = std::make_shared<Wait>();
    page->runJavaScript(script, QWebEngineScript::ApplicationWorld, [w](const QVariant& v) {
        w->value = v;
        w->done = true;
        w->loop.quit();
    });
    if (!w->done) {
        QTimer::singleShot(15000, &w->loop, &QEventLoop::quit);
        w->loop.exec();
    }
    return w->value;
}

void TDocumentPane::load(QWebEngineView* view) {
    loadStarted_ = QDateTime::currentMSecsSinceEpoch();
    setActivity(QStringLiteral("Read Document,Please Wait..."));
    const QUrl url(EncodeLinkUrlForEngine(st_.url));
    if (view->url() == url)
        view->reload();
    else
        view->load(url);
}

void TDocumentPane::openNode(const QString& id, const QString& url, bool edit) {
    // A file out with the desktop's handler belongs to the document it was made from.
    if (ext_ && !ext_->process && ext_->nodeId != id) {
        checkExternal(true);
        endExternal();
    }
    st_.nodeId = id;
    st_.pendingAnchor.clear();
    serving_.clear();
    viewerHtml_.clear();
    markModified(false);
    if (id.toLongLong() <= 0 || !db_) {
        st_.url.clear();
        st_.contentSource = ContentSource::Store;
        run(editor_->page(), QStringLiteral("window.zel && zel.clear()"));
        return;
    }
    QString u = url.isEmpty() ? DocumentUrlForNode(*db_, id) : url;
    u = DecodeLinkUrl(u);
    if (const qsizetype hash = u.indexOf(QStringLiteral(".htm#"), 0, Qt::CaseInsensitive); hash >= 0) {
        st_.pendingAnchor = u.mid(hash + 5);
        u = u.left(hash + 4);
    }
    st_.url = u;
    loading_ = true;
    const bool inEditor = edit || editMode_;
    ApplyDocumentEvent(st_, inEditor ? DocumentEvent::OpenedInEditor : DocumentEvent::OpenedInViewer);
    // The store answers both views until one of them has edits.
    serving_ = ReadDocumentContent(*db_, id);
    if (inEditor) {
        editor_->stop();
        load(editor_);
        tabs_->setCurrentIndex(TabEdit);
    } else {
        viewerHtml_ = serving_;
        load(viewer_);
        if (tabs_->currentIndex() != TabFileList) tabs_->setCurrentIndex(TabNormal);
    }
    tab_ = tabs_->currentIndex();
    loading_ = false;
}

void TDocumentPane::onLoaded(QWebEnginePage* page, bool ok) {
    if (st_.nodeId.toLongLong() <= 0) return;
    if (loadTime_)
        loadTime_->setText(GetString(40303) + QStringLiteral(":") +
                           QString::number((QDateTime::currentMSecsSinceEpoch() - loadStarted_) / 1000.0, 'f', 2) +
                           QStringLiteral(" ") + GetString(40304));
    setActivity(GetString(40302));
    // Asynchronous: a nested wait inside the engine's own load signal is not always answered.
    const bool inEditor = page == editor_->page();
    QString script = inEditor ? QStringLiteral("zel.startEditing();") : QString();
    if (!st_.pendingAnchor.isEmpty())
        script += QStringLiteral("zel.scrollToAnchor(%1);").arg(jsString(st_.pendingAnchor));
    st_.pendingAnchor.clear();
    if (script.isEmpty()) {
        emit documentLoaded(ok);
        return;
    }
    page->runJavaScript(script + (inEditor ? QStringLiteral("zel.settings()") : QStringLiteral("true")),
                        QWebEngineScript::ApplicationWorld,
                        [this, ok, inEditor, guard = QPointer<TDocumentPane>(this)](const QVariant& v) {
                            if (!guard) return;
                            if (inEditor) emit settingsRead(settingsFrom(v));
                            emit documentLoaded(ok);
                        });
}

QByteArray TDocumentPane::editorHtml() {
    return run(editor_->page(), QStringLiteral("zel.html()")).toString().toUtf8();
}

void TDocumentPane::prepareServing(ContentSource source) {
    switch (source) {
    case ContentSource::Store:
        serving_ = ReadDocumentContent(*db_, st_.nodeId);
        break;
    case ContentSource::Editor:
        serving_ = editorHtml();
        break;
    case ContentSource::Source:
        serving_ = source_->toPlainText().toUtf8();
        break;
    case ContentSource::Viewer:
        serving_ = viewerHtml_;
        break;
    }
}

void TDocumentPane::onTabChanged(int tab) {
    const int old = tab_;
    tab_ = tab;
    if (loading_ || old == tab || st_.nodeId.toLongLong() <= 0 || !db_) return;
    LeaveTab(st_, old);
    if (tab == TabNormal) {
        const TabSync sync = ApplyDocumentEvent(st_, DocumentEvent::EnterNormal);
        if (sync.reloadViewer) {
            prepareServing(st_.contentSource);
            viewerHtml_ = serving_;
            load(viewer_);
        }
    } else if (tab == TabEdit) {
        const TabSync sync = ApplyDocumentEvent(st_, DocumentEvent::EnterEdit);
        if (sync.reloadEditor) {
            prepareServing(st_.contentSource);
            load(editor_);
        }
    } else if (tab == TabSource) {
        const TabSync sync = ApplyDocumentEvent(st_, DocumentEvent::EnterSource);
        if (sync.fillSource) {
            const QByteArray html = sync.sourceFromEditor ? editorHtml() : viewerHtml_;
            const QSignalBlocker quiet(source_);
            source_->setPlainText(QString::fromUtf8(html));
        }
    }
}

void TDocumentPane::modifiedByEditor() {
    if (st_.nodeId.toLongLong() <= 0) return;
    ApplyDocumentEvent(st_, DocumentEvent::Modified);
    markModified(true);
}

void TDocumentPane::markModified(bool on) {
    const bool was = st_.modified;
    st_.modified = on;
    if (save_) save_->setEnabled(on);
    if (was != on) emit modifiedChanged(on);
}

bool TDocumentPane::leaveDocument(bool ask) {
    if (!st_.modified || st_.nodeId.toLongLong() <= 0) {
        markModified(false);
        return true;
    }
    if (ask && !DocAsk().confirm(tabs_->window(), GetString(40309))) {
        // "No": the edits go.
        markModified(false);
        run(editor_->page(), QStringLiteral("window.zel && zel.clear()"));
        return true;
    }
    return saveDocument();
}

bool TDocumentPane::capturePictures(bool allPictures) {
    const QVariantList list = run(editor_->page(), QStringLiteral("zel.pictures()")).toList();
    QList<PictureInfo> pictures;
    for (const QVariant& v : list) {
        const QVariantMap m = v.toMap();
        pictures << PictureInfo{m.value(QStringLiteral("index")).toInt(), m.value(QStringLiteral("src")).toString(),
                                m.value(QStringLiteral("save")).toString()};
    }
    QList<CaptureRow> rows = CaptureCandidates(pictures, allPictures);
    if (rows.isEmpty()) return false;
    TFrmFileDownLoad dialog(tabs_->window());
    dialog.setRows(rows);
    if (!DocAsk().exec(&dialog)) return false;
    rows = dialog.rows();
    const QList<CaptureResult> results = dialog.fetch(*db_, st_.nodeId);
    for (const CaptureResult& r : results) {
        if (r.attachmentId.isEmpty()) continue;
        QStringList indices;
        for (int i : r.pictures)
            indices << QString::number(i);
        run(editor_->page(), QStringLiteral("zel.setSource([%1], %2)")
                                 .arg(indices.join(u','), jsString(QString::fromUtf16(kCidPrefix) + r.attachmentId)));
    }
    return true;
}

bool TDocumentPane::downloadAllPictures() {
    if (!db_ || st_.nodeId.toLongLong() <= 0 || tabs_->currentIndex() != TabEdit) return false;
    if (!capturePictures(true)) return false;
    ApplyDocumentEvent(st_, DocumentEvent::Modified);
    markModified(true);
    return true;
}

DocumentSettings TDocumentPane::currentSettings() {
    return settingsFrom(run(editor_->page(), QStringLiteral("zel.settings()")));
}

void TDocumentPane::documentProperty() {
    if (!db_ || st_.nodeId.toLongLong() <= 0 || tabs_->currentIndex() != TabEdit) return;
    TFrmDocProperty dialog(db_, currentSettings(), tabs_->window());
    connect(&dialog, &TFrmDocProperty::applied, this, &TDocumentPane::applySettings);
    DocAsk().exec(&dialog);
}

void TDocumentPane::applySettings(const DocumentSettings& s) {
    if (st_.nodeId.toLongLong() <= 0) return;
    QJsonObject o{{QStringLiteral("background"), s.background},
                  {QStringLiteral("bgColor"), s.bgColor},
                  {QStringLiteral("text"), s.text},
                  {QStringLiteral("link"), s.link},
                  {QStringLiteral("alink"), s.alink},
                  {QStringLiteral("vlink"), s.vlink},
                  {QStringLiteral("topMargin"), s.topMargin},
                  {QStringLiteral("leftMargin"), s.leftMargin},
                  {QStringLiteral("charset"), s.charset}};
    run(editor_->page(), QStringLiteral("zel.applySettings(%1)")
                             .arg(QString::fromUtf8(QJsonDocument(o).toJson(QJsonDocument::Compact))));
    ApplyDocumentEvent(st_, DocumentEvent::Modified);
    markModified(true);
}

QByteArray TDocumentPane::activeHtml(bool capture) {
    int from = tabs_->currentIndex();
    if (from != TabNormal && from != TabEdit && from != TabSource) from = st_.lastEditTab;
    if (from == TabSource && st_.sourceStale) from = st_.editorStale ? TabNormal : TabEdit;
    if (from == TabEdit && st_.editorStale) from = TabNormal;
    QByteArray html;
    if (from == TabEdit) {
        if (capture) capturePictures(false);
        html = editorHtml();
    } else if (from == TabSource) {
        html = source_->toPlainText().toUtf8();
    } else {
        html = viewerHtml_;
    }
    return html;
}

bool TDocumentPane::saveDocument() {
    if (!db_ || st_.nodeId.toLongLong() <= 0) return false;
    setActivity(QStringLiteral("Save Document,Please Wait..."));
    const QByteArray html = activeHtml(true);
    const bool ok = !html.isEmpty() && WriteDocumentText(*db_, st_.nodeId, QString::fromUtf8(html));
    setActivity(GetString(40302));
    if (!ok) {
        // The edits stay; only a store that took them clears the flag.
        DocAsk().inform(tabs_->window(), QStringLiteral("The document could not be saved. Your changes are kept; "
                                                        "try again or copy them elsewhere."));
        markModified(true);
        return false;
    }
    markModified(false);
    emit saved(st_.nodeId);
    return true;
}

QString TDocumentPane::externalFile() const {
    return ext_ ? ext_->file : QString();
}

bool TDocumentPane::externalEdit() {
    if (!db_ || st_.nodeId.toLongLong() <= 0) return false;
    if (ext_ && ext_->process) {
        // One program at a time: its file is still being worked on.
        DocAsk().inform(tabs_->window(), withPath(41394, ext_->file));
        return false;
    }
    endExternal();
    const QByteArray html = activeHtml(false);
    QDir().mkpath(tempFolder());
    QString dir;
    for (int i = 0; i < 50 && dir.isEmpty(); ++i) {
        const QString d =
            tempFolder() + st_.nodeId + u'_' + QString::number(QRandomGenerator::global()->bounded(10000));
        if (!QFileInfo::exists(d) && QDir().mkdir(d)) dir = d;
    }
    const QString file = (dir.isEmpty() ? tempFolder() + st_.nodeId : dir + u'/' + st_.nodeId) + QStringLiteral(".htm");
    // The mark says UTF-8 even where the page declares another character set.
    const QByteArray bytes = QByteArrayLiteral("\xEF\xBB\xBF") + html;
    QFile f(file);
    if (dir.isEmpty() || !f.open(QIODevice::WriteOnly) || f.write(bytes) != bytes.size() || !f.flush()) {
        f.close();
        if (!dir.isEmpty()) QDir(dir).removeRecursively();
        DocAsk().inform(tabs_->window(), withPath(41393, file));
        return false;
    }
    f.close();

    auto ext = std::make_unique<External>();
    ext->nodeId = st_.nodeId;
    ext->dir = dir;
    ext->file = file;
    ext->last = bytes;
    ext->settle.setSingleShot(true);
    ext->settle.setInterval(100);
    connect(&ext->settle, &QTimer::timeout, this, [this] { checkExternal(false); });
    QTimer* settle = &ext->settle;
    auto changed = [settle](const QString&) { settle->start(); };
    connect(&ext->watcher, &QFileSystemWatcher::fileChanged, this, changed);
    connect(&ext->watcher, &QFileSystemWatcher::directoryChanged, this, changed);
    ext->watcher.addPath(file);
    ext->watcher.addPath(dir);

    QString program = CurrentUser().externalEditor.trimmed();
    // The stored default names a program of another system; the desktop's handler stands in for it.
    if (program.compare(QStringLiteral("FRONTPG.EXE"), Qt::CaseInsensitive) == 0) program.clear();
    if (program.isEmpty()) {
        ext_ = std::move(ext);
        DocAsk().openExternal(QUrl::fromLocalFile(file));
        return true;
    }
    QStringList args = QProcess::splitCommand(program);
    auto* p = new QProcess(this);
    p->setProgram(args.isEmpty() ? program : args.takeFirst());
    p->setArguments(args << file);
    p->setProcessChannelMode(QProcess::ForwardedChannels);
    connect(p, &QProcess::finished, this, [this, p] {
        if (ext_ && ext_->process == p) {
            checkExternal(true);
            endExternal();
        }
        p->deleteLater();
    });
    connect(p, &QProcess::errorOccurred, this, [this, p](QProcess::ProcessError e) {
        if (e != QProcess::FailedToStart) return;
        if (ext_ && ext_->process == p) endExternal();
        DocAsk().inform(tabs_->window(), withPath(41390, p->program()));
        p->deleteLater();
    });
    ext->process = p;
    ext_ = std::move(ext);
    p->start();
    return true;
}

void TDocumentPane::checkExternal(bool final) {
    if (!ext_) return;
    // Programs that save by replacing the file drop it from the watch.
    if (!ext_->watcher.files().contains(ext_->file) && QFileInfo::exists(ext_->file)) ext_->watcher.addPath(ext_->file);
    QFile f(ext_->file);
    QByteArray bytes;
    const bool read = f.open(QIODevice::ReadOnly);
    if (read) bytes = f.readAll();
    if (bytes == ext_->last) return;
    // A file that is gone or empty takes nothing: the pane keeps what it has.
    if (!read || bytes.isEmpty() || f.error() != QFileDevice::NoError) {
        if (final) DocAsk().inform(tabs_->window(), withPath(41391, ext_->file));
        return;
    }
    if (ext_->nodeId != st_.nodeId) {
        ext_->notTaken = true;
        if (final) DocAsk().inform(tabs_->window(), withPath(41392, ext_->file));
        return;
    }
    ext_->last = bytes;
    ext_->notTaken = false;
    takeExternalHtml(decodeReturnedHtml(bytes));
}

void TDocumentPane::endExternal() {
    if (!ext_) return;
    std::unique_ptr<External> ext = std::move(ext_);
    if (QProcess* p = ext->process) {
        // The user's program keeps running with its file; closing the document does not close it.
        if (p->state() != QProcess::NotRunning) {
            p->disconnect(this);
            p->setParent(nullptr);
            connect(p, &QProcess::finished, p, &QObject::deleteLater);
            return;
        }
    }
    QFile f(ext->file);
    const bool unread = ext->notTaken || (f.open(QIODevice::ReadOnly) && f.readAll() != ext->last);
    f.close();
    // Changes that never reached a document stay on disk.
    if (!unread && !ext->dir.isEmpty()) QDir(ext->dir).removeRecursively();
}

void TDocumentPane::takeExternalHtml(const QString& html) {
    {
        const QSignalBlocker quiet(source_);
        source_->setPlainText(html);
    }
    // The returned file is the document now, as if typed into the source view.
    ApplyDocumentEvent(st_, DocumentEvent::SourceEdited);
    st_.sourceStale = false;
    st_.lastEditTab = TabSource;
    st_.contentSource = ContentSource::Source;
    markModified(true);
    serving_ = html.toUtf8();
    const int tab = tabs_->currentIndex();
    if (tab == TabNormal) {
        viewerHtml_ = serving_;
        st_.viewerStale = false;
        load(viewer_);
    } else if (tab == TabEdit) {
        st_.editorStale = false;
        load(editor_);
    }
}

void TDocumentPane::openAttachment(const QString& nodeId, const QString& fileName) {
    QDir().mkpath(tempFolder());
    const QString path = tempFolder() + SafeAttachmentFileName(fileName);
    if (ExportAttachmentToFile(*db_, nodeId, fileName, path) <= 0) {
        DocAsk().inform(tabs_->window(), GetString(41003));
        return;
    }
    DocAsk().openExternal(QUrl::fromLocalFile(path));
}

void TDocumentPane::openUrl(const QString& url) {
    if (!db_) return;
    const LinkTarget t = ResolveLinkNavigation(*db_, url, st_.url);
    switch (t.kind) {
    case LinkTarget::External:
        DocAsk().openExternal(QUrl(t.url));
        return;
    case LinkTarget::Refused:
        return;
    case LinkTarget::NotFound:
        DocAsk().inform(tabs_->window(), GetString(40308));
        return;
    case LinkTarget::Attachment:
        openAttachment(t.nodeId, t.fileName);
        return;
    case LinkTarget::ScrollOnly: {
        QWebEngineView* view = tabs_->currentIndex() == TabEdit ? editor_ : viewer_;
        run(view->page(), QStringLiteral("zel.scrollToAnchor(%1)").arg(jsString(t.anchor)));
        return;
    }
    case LinkTarget::Document: {
        const QString target = t.anchor.isEmpty() ? t.documentUrl : t.documentUrl + u'#' + t.anchor;
        if (opener_) {
            opener_(t.nodeId, target);
        } else if (leaveDocument()) {
            openNode(t.nodeId, target);
        }
        return;
    }
    }
}

} // namespace zel

#include "TDocumentPane.moc"
