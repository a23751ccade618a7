#pragma once

#include <QElapsedTimer>
#include <QPointer>
#include <QString>
#include <QStringList>
#include <QWidget>
#include <memory>

#include "search/TSearchEngine.h"
#include "search/TSearchPages.h"
#include "shell/ui/Captions.h"

class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;
class QProgressBar;
class QPushButton;
class QToolButton;
class QTreeWidget;
class QTreeWidgetItem;
class QWebEngineView;

namespace zel {

class Database;
class TDocumentPane;
class TFrmMain;
class TSearchSession;
class TTreePanel;

// A caption button over a body that rolls up and down.
class TRollUpPanel : public QWidget {
    Q_OBJECT
public:
    explicit TRollUpPanel(QWidget* parent = nullptr);
    QToolButton* header() const { return header_; }
    QWidget* body() const { return body_; }
    bool isRolledUp() const;
    void setRolledUp(bool up);

private:
    QToolButton* header_;
    QWidget* body_;
};

// The index panel's search page and the result tab: criteria, the results list, the result pages with
// paging; searches run through the session's engine, the session's index builder keeps the index ready.
class TSearchPanel : public QObject {
    Q_OBJECT
public:
    TSearchPanel(TFrmMain& frame, TTreePanel& tree, TDocumentPane* pane);
    // Writes the search history.
    ~TSearchPanel() override;

    // A session opened: searches go to its knowledge base and the index builder starts.
    void openSession(Database& db);
    // Logout, a new login or exit: every search and the index build end before the connection goes.
    void closeSession();
    TSearchSession* session() const { return session_.get(); }
    // How often the index builder of the next session reports while it builds (status bar).
    void setIndexProgressInterval(int ms) { indexProgressMs_ = ms; }
    bool searching() const { return running_ != nullptr; }

    // The history file (SearchList.dat of the home folder unless set).
    void setHistoryPath(const QString& path);
    bool writeHistory() const;
    // The history as the drop-down of edtSearch lists it.
    QStringList history() const { return history_; }

    const TSearchPages& pages() const { return pages_; }

    // Controls, named as the window's own.
    QComboBox* edtSearch;
    QPushButton *btnSearch, *btnStop;
    QProgressBar* SearchBar = nullptr;
    TRollUpPanel *pnlRange, *pnlCondition;
    QCheckBox *chkContent, *chkFullName, *chkKavrel, *chkInternet, *chkSearchNode;
    QLineEdit* edtSearchNode;
    QPushButton* btnSearchNode;
    QCheckBox *chkCase, *chkCreateDate, *chkLastDate;
    QLineEdit *edtBeginCreateDate, *edtEndCreateDate, *edtBeginLastDate, *edtEndLastDate;
    QLineEdit* edtOwner;
    QTreeWidget* TvSearch;
    QWidget* PnlSearchTitle;
    QLabel* lblSearchPage;
    QPushButton *btnPrev, *btnNextSearch;
    QWebEngineView* SearchEdit;

    QString subtreeRoot() const { return subtreeRoot_; }
    // The date shown by a date edit, invalid when it does not parse.
    static QDate dateOf(const QLineEdit* edit);

public slots:
    void SerachAllText();
    void stop();
    void stepPage(bool next);
    void chooseSubtree();
    // Opens a result: the node is selected in the tree and its document shown with the word found.
    void openResult(const QString& id, const QString& address = {});

signals:
    // A search's engine is about to start; its signals may be connected here (benchmarks, tests).
    void searchStarting(zel::TSearchEngine* engine);
    // A result's document was asked to open (after the tree accepted it).
    void resultOpened(const QString& id);
    // The searched word was looked for in the opened result's document: how often it is there.
    void wordShown(const QString& id, int matches);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void buildSearchPage(QWidget* page);
    // Controls without a caption of their own are named by the text that stands for them.
    void nameUncaptioned();
    void buildResultPage(QWidget* page);
    void updateEnabling();
    void showBody(const QString& html);
    void showCurrentPage();
    void updatePageLabel();
    void checkDateEdit(QLineEdit* edit);
    void onResultItem(QTreeWidgetItem* item);
    void onScanStarted();
    void onProgressVisible(bool visible);
    void onProgressPosition(int position);
    void onResultFound(int number, qint64 id, const QString& caption, const QString& address);
    void onPageFlushed(const QString& html);
    void onSearchFinished();
    void onBuildingChanged(bool building);
    // The first include word of the running criteria, for finding it in the opened document.
    QString firstWord() const;

    TFrmMain& frame_;
    TTreePanel& tree_;
    TDocumentPane* pane_;
    Database* db_ = nullptr;
    std::unique_ptr<TSearchSession> session_;
    QPointer<TSearchEngine> running_;
    TSearchPages pages_;
    QElapsedTimer started_;
    QString subtreeRoot_ = QStringLiteral("0");
    QString lastText_;
    bool lastMatchCase_ = false;
    QString historyPath_;
    QStringList history_;
    QString findAfterLoad_;
    bool checkingDate_ = false;
    int indexProgressMs_ = 500;
    Captions captions_;
};

// Puts the search panel into the main window and binds it to the session: the builder starts when a
// session opens and stops with every search at logout, a new login and exit.
TSearchPanel* AttachSearch(TFrmMain& frame, TTreePanel& tree, TDocumentPane* pane);

} // namespace zel
