#pragma once

#include <QList>
#include <QString>

namespace zel {

// One picture of the editor's document, by its index in the document's picture collection.
struct PictureInfo {
    int index = 0;
    QString src;
    QString save; // the helper attribute "save": "true" for pictures present when the document loaded
};

// One row of the "Download File" list: a distinct source and every picture that uses it.
struct CaptureRow {
    QString source; // as the pictures carry it
    QString shown;  // with "%20" as blanks
    QList<int> pictures;
    bool ticked = true;
};

// The pictures worth bringing into the knowledge base: "file:", "http:" and "https:" sources of
// pictures without save="true" (all of them with allPictures), one row per distinct source.
QList<CaptureRow> CaptureCandidates(const QList<PictureInfo>& pictures, bool allPictures);
// The attachment name for a source: the part after its last "/" or "\", without query or fragment,
// made safe as a file name; "picture" when nothing is left.
QString CaptureFileName(const QString& source);

} // namespace zel
