#pragma once

#include <QString>

namespace zel {

// The folder of the program's read-only resources (language/, skins/, sound/, back.jpg, tip.bmp),
// always with a trailing "/". Found, in this order: $ZEL_RESOURCES; share/zel beside an installed
// program (PREFIX/bin/zel -> PREFIX/share/zel); the program's own folder when it holds language/;
// the source tree's resources/ when run from the build folder.
QString programDirectory();
// Overrides the search (tests).
void setProgramDirectory(const QString& dir);

} // namespace zel
