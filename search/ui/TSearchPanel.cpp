#include "search/ui/TSearchPanel.h"

#include <QCheckBox>
#include <QComboBox>
#include <QCoreApplication>
#include <QEvent>
#include <QEventLoop>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QStatusBar>
#include <QTabWidget>
#include <QToolButton>
#include <QTreeWidget>
#include <QVBoxLayout>
#include <QWebEngineFindTextResult>
#include <QWebEnginePage>
#include <QWebEngineSettings>
#include <QWebEngineView>

#include "editor/DocumentState.h"
#include "editor/ui/TDocumentPane.h"
#include "platform/Database.h"
#include "search/SearchText.h"
#include "search/TSearchSession.h"
#include "shell/Strings.h"
#include "shell/ui/TFrmMain.h"
#include "store/DocumentUnlocks.h"
#include "tree/ui/TTreePanel.h"
#include "tree/ui/TfrmSelectNode.h"
#include "tree/ui/TreeAsk.h"
#include "tree/ui/TvMain.h"

namespace zel {

namespace {

constexpr int kBuildingIndexText = 41402;
const QLatin1StringView kDateFormat("yyyy/MM/dd");
const QLatin1StringView kResultPrefix("link://document/");

// The result view: its own pages run no script; a click on a result link opens the node instead of
// navigating, and nothing else leaves the page.
class TSearchResultPage : public QWebEnginePage {
public:
    TSearchResultPage(std::function<void(const QString&)> open, QObject* parent)
        : QWebEnginePage(parent), open_(std::move(open)) {
        settings()->setAttribute(QWebEngineSettings::JavascriptEnabled, false);
        settings()->setAttribute(QWebEngineSettings::AutoLoadImages, false);
    }

protected:
    bool acceptNavigationRequest(const QUrl& url, NavigationType type, bool isMainFrame) override {
        if (type == NavigationTypeLinkClicked) {
            const QString target = url.toString();
            if (target.startsWith(kResultPrefix, Qt::CaseInsensitive)) {
                const QString id = target.mid(kResultPrefix.size()).section(u'/', 0, 0);
                if (!id.isEmpty()) open_(id);
            }
            return false;
        }
        // Only the pages this panel writes (setHtml) are shown.
        return isMainFrame && (url.scheme() == QLatin1StringView("data") || url.isEmpty() ||
                               url.scheme() == QLatin1StringView("about"));
    }

private:
    std::function<void(const QString&)> open_;
};

QLineEdit* dateEdit(QWidget* parent, const QString& name) {
    auto* e = new QLineEdit(parent);
    e->setObjectName(name);
    e->setInputMask(QStringLiteral("9999/99/99; "));
    e->setText(QDate::currentDate().toString(kDateFormat));
    return e;
}

} // namespace

TRollUpPanel::TRollUpPanel(QWidget* parent) : QWidget(parent) {
    auto* v = new QVBoxLayout(this);
    v->setContentsMargins(0, 0, 0, 0);
    v->setSpacing(2);
    header_ = new QToolButton(this);
    header_->setCheckable(true);
    header_->setChecked(true);
    header_->setToolButtonStyle(Qt::ToolButtonTextBesideIcon);
    header_->setArrowType(Qt::DownArrow);
    header_->setAutoRaise(true);
    header_->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
    body_ = new QWidget(this);
    v->addWidget(header_);
    v->addWidget(body_);
    connect(header_, &QToolButton::toggled, this, [this](bool open) { setRolledUp(!open); });
}

bool TRollUpPanel::isRolledUp() const {
    return body_->isHidden();
}

void TRollUpPanel::setRolledUp(bool up) {
    body_->setHidden(up);
    header_->setArrowType(up ? Qt::RightArrow : Qt::DownArrow);
    if (header_->isChecked() == up) header_->setChecked(!up);
}

TSearchPanel::TSearchPanel(TFrmMain& frame, TTreePanel& tree, TDocumentPane* pane)
    : QObject(&frame), frame_(frame), tree_(tree), pane_(pane), historyPath_(SearchHistoryPath()) {
    buildSearchPage(frame.searchPage());
    buildResultPage(frame.searchResultPage());
    SearchBar = new QProgressBar(&frame);
    SearchBar->setObjectName(QStringLiteral("SearchBar"));
    SearchBar->setRange(0, 100);
    SearchBar->setMaximumWidth(160);
    SearchBar->hide();
    frame.statusBar()->addPermanentWidget(SearchBar);
    captions_.apply();
    nameUncaptioned();
    history_ = ReadSearchHistory(historyPath_);
    edtSearch->addItems(history_);
    edtSearch->setCurrentIndex(-1);
    updatePageLabel();
    updateEnabling();
    connect(&frame, &TFrmMain::languageChanged, this, [this] {
        captions_.apply();
        nameUncaptioned();
        updatePageLabel();
    });
}

void TSearchPanel::nameUncaptioned() {
    edtSearch->setAccessibleName(PlainCaption(GetString(40207)));
    edtSearch->lineEdit()->setPlaceholderText(GetString(40207));
    edtSearchNode->setAccessibleName(PlainCaption(GetString(41401)));
    btnSearchNode->setAccessibleName(PlainCaption(GetString(41401)));
    TvSearch->setAccessibleName(PlainCaption(GetString(40202)));
    SearchEdit->setAccessibleName(PlainCaption(GetString(40202)));
    if (SearchBar) SearchBar->setAccessibleName(PlainCaption(GetString(41186)));
}

TSearchPanel* AttachSearch(TFrmMain& frame, TTreePanel& tree, TDocumentPane* pane) {
    auto* panel = new TSearchPanel(frame, tree, pane);
    QObject::connect(&frame, &TFrmMain::sessionOpened, panel,
                     [panel](Database& db, const QString&) { panel->openSession(db); });
    QObject::connect(&frame, &TFrmMain::sessionClosing, panel, [panel] { panel->closeSession(); });
    QObject::connect(&frame, &TFrmMain::shuttingDown, panel, [panel] {
        panel->closeSession();
        panel->writeHistory();
    });
    if (frame.sessionOpen()) panel->openSession(frame.database());
    return panel;
}

TSearchPanel::~TSearchPanel() {
    // The window's widgets may be gone by now: only the workers and the file.
    if (session_) session_->stopAll();
    session_.reset();
    writeHistory();
}

void TSearchPanel::buildSearchPage(QWidget* page) {
    QWidget* w = page;
    auto* v = qobject_cast<QVBoxLayout*>(page->layout());
    if (!v) v = new QVBoxLayout(page);

    auto* row = new QHBoxLayout;
    edtSearch = new QComboBox(w);
    edtSearch->setObjectName(QStringLiteral("edtSearch"));
    edtSearch->setEditable(true);
    edtSearch->setInsertPolicy(QComboBox::NoInsert);
    edtSearch->setMaxCount(2000);
    edtSearch->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
    btnSearch = new QPushButton(w);
    btnSearch->setObjectName(QStringLiteral("btnSearch"));
    btnStop = new QPushButton(w);
    btnStop->setObjectName(QStringLiteral("btnStop"));
    btnStop->setEnabled(false);
    captions_.text(btnSearch, 40208);
    captions_.text(btnStop, 41187);
    row->addWidget(edtSearch, 1);
    row->addWidget(btnSearch);
    row->addWidget(btnStop);
    v->addLayout(row);

    pnlRange = new TRollUpPanel(w);
    pnlRange->setObjectName(QStringLiteral("pnlRange"));
    captions_.text(pnlRange->header(), 41025);
    auto* rv = new QVBoxLayout(pnlRange->body());
    rv->setContentsMargins(8, 0, 0, 0);
    chkContent = new QCheckBox(pnlRange->body());
    chkContent->setObjectName(QStringLiteral("chkContent"));
    chkFullName = new QCheckBox(pnlRange->body());
    chkFullName->setObjectName(QStringLiteral("chkFullName"));
    chkFullName->setChecked(true);
    chkKavrel = new QCheckBox(pnlRange->body());
    chkKavrel->setObjectName(QStringLiteral("chkKavrel"));
    chkKavrel->setChecked(true);
    chkKavrel->setEnabled(false);
    chkInternet = new QCheckBox(pnlRange->body());
    chkInternet->setObjectName(QStringLiteral("chkInternet"));
    chkInternet->setEnabled(false);
    chkSearchNode = new QCheckBox(pnlRange->body());
    chkSearchNode->setObjectName(QStringLiteral("chkSearchNode"));
    captions_.text(chkContent, 40209);
    captions_.text(chkFullName, 41400);
    captions_.text(chkKavrel, 40210);
    captions_.text(chkInternet, 40211);
    captions_.text(chkSearchNode, 41401);
    auto* nodeRow = new QHBoxLayout;
    edtSearchNode = new QLineEdit(QStringLiteral("/"), pnlRange->body());
    edtSearchNode->setObjectName(QStringLiteral("edtSearchNode"));
    edtSearchNode->setReadOnly(true);
    btnSearchNode = new QPushButton(QStringLiteral("..."), pnlRange->body());
    btnSearchNode->setObjectName(QStringLiteral("btnSearchNode"));
    btnSearchNode->setMaximumWidth(32);
    nodeRow->addWidget(edtSearchNode, 1);
    nodeRow->addWidget(btnSearchNode);
    for (QWidget* c :
         {static_cast<QWidget*>(chkContent), static_cast<QWidget*>(chkFullName), static_cast<QWidget*>(chkKavrel),
          static_cast<QWidget*>(chkInternet), static_cast<QWidget*>(chkSearchNode)})
        rv->addWidget(c);
    rv->addLayout(nodeRow);
    v->addWidget(pnlRange);

    pnlCondition = new TRollUpPanel(w);
    pnlCondition->setObjectName(QStringLiteral("pnlCondition"));
    captions_.text(pnlCondition->header(), 40593);
    auto* cv = new QVBoxLayout(pnlCondition->body());
    cv->setContentsMargins(8, 0, 0, 0);
    chkCase = new QCheckBox(pnlCondition->body());
    chkCase->setObjectName(QStringLiteral("chkCase"));
    captions_.text(chkCase, 41191);
    cv->addWidget(chkCase);
    auto dateRange = [&](QCheckBox*& check, const QString& name, int ident, QLineEdit*& begin, QLineEdit*& end,
                         const QString& beginName, const QString& endName) {
        check = new QCheckBox(pnlCondition->body());
        check->setObjectName(name);
        captions_.text(check, ident);
        cv->addWidget(check);
        auto* r = new QHBoxLayout;
        auto* lb = new QLabel(pnlCondition->body());
        auto* le = new QLabel(pnlCondition->body());
        begin = dateEdit(pnlCondition->body(), beginName);
        end = dateEdit(pnlCondition->body(), endName);
        captions_.field(lb, begin, 40215);
        captions_.field(le, end, 40216);
        r->addWidget(lb);
        r->addWidget(begin, 1);
        r->addWidget(le);
        r->addWidget(end, 1);
        cv->addLayout(r);
        begin->installEventFilter(this);
        end->installEventFilter(this);
    };
    dateRange(chkCreateDate, QStringLiteral("chkCreateDate"), 40213, edtBeginCreateDate, edtEndCreateDate,
              QStringLiteral("edtBeginCreateDate"), QStringLiteral("edtEndCreateDate"));
    dateRange(chkLastDate, QStringLiteral("chkLastDate"), 40214, edtBeginLastDate, edtEndLastDate,
              QStringLiteral("edtBeginLastDate"), QStringLiteral("edtEndLastDate"));
    auto* ownerRow = new QHBoxLayout;
    auto* lo = new QLabel(pnlCondition->body());
    edtOwner = new QLineEdit(pnlCondition->body());
    edtOwner->setObjectName(QStringLiteral("edtOwner"));
    captions_.field(lo, edtOwner, 40437);
    ownerRow->addWidget(lo);
    ownerRow->addWidget(edtOwner, 1);
    cv->addLayout(ownerRow);
    v->addWidget(pnlCondition);

    TvSearch = new QTreeWidget(w);
    TvSearch->setObjectName(QStringLiteral("TvSearch"));
    TvSearch->setColumnCount(3);
    TvSearch->setRootIsDecorated(false);
    TvSearch->setUniformRowHeights(true);
    TvSearch->setColumnWidth(0, 200);
    TvSearch->setColumnWidth(1, 250);
    TvSearch->setColumnWidth(2, 120);
    captions_.header(TvSearch, 0, 41192);
    captions_.header(TvSearch, 1, 40465);
    captions_.header(TvSearch, 2, 40242);
    v->addWidget(TvSearch, 1);

    connect(btnSearch, &QPushButton::clicked, this, &TSearchPanel::SerachAllText);
    connect(btnStop, &QPushButton::clicked, this, &TSearchPanel::stop);
    connect(edtSearch->lineEdit(), &QLineEdit::returnPressed, this, &TSearchPanel::SerachAllText);
    connect(btnSearchNode, &QPushButton::clicked, this, &TSearchPanel::chooseSubtree);
    for (QCheckBox* c : {chkSearchNode, chkCreateDate, chkLastDate})
        connect(c, &QCheckBox::toggled, this, &TSearchPanel::updateEnabling);
    connect(TvSearch, &QTreeWidget::itemDoubleClicked, this, [this](QTreeWidgetItem* item) { onResultItem(item); });
}

void TSearchPanel::buildResultPage(QWidget* page) {
    auto* v = qobject_cast<QVBoxLayout*>(page->layout());
    if (!v) v = new QVBoxLayout(page);
    PnlSearchTitle = new QWidget(page);
    PnlSearchTitle->setObjectName(QStringLiteral("PnlSearchTitle"));
    auto* h = new QHBoxLayout(PnlSearchTitle);
    h->setContentsMargins(4, 2, 4, 2);
    lblSearchPage = new QLabel(PnlSearchTitle);
    lblSearchPage->setObjectName(QStringLiteral("lblSearchPage"));
    btnPrev = new QPushButton(PnlSearchTitle);
    btnPrev->setObjectName(QStringLiteral("btnPrev"));
    btnNextSearch = new QPushButton(PnlSearchTitle);
    btnNextSearch->setObjectName(QStringLiteral("btnNextSearch"));
    captions_.text(btnPrev, 41312);
    captions_.text(btnNextSearch, 41313);
    h->addWidget(lblSearchPage, 1);
    h->addWidget(btnPrev);
    h->addWidget(btnNextSearch);
    v->addWidget(PnlSearchTitle);
    SearchEdit = new QWebEngineView(page);
    SearchEdit->setObjectName(QStringLiteral("SearchEdit"));
    SearchEdit->setContextMenuPolicy(Qt::NoContextMenu);
    SearchEdit->setPage(new TSearchResultPage(
        [this](const QString& id) {
            // Not from inside the navigation callback: opening may ask questions and load pages.
            QMetaObject::invokeMethod(
                this, [this, id] { openResult(id); }, Qt::QueuedConnection);
        },
        SearchEdit));
    v->addWidget(SearchEdit, 1);
    connect(btnPrev, &QPushButton::clicked, this, [this] { stepPage(false); });
    connect(btnNextSearch, &QPushButton::clicked, this, [this] { stepPage(true); });
}

void TSearchPanel::updateEnabling() {
    btnSearchNode->setEnabled(chkSearchNode->isChecked());
    edtBeginCreateDate->setEnabled(chkCreateDate->isChecked());
    edtEndCreateDate->setEnabled(chkCreateDate->isChecked());
    edtBeginLastDate->setEnabled(chkLastDate->isChecked());
    edtEndLastDate->setEnabled(chkLastDate->isChecked());
}

void TSearchPanel::openSession(Database& db) {
    closeSession();
    db_ = &db;
    session_ = std::make_unique<TSearchSession>(db.connectionString());
    connect(session_->indexBuilder(), &TSearchIndexBuilder::buildingChanged, this, &TSearchPanel::onBuildingChanged);
    session_->indexBuilder()->setProgressInterval(indexProgressMs_);
    session_->startIndexBuilder();
}

void TSearchPanel::closeSession() {
    if (!session_) return;
    if (TSearchEngine* e = session_->currentSearch()) e->disconnect(this);
    session_->indexBuilder()->disconnect(this);
    session_->stopAll();
    session_.reset();
    db_ = nullptr;
    if (running_) {
        running_ = nullptr;
        onSearchFinished();
    }
    onBuildingChanged(false);
}

void TSearchPanel::setHistoryPath(const QString& path) {
    historyPath_ = path;
    history_ = ReadSearchHistory(path);
    edtSearch->clear();
    edtSearch->addItems(history_);
    edtSearch->setCurrentIndex(-1);
}

bool TSearchPanel::writeHistory() const {
    return !historyPath_.isEmpty() && WriteSearchHistory(historyPath_, history_);
}

QDate TSearchPanel::dateOf(const QLineEdit* edit) {
    return QDate::fromString(edit->text(), kDateFormat);
}

void TSearchPanel::showBody(const QString& html) {
    SearchEdit->setHtml(QStringLiteral("<html><head><meta charset=\"utf-8\"></head><body>") + html +
                        QStringLiteral("</body></html>"));
}

void TSearchPanel::updatePageLabel() {
    lblSearchPage->setText(pages_.label());
    lblSearchPage->setAccessibleName(lblSearchPage->text());
}

void TSearchPanel::SerachAllText() {
    if (running_) return; // the button is disabled while a search runs
    pages_.clear();
    updatePageLabel();
    const QString text = edtSearch->currentText().trimmed();
    if (text.isEmpty() || !session_) return;
    showBody(OpeningDataHtml());
    btnSearch->setEnabled(false);
    edtSearch->setEnabled(false);
    TvSearch->clear();
    started_.start();
    frame_.statusPanel(0)->setText(GetString(40337));
    frame_.statusPanel(1)->setText(GetString(40335) + u':');
    if (!history_.contains(text)) {
        AddToSearchHistory(history_, text);
        if (edtSearch->count() > 1000) edtSearch->removeItem(edtSearch->count() - 1);
        edtSearch->insertItem(0, text);
    }
    edtSearch->setEditText(text);
    frame_.documentTabs()->setCurrentIndex(TabSearch);

    TSearchCriteria c;
    c.text = text;
    c.includeFullName = chkFullName->isChecked();
    c.includeContent = chkContent->isChecked();
    c.restrictByModified = chkLastDate->isChecked();
    c.modifiedBegin = dateOf(edtBeginLastDate);
    c.modifiedEnd = dateOf(edtEndLastDate);
    c.owner = edtOwner->text().trimmed();
    c.restrictByCreated = chkCreateDate->isChecked();
    c.createdBegin = dateOf(edtBeginCreateDate);
    c.createdEnd = dateOf(edtEndCreateDate);
    c.matchCase = chkCase->isChecked();
    c.subtreeRoot = subtreeRoot_;
    c.restrictToSubtree = chkSearchNode->isChecked();
    c.unlockedDocuments = UnlockedDocuments();
    lastText_ = text;
    lastMatchCase_ = c.matchCase;

    TSearchEngine* e = session_->newSearch(std::move(c));
    running_ = e;
    // A search stopped before this one may still deliver queued signals: only the current one counts.
    auto current = [this, e] { return session_ && session_->currentSearch() == e && running_ == e; };
    connect(e, &TSearchEngine::scanStarted, this, [this, current] {
        if (current()) onScanStarted();
    });
    connect(e, &TSearchEngine::progressVisible, this, [this, current](bool on) {
        if (current()) onProgressVisible(on);
    });
    connect(e, &TSearchEngine::progressPosition, this, [this, current](int p) {
        if (current()) onProgressPosition(p);
    });
    connect(e, &TSearchEngine::resultFound, this,
            [this, current](int n, qint64 id, const QString& caption, const QString& address) {
                if (current()) onResultFound(n, id, caption, address);
            });
    connect(e, &TSearchEngine::pageFlushed, this, [this, current](const QString& html) {
        if (current()) onPageFlushed(html);
    });
    connect(e, &TSearchEngine::searchFinished, this, [this, current](int, bool) {
        if (current()) onSearchFinished();
    });
    emit searchStarting(e);
    e->start();
}

void TSearchPanel::stop() {
    if (!running_) return;
    QPointer<TSearchEngine> e = running_;
    e->stop();
    // Pump until the end-of-search handler ran, so the signals queued meanwhile are all served.
    while (running_ == e && e)
        QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents, 20);
    if (running_ == e) { // the engine went away without its last signal
        running_ = nullptr;
        onSearchFinished();
    }
}

