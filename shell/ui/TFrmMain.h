#pragma once

#include <QMainWindow>
#include <QPointer>
#include <functional>

#include "shell/ui/Captions.h"

class QAction;
class QActionGroup;
class QComboBox;
class QLabel;
class QMenu;
class QSplitter;
class QTabWidget;
class QToolBar;
class QWebEngineView;

namespace zel {

class Database;
class TBookmarkPage;
class TFrmWelcome;

// The main window: a thin frame of panels, tabs, menus and tool bars. Subsystems fill the container
// pages and bind to the commands by name; the frame owns start-up, login and the session.
class TFrmMain : public QMainWindow {
    Q_OBJECT
public:
    explicit TFrmMain(QWidget* parent = nullptr);
    ~TFrmMain() override;

    // Commands by their stable name ("btnSave", "btnChild", ...); nullptr for an unknown name.
    QAction* command(const QString& name) const;
    QList<QAction*> commands() const { return commands_; }
    // Menus by name ("siFile", "siEdit", "siView", "siIndex", "siInsert", "siFormat", "btnTable",
    // "siTools", "siMail", "siHelp", and the submenus "btnImport", "btnExport", "btnSort", "siToolBars",
    // "btnZoomFontSize", "btnSkin", "btnlanguage").
    QMenu* menu(const QString& name) const;
    // 0 "Normal", 1 "Format", 2 "Navigate".
    QToolBar* toolBar(int index) const;
    // The boxes of the "Format" tool bar: "cbFontName", "cnFontSize" (sizes 1 to 7), "btnStyle"; disabled
    // until the editor fills and connects them.
    QComboBox* formatBox(const QString& name) const;

    // Index panel: the tab set and its three pages (0 "Content", 1 "Search", 2 "Index"). The pages are
    // empty containers with a vertical layout; the tree, search and bookmark widgets go into them.
    QTabWidget* indexTabs() const { return tabMain_; }
    QWidget* contentPage() const { return pages_[0]; }
    QWidget* searchPage() const { return pages_[1]; }
    QWidget* bookmarkPage() const { return pages_[2]; }
    // The bookmark page that fills bookmarkPage().
    TBookmarkPage* bookmarks() const { return bookmarks_; }
    // A node was opened: the title label and the bookmark page's current topic show its caption.
    void setCurrentNode(const QString& id, const QString& caption);
    // The caption above the tree: " " + the knowledge base's name, or "knowledge base isn't open".
    QLabel* treeCaption() const { return treeCaption_; }

    // Document pane: tabs 0 "Normal" (the viewer), 1 "Edit", 2 "Source", 3 "Filelist", 4 "Search result".
    // The last four are empty containers with a vertical layout.
    QTabWidget* documentTabs() const { return tabEdit_; }
    QWebEngineView* viewBrowser() const { return viewer_; }
    QWidget* editPage() const { return docPages_[1]; }
    QWidget* sourcePage() const { return docPages_[2]; }
    QWidget* fileListPage() const { return docPages_[3]; }
    QWidget* searchResultPage() const { return docPages_[4]; }

    // Title and property panel: the title label and the property tabs (containers, by position:
    // "Send mail", "Property", "Accessories", "Background", "Security", "Margin", "Memo", "Mail").
    QLabel* titleLabel() const { return lblTitle_; }
    QTabWidget* propertyTabs() const { return tabProperty_; }
    bool propertyPanelShown() const;
    void setPropertyPanelShown(bool shown);
    // Status bar panels 0 activity, 1 load time, 2 document size, 3 attachment or child count, 4 user.
    QLabel* statusPanel(int index) const { return status_[index]; }

    // Session.
    bool sessionOpen() const { return sessionOpen_; }
    QString catalogueName() const { return catalogueName_; }
    Database& database() const;
    bool OpenSession(const QString& catalogueName);
    void CloseSession();

    // Start-up.
    void showAtStart();    // shows the window with the saved geometry rules
    void loginAtStart();   // what the login timer runs
    bool runLoginDialog(); // login dialog, then OpenSession; true when a session opened
    void WMRestApp();      // the restore request of another process
    void setConfirmExit(bool on) { confirmExit_ = on; }

