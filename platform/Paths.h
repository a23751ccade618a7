#pragma once

#include <QString>

namespace zel {

// The per-user home folder that holds everything the program writes (datalink.dat, data/, settings,
// SearchList.dat). Set explicitly (--home), else $ZEL_HOME, else $XDG_DATA_HOME/zel, else
// ~/.local/share/zel. Always ends with "/".
void setHomeFolder(const QString& dir);
QString homeFolder();
// Creates the home folder when missing; false when it cannot be made.
bool ensureHomeFolder();
// The working folder for temporary files, "<temp>/zel_gf_103s/".
QString tempFolder();

} // namespace zel
