#include "editor/DocumentState.h"

namespace zel {

TabSync ApplyDocumentEvent(TInfoState& s, DocumentEvent e) {
    TabSync sync;
    switch (e) {
    case DocumentEvent::OpenedInViewer:
        s.editorStale = true;
        s.viewerStale = false;
        s.sourceStale = true;
        s.contentSource = ContentSource::Store;
        s.modified = false;
        break;
    case DocumentEvent::OpenedInEditor:
        s.editorStale = false;
        s.viewerStale = true;
        s.sourceStale = true;
        s.contentSource = ContentSource::Store;
        s.modified = false;
        break;
    case DocumentEvent::Modified:
        s.modified = true;
        s.viewerStale = true;
        s.sourceStale = true;
        break;
    case DocumentEvent::SourceEdited:
        s.modified = true;
        s.editorStale = true;
        s.viewerStale = true;
        break;
    case DocumentEvent::EnterNormal:
        s.contentSource = s.lastEditTab == TabSource ? ContentSource::Source : ContentSource::Editor;
        sync.reloadViewer = s.viewerStale;
        s.viewerStale = false;
        break;
    case DocumentEvent::EnterEdit:
        s.contentSource = s.sourceStale ? ContentSource::Viewer : ContentSource::Source;
        sync.reloadEditor = s.editorStale;
        s.editorStale = false;
        break;
    case DocumentEvent::EnterSource:
        sync.fillSource = s.sourceStale;
        sync.sourceFromEditor = !s.editorStale;
        s.sourceStale = false;
        break;
    }
    return sync;
}

void LeaveTab(TInfoState& s, int tab) {
    if (tab == TabEdit || tab == TabSource) s.lastEditTab = tab;
}

} // namespace zel
