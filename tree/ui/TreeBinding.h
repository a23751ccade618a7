#pragma once

namespace zel {

class TFrmMain;
class TTreePanel;

// Puts the knowledge tree into the main window: the tree on the "Content" page, the file list on the
// "Filelist" tab, the property fields on their property tabs; binds the window's tree commands and
// session hooks, and shows an opened node's stored page in the "Normal" view (read-only).
// With showStoredPage false the document pane of the editor shows opened nodes instead.
TTreePanel* AttachKnowledgeTree(TFrmMain& frame, bool showStoredPage = true);

} // namespace zel
