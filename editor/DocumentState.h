#pragma once

#include <QString>

namespace zel {

// Where the link handler takes the current document's HTML from.
enum class ContentSource { Store = 0, Editor = 1, Source = 2, Viewer = 3 };

// The document pane's tabs.
enum DocumentTab { TabNormal = 0, TabEdit = 1, TabSource = 2, TabFileList = 3, TabSearch = 4 };

// The current document and how far each of its three views is behind its latest HTML.
struct TInfoState {
    QString nodeId;
    QString url; // link URL of the document, without anchor
    QString pendingAnchor;
    bool editorStale = true;
    bool viewerStale = true;
    bool sourceStale = true;
    bool modified = false;
    ContentSource contentSource = ContentSource::Store;
    int lastEditTab = TabEdit; // the last of "Edit" and "Source" that was left for another tab
};

enum class DocumentEvent {
    OpenedInViewer,
    OpenedInEditor,
    Modified,
    SourceEdited,
    EnterNormal,
    EnterEdit,
    EnterSource
};

// What a tab change has to do to the view it brings forward.
struct TabSync {
    bool reloadViewer = false;
    bool reloadEditor = false;
    bool fillSource = false;
    bool sourceFromEditor = false; // else from the viewer
};

// Moves the stale flags and the content source for one event; for tab entries, says what to reload.
TabSync ApplyDocumentEvent(TInfoState& s, DocumentEvent e);
// Leaving a tab for another: "Edit" and "Source" become the last edit tab.
void LeaveTab(TInfoState& s, int tab);

} // namespace zel
