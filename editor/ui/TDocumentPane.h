#pragma once

#include <QObject>
#include <QPointer>
#include <QUrl>
#include <functional>
#include <memory>

#include "editor/DocumentSettings.h"
#include "editor/DocumentState.h"

class QAction;
class QDialog;
class QLabel;
class QPlainTextEdit;
class QTabWidget;
class QWebEnginePage;
class QWebEngineView;
class QWidget;

namespace zel {

class Database;

// Questions and outside effects of the document pane; tests stand in for the user and the desktop.
struct DocumentAsk {
    std::function<bool(QWidget* parent, const QString& text)> confirm; // Yes/No
    std::function<void(QWidget* parent, const QString& text)> inform;
    std::function<void(const QUrl& url)> openExternal; // the system's handler
    std::function<bool(QDialog* dialog)> exec;         // modal dialogs
};
DocumentAsk& DocAsk();
void ResetDocAsk();

// The document pane: the viewer ("Normal"), the design-mode editor `EmbeddedEdit` ("Edit") and the
// source memo `RvSource` ("Source") of the current node, kept in step without writing to the store
// until the user saves.
class TDocumentPane : public QObject {
    Q_OBJECT
public:
    // tabs holds the pages by position: 0 the viewer, 1 the edit page, 2 the source page.
    TDocumentPane(QTabWidget* tabs, QWebEngineView* viewer, QWidget* editPage, QWidget* sourcePage,
                  QObject* parent = nullptr);
    ~TDocumentPane() override;

    void setDatabase(Database* db) { db_ = db; }
    Database* database() const { return db_; }
    // The status panels 0 (activity) and 1 (load time), when the window has them.
    void setStatusPanels(QLabel* activity, QLabel* loadTime);
    void setSaveAction(QAction* save);
    // Opening a document that a link names goes through the tree when it is set.
    void setNodeOpener(std::function<bool(const QString& id, const QString& url)> opener) {
        opener_ = std::move(opener);
    }
    // When set, documents open in the editor.
    void setEditMode(bool on) { editMode_ = on; }

    QWebEngineView* viewer() const { return viewer_; }
    QWebEngineView* editor() const { return editor_; }
    QPlainTextEdit* source() const { return source_; }
    const TInfoState& state() const { return st_; }
    bool modified() const { return st_.modified; }
    bool loading() const { return loading_; }

    // Shows a node (id > 0) in the viewer, or in the editor with edit; id <= 0 leaves the pane empty.
    void openNode(const QString& id, const QString& url, bool edit = false);
    // The navigation entry: documents, anchors, attachments and web links.
    void openUrl(const QString& url);
    // The save prompt before the document is left: true when it may go (saved or discarded).
    bool leaveDocument(bool ask = true);
    // Saves the current document; false (and still modified) when the store refused it.
    bool saveDocument();
    void markModified(bool on);
    // "Download all Picture": every file and web picture of the editor's document, stored ones included.
    bool downloadAllPictures();
    // The editor's document settings as they are now.
    DocumentSettings currentSettings();
    // "Document Property": the dialog over the editor's document.
    void documentProperty();
    // Writes document settings into the editor's document; marks it modified.
    void applySettings(const DocumentSettings& s);
    // Runs a script in the program's own world of a view and waits for its result.
    QVariant run(QWebEnginePage* page, const QString& script);
    // Whether the user may bring another tab forward now: never before a node was opened; for the
    // root and the recycle bin only away from the child list and the search view.
    bool tabChangeAllowed() const;
    // "Extend Editor": hands the current document to the user's external editor (or the desktop's
    // handler) as a file in the temporary folder; its changes come back as the modified document.
    bool externalEdit();
    // The file the external editor works on, empty when none is out.
    QString externalFile() const;

    bool eventFilter(QObject* watched, QEvent* event) override;

signals:
    void documentLoaded(bool ok);
    void modifiedChanged(bool modified);
    void saved(const QString& nodeId);
    // The editor's document settings, read after every load of the editor.
    void settingsRead(const zel::DocumentSettings& s);

public slots:
    void modifiedByEditor();

private:
    void onTabChanged(int tab);
    void onLoaded(QWebEnginePage* page, bool ok);
    void prepareServing(ContentSource source);
    QByteArray editorHtml();
    bool capturePictures(bool allPictures);
    void load(QWebEngineView* view);
    void setActivity(const QString& text);
    void openAttachment(const QString& nodeId, const QString& fileName);
    QByteArray activeHtml(bool capture);
    void checkExternal(bool final);
    void endExternal();
    void takeExternalHtml(const QString& html);

    QTabWidget* tabs_;
    QWebEngineView* viewer_;
    QWebEngineView* editor_ = nullptr;
    QPlainTextEdit* source_ = nullptr;
    QPointer<QLabel> activity_, loadTime_;
    QPointer<QAction> save_;
    Database* db_ = nullptr;
    std::function<bool(const QString&, const QString&)> opener_;
    TInfoState st_;
    QByteArray serving_;    // what the current document's URL answers now
    QByteArray viewerHtml_; // what the viewer was last given
    qint64 loadStarted_ = 0;
    int tab_ = 0;
    bool loading_ = false;
    bool editMode_ = false;
    struct External;
    std::unique_ptr<External> ext_;
};

} // namespace zel