    void ApplyLanguage();
    // Tells the user once, without stopping the start, that a language file could not be read
    // completely; the built-in English texts stand in.
    QWidget* reportLanguageProblem(const QString& path);
    void changeLanguage(int index);      // index into the language file list
    void applySkin(const QString& path); // "" or "<CancelSkin>" remove the skin
    // Shown to the language and skin menus.
    QActionGroup* languageGroup() const { return languageGroup_; }
    QActionGroup* skinGroup() const { return skinGroup_; }
    // Registered captions are relabelled by every ApplyLanguage.
    Captions& captions() { return captions_; }

    // A close guard returns false to keep the window open (unsaved documents, running work).
    void addCloseGuard(std::function<bool()> guard) { closeGuards_ << std::move(guard); }

signals:
    // A knowledge base is open and its user logged in; emitted while the wait window shows, after the
    // schema check, the system folders and the user settings. Handlers add the tree root, apply the
    // sort order and open the default document.
    void sessionOpened(zel::Database& db, const QString& catalogueName);
    // The main connection is about to close (logout, another login, exit).
    void sessionClosing();
    void sessionClosed();
    void languageChanged();
    // The user settings dialog stored new values in CurrentUser(): sort order, mark time, mail timing.
    void userSettingsChanged();
    // The close request was answered Yes: stop workers and wait for them before the settings are saved.
    void shuttingDown();
    void startPageLoaded(bool ok);
    // A bookmark asks to open its node (link URL "link://document" + name path + ".htm").
    void openNodeRequested(const QString& url, const QString& nodeId);
    // A link of the welcome window: 0 "How to use" (help), 2 mail settings, 3 system settings (the
    // frame opens the user settings itself).
    void welcomeLinkActivated(int tag);

protected:
    void showEvent(QShowEvent* e) override;
    void closeEvent(QCloseEvent* e) override;
    void moveEvent(QMoveEvent* e) override;
    void resizeEvent(QResizeEvent* e) override;

private:
    void buildCommands();
    void buildMenus();
    void buildToolBars();
    void buildPanels();
    void buildLanguageMenu();
    void buildSkinMenu();
    void connectCommands();
    void updateMenusForTab(int tab);
    void updateSessionCommands();
    void saveLayout();
    void restoreLayout();
    void shutdown();
    void showWelcome();

    QList<QAction*> commands_;
    QHash<QString, QAction*> byName_;
    QHash<QString, QMenu*> menus_;
    QToolBar* toolBars_[3] = {};
    QHash<QString, QComboBox*> formatBoxes_;
    QTabWidget* tabMain_ = nullptr;
    QWidget* pages_[3] = {};
    QLabel* treeCaption_ = nullptr;
    TBookmarkPage* bookmarks_ = nullptr;
    QTabWidget* tabEdit_ = nullptr;
    QWidget* docPages_[5] = {};
    QWebEngineView* viewer_ = nullptr;
    QWidget* pnlIndex_ = nullptr;
    QWidget* pnlTitle_ = nullptr;
    QLabel* lblTitle_ = nullptr;
    QTabWidget* tabProperty_ = nullptr;
    QSplitter* splitter_ = nullptr;
    QLabel* status_[5] = {};
    QActionGroup* languageGroup_ = nullptr;
    QActionGroup* skinGroup_ = nullptr;
    QActionGroup* zoomGroup_ = nullptr;
    QActionGroup* sortGroup_ = nullptr;
    Captions captions_;
    QPointer<TFrmWelcome> welcome_;
    QList<std::function<bool()>> closeGuards_;
    QRect normalBounds_; // the bounds of the normal state, kept while maximised
    QString catalogueName_;
    QString currentCaption_;
    QString skinInForce_;
    bool sessionOpen_ = false;
    bool loginArmed_ = false;
    bool confirmExit_ = true;
    bool shutDown_ = false;
    bool startMaximized_ = false;
};

// The path of the saved tool-bar layout in the home folder.
QString ToolBarLayoutPath();

} // namespace zel