void TSearchPanel::onScanStarted() {
    btnStop->setEnabled(true);
    showBody(SearchingHtml());
}

void TSearchPanel::onProgressVisible(bool visible) {
    SearchBar->setValue(0);
    SearchBar->setVisible(visible);
}

void TSearchPanel::onProgressPosition(int position) {
    if (SearchBar->isVisible()) SearchBar->setValue(position);
}

void TSearchPanel::onResultFound(int, qint64 id, const QString& caption, const QString& address) {
    auto* item = new QTreeWidgetItem(TvSearch);
    item->setText(0, caption);
    item->setText(1, address);
    item->setText(2, QString::number(id));
}

void TSearchPanel::onPageFlushed(const QString& html) {
    const bool first = pages_.add(html);
    updatePageLabel();
    if (first) showCurrentPage();
}

void TSearchPanel::onSearchFinished() {
    btnSearch->setEnabled(true);
    edtSearch->setEnabled(true);
    btnStop->setEnabled(false);
    SearchBar->hide();
    frame_.statusPanel(1)->setText(SearchTimeText(started_.isValid() ? started_.elapsed() : 0));
    frame_.statusPanel(0)->setText(GetString(40302));
    if (pages_.count() == 0) showBody(NoResultsHtml());
    running_ = nullptr;
}

