#pragma once

namespace zel {

class TFrmMain;
class TTreePanel;

// Puts the knowledge tree into the main window: the tree on the "Content" page, the file list on the
// "Filelist" tab, the property fields on their property tabs; binds the window's tree commands and
// session hooks, and shows an opened node's stored page in the "Normal" view (read-only).
TTreePanel* AttachKnowledgeTree(TFrmMain& frame);

} // namespace zel
