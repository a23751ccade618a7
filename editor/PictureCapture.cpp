#include "editor/PictureCapture.h"

#include <QUrl>

#include "store/Content.h"

namespace zel {

QList<CaptureRow> CaptureCandidates(const QList<PictureInfo>& pictures, bool allPictures) {
    QList<CaptureRow> rows;
    for (const PictureInfo& p : pictures) {
        if (!allPictures && p.save.trimmed().compare(QStringLiteral("true"), Qt::CaseInsensitive) == 0) continue;
        const QString shown = QString(p.src).replace(QStringLiteral("%20"), QStringLiteral(" ")).trimmed();
        const QString lower = shown.toLower();
        if (!lower.startsWith(QStringLiteral("file:")) && !lower.startsWith(QStringLiteral("http:")) &&
            !lower.startsWith(QStringLiteral("https:")))
            continue;
        auto same = std::find_if(rows.begin(), rows.end(), [&](const CaptureRow& r) { return r.shown == shown; });
        if (same != rows.end()) {
            same->pictures << p.index;
            continue;
        }
        rows << CaptureRow{p.src.trimmed(), shown, {p.index}, true};
    }
    return rows;
}

QString CaptureFileName(const QString& source) {
    QString s = source.trimmed();
    const bool web = s.startsWith(QStringLiteral("http"), Qt::CaseInsensitive);
    if (web) {
        // Query and fragment name no file.
        for (const QChar c : {u'?', u'#'})
            if (const qsizetype cut = s.indexOf(c); cut >= 0) s = s.left(cut);
    }
    s = s.mid(qMax(s.lastIndexOf(u'/'), s.lastIndexOf(u'\\')) + 1);
    s = QUrl::fromPercentEncoding(s.toUtf8()).trimmed();
    if (s.isEmpty()) return QStringLiteral("picture");
    return SafeAttachmentFileName(s);
}

} // namespace zel
