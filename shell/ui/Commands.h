#pragma once

#include <QList>
#include <QString>

namespace zel {

// One command of the main window: one QAction shared by menus, tool bars and context menus.
struct CommandDef {
    const char16_t* name; // stable command name: the QAction's objectName
    int tag;              // shared-handler number (0 when the command has its own handler)
    int captionIdent;
    int hintIdent;         // 0: the caption doubles as the hint
    const char16_t* glyph; // tool-bar picture: a standard icon ("std:NAME") or a short text
    const char16_t* shortcut;
    bool checkable;
};

// Every command of the main window, in menu order.
const QList<CommandDef>& CommandTable();

} // namespace zel
