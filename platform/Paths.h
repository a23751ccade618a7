#pragma once

#include <QString>

namespace zel {

// The per-user home folder that holds everything the program writes (datalink.dat, data/, settings,
// SearchList.dat). Set explicitly (--home), else $ZEL_HOME, else $XDG_DATA_HOME/zel, else
// ~/.local/share/zel. Always ends with "/".
void setHomeFolder(const QString& dir);
QString homeFolder();
// Creates the home folder when missing, for its owner only; false when it cannot be made.
bool ensureHomeFolder();
// The catalogue may hold server passwords and the knowledge bases are private: the home folder and its
// "data" folder are made 0700 and the files directly in them 0600 (as a password file must be).
bool secureHomeFolder();
// The working folder for temporary files, "<temp>/zel_gf_103s/".
QString tempFolder();

} // namespace zel
