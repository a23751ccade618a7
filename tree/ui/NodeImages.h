#pragma once

#include <QIcon>

namespace zel {

// The shared node image list: 0/1 folder, 2/3 document, 4/5 knowledge base, 6 empty bin, 7 full bin,
// 9 mail inbox, 10 outbox, 11 sent box.
enum NodeImage {
    ImgFolder = 0,
    ImgFolderOpen = 1,
    ImgDocument = 2,
    ImgDocumentOpen = 3,
    ImgRoot = 4,
    ImgRootOpen = 5,
    ImgBinEmpty = 6,
    ImgBinFull = 7,
    ImgInbox = 9,
    ImgOutbox = 10,
    ImgSentbox = 11,
};
QIcon NodeIcon(int image);

} // namespace zel
