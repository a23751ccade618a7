#pragma once

namespace zel {

class TDocumentPane;
class TFrmMain;
class TTreePanel;

// Puts the document pane into the main window: the viewer, the editor on "Edit" and the source memo
// on "Source"; a node the tree opens loads there, leaving a modified document asks first, "Save"
// saves, and closing the window asks for an unsaved document.
TDocumentPane* AttachDocuments(TFrmMain& frame, TTreePanel& tree);

} // namespace zel
