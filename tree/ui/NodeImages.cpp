#include "tree/ui/NodeImages.h"

#include <QApplication>
#include <QHash>
#include <QPainter>
#include <QStyle>

namespace zel {

namespace {

QIcon themed(const char* name, QStyle::StandardPixmap fallback) {
    return QIcon::fromTheme(QString::fromLatin1(name), QApplication::style()->standardIcon(fallback));
}

// The full bin is the empty one with a mark, so the two differ even without an icon theme.
QIcon marked(const QIcon& base) {
    QPixmap pm = base.pixmap(16, 16);
    if (pm.isNull()) {
        pm = QPixmap(16, 16);
        pm.fill(Qt::transparent);
    }
    QPainter p(&pm);
    p.setRenderHint(QPainter::Antialiasing);
    p.setBrush(QColor(200, 40, 40));
    p.setPen(Qt::NoPen);
    p.drawEllipse(QRectF(9, 9, 6, 6));
    return QIcon(pm);
}

} // namespace

QIcon NodeIcon(int image) {
    static QHash<int, QIcon> cache;
    const auto it = cache.constFind(image);
    if (it != cache.constEnd()) return *it;
    QIcon icon;
    switch (image) {
    case ImgFolder:
        icon = themed("folder", QStyle::SP_DirClosedIcon);
        break;
    case ImgFolderOpen:
        icon = themed("folder-open", QStyle::SP_DirOpenIcon);
        break;
    case ImgDocument:
    case ImgDocumentOpen:
        icon = themed("text-html", QStyle::SP_FileIcon);
        break;
    case ImgRoot:
    case ImgRootOpen:
        icon = themed("drive-harddisk", QStyle::SP_DriveHDIcon);
        break;
    case ImgBinEmpty:
        icon = themed("user-trash", QStyle::SP_TrashIcon);
        break;
    case ImgBinFull:
        icon = QIcon::fromTheme(QStringLiteral("user-trash-full"), marked(NodeIcon(ImgBinEmpty)));
        break;
    case ImgInbox:
        icon = themed("mail-folder-inbox", QStyle::SP_ArrowDown);
        break;
    case ImgOutbox:
        icon = themed("mail-folder-outbox", QStyle::SP_ArrowUp);
        break;
    case ImgSentbox:
        icon = themed("mail-folder-sent", QStyle::SP_ArrowRight);
        break;
    default:
        icon = themed("text-x-generic", QStyle::SP_FileIcon);
        break;
    }
    cache.insert(image, icon);
    return icon;
}

} // namespace zel