void TSearchPanel::showCurrentPage() {
    showBody(pages_.currentHtml());
    updatePageLabel();
}

void TSearchPanel::stepPage(bool next) {
    // A fresh page load starts at the top of the body.
    if (pages_.step(next)) showCurrentPage();
}

void TSearchPanel::chooseSubtree() {
    if (!db_) return;
    const std::optional<TfrmSelectNode::Choice> choice =
        TfrmSelectNode::choose(*db_, subtreeRoot_, frame_.searchPage());
    if (!choice) return;
    subtreeRoot_ = choice->id;
    edtSearchNode->setText(choice->path.isEmpty() ? QStringLiteral("/") : choice->path);
}

bool TSearchPanel::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() == QEvent::FocusOut) {
        for (QLineEdit* e : {edtBeginCreateDate, edtEndCreateDate, edtBeginLastDate, edtEndLastDate})
            if (watched == e) checkDateEdit(e);
    }
    return QObject::eventFilter(watched, event);
}

void TSearchPanel::checkDateEdit(QLineEdit* edit) {
    if (checkingDate_ || dateOf(edit).isValid()) return;
    // The message box takes the focus away again; do not check twice.
    checkingDate_ = true;
    Ask().inform(frame_.searchPage(), GetString(40324));
    edit->setText(QDate::currentDate().toString(kDateFormat));
    edit->setFocus();
    checkingDate_ = false;
}

