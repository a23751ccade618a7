#pragma once

#include <QColor>
#include <QObject>
#include <QPointer>
#include <QString>
#include <memory>

class QAction;
class QComboBox;
class QPrinter;
class QWebEnginePage;
class QWebEngineView;

namespace zel {

class TDocumentPane;
class TFrmMain;
class TTreePanel;

// The editing commands of the main window: the dispatcher of the shared tags, fonts and colours,
// insertions, links and bookmarks, pictures, zoom, printing, the command states that follow the caret,
// and the editor's context menus.
class TEditCommands : public QObject {
    Q_OBJECT
public:
    TEditCommands(TFrmMain& frame, TDocumentPane* pane, TTreePanel* tree);
    ~TEditCommands() override;

    // The shared handler of the buttons with a tag (1 "Cu&t" ... 57 "Bullet List").
    void dispatch(int tag);
    // Applies a state report of the editing script (JSON); also what the bench drives.
    void applyStates(const QString& json, bool fromEditor);

    void insertDateTime();
    void insertLine();
    void growFont(int delta);  // "Grow/Sink Font 1pt"
    void fontSpace(int delta); // "Grow/Sink Font Space"
    void setToCaption();
    void zoom(int tag);   // 0 "Most" ... 4 "least"
    void print(int kind); // 0 print, 1 preview, 2 page setup
    void fontDialog();
    void colour(bool background); // "Font Color" / "HighLight Color" with the current colour
    void setCurrentColour(bool background, const QColor& c);
    QColor currentColour(bool background) const { return background ? back_ : fore_; }
    void picture();
    void anchor(bool link); // "Bookmark" (false) or "Anchor..." (true)

    QComboBox* fontBox() const;
    QComboBox* sizeBox() const { return sizeBox_; }
    QComboBox* styleBox() const { return styleBox_; }
    bool updatingUi() const { return updating_; }
    // The page the commands act on: the viewer in "Normal", the editor elsewhere.
    QWebEnginePage* activePage() const;
    // Zoom factors by tag: the engine's range from its largest (tag 0) to its smallest (tag 4).
    static double zoomFactor(int tag);

signals:
    void statesApplied();

private:
    void onTabChanged(int tab);
    void enableByTab(int tab);
    bool designOn(QWebEnginePage* page);
    QVariant js(const QString& script);
    void execValue(const QString& command, const QString& value);
    void boxChanged(int which);
    void buildBoxes();
    void buildColourMenus();
    void buildContextMenus();
    void editorMenu(const QPoint& pos);
    void sourceMenu(const QPoint& pos);
    void refreshColourIcon(bool background);
    void fillStatus();
    QAction* cmd(const char16_t* name) const;

    TFrmMain& frame_;
    TDocumentPane* pane_;
    TTreePanel* tree_;
    QComboBox* fontBox_ = nullptr;
    QComboBox* sizeBox_ = nullptr;
    QComboBox* styleBox_ = nullptr;
    std::unique_ptr<QPrinter> printer_;
    QColor fore_{0, 0, 255}, back_{255, 255, 0};
    QString lastFontSize_;
    bool updating_ = false;
    bool sessionOpen_ = false;
};

// Puts the editing commands into the main window (after AttachDocuments).
TEditCommands* AttachEditCommands(TFrmMain& frame, TDocumentPane* pane, TTreePanel* tree);

} // namespace zel