void TSearchPanel::onResultItem(QTreeWidgetItem* item) {
    if (!item) return;
    const QString id = item->text(2);
    if (id.isEmpty() || id == tree_.currentId()) return;
    openResult(id, item->text(1));
}

QString TSearchPanel::firstWord() const {
    const SearchWords w = SplitSearchWords(lastText_, lastMatchCase_);
    return w.include.value(0);
}

void TSearchPanel::openResult(const QString& id, const QString& address) {
    if (id.isEmpty() || !db_) return;
    bool opened = false;
    if (tree_.tree()->selectNode(id)) {
        tree_.openItem(tree_.tree()->currentItem());
        opened = tree_.currentId() == id;
    } else {
        const QString url = address.isEmpty() ? QString() : QStringLiteral("link://document/") + address;
        opened = tree_.openNode(id, url);
    }
    if (!opened) return;
    frame_.documentTabs()->setCurrentIndex(TabNormal);
    const QString word = firstWord();
    QWebEngineView* viewer = frame_.viewBrowser();
    auto find = [this, viewer, id, word] {
        viewer->findText(word, {},
                         [this, id](const QWebEngineFindTextResult& r) { emit wordShown(id, r.numberOfMatches()); });
    };
    if (!word.isEmpty()) {
        if (pane_) {
            // The word is looked for once the document is in the viewer.
            auto* once = new QObject(this);
            connect(pane_, &TDocumentPane::documentLoaded, once, [find, once](bool) {
                find();
                once->deleteLater();
            });
        } else {
            find();
        }
    }
    emit resultOpened(id);
}

void TSearchPanel::onBuildingChanged(bool building) {
    frame_.statusPanel(4)->setText(building ? GetString(kBuildingIndexText) : QString());
}

} // namespace zel
