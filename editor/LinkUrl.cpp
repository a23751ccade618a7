#include "editor/LinkUrl.h"

#include <QMimeDatabase>
#include <QUrl>

#include "platform/Database.h"
#include "store/Content.h"
#include "store/Nodes.h"

namespace zel {

namespace {

const QString kDocumentPrefix = QStringLiteral("link://document");

bool isDocumentExtension(const QString& ext) {
    return ext == QStringLiteral("htm") || ext == QStringLiteral("html") || ext == QStringLiteral("shtml");
}

// The extension of the last path segment, lower-cased; empty when it has none.
QString lastExtension(const QString& path) {
    const qsizetype slash = qMax(path.lastIndexOf(u'/'), path.lastIndexOf(u'\\'));
    const qsizetype dot = path.lastIndexOf(u'.');
    if (dot < 0 || dot < slash) return {};
    return path.mid(dot + 1).toLower();
}

QString nodeForDirectory(Database& db, QString path) {
    while (path.endsWith(u'/') || path.endsWith(u'\\'))
        path.chop(1);
    if (path.isEmpty()) return QStringLiteral("0");
    return FindNodeByName(db, path);
}

} // namespace

QString DecodeLinkUrl(const QString& url) {
    if (!url.contains(u'%')) return url;
    return QUrl::fromPercentEncoding(url.toUtf8());
}

QString DocumentUrlForNode(Database& db, const QString& nodeId) {
    QString path = GetChildName(db, nodeId);
    if (path.isEmpty() || path == QStringLiteral("/")) return {};
    path.chop(1);
    return kDocumentPrefix + path + QStringLiteral(".htm");
}

QString EncodeLinkUrlForEngine(const QString& url) {
    QString out = url;
    out.replace(u'%', QStringLiteral("%25"));
    out.replace(u'#', QStringLiteral("%23"));
    out.replace(u' ', QStringLiteral("%20"));
    return out;
}

QByteArray LinkMimeType(const QString& fileName) {
    const QString ext = lastExtension(fileName);
    if (isDocumentExtension(ext)) return QByteArrayLiteral("text/html");
    static const QMimeDatabase mimes;
    const QMimeType t = mimes.mimeTypeForFile(fileName, QMimeDatabase::MatchExtension);
    if (!t.isValid() || t.isDefault()) return QByteArrayLiteral("application/octet-stream");
    return t.name().toLatin1();
}

LinkAnswer AnswerLinkRequest(Database& db, const QString& requestedUrl, const CurrentLinkDocument& current) {
    LinkAnswer a;
    const QString url = DecodeLinkUrl(requestedUrl);
    const QString lower = url.toLower();
    if (!lower.startsWith(kDocumentPrefix + u'/')) return a;
    a.handled = true;

    // The current document, with or without an anchor: from wherever its latest HTML is.
    if (!current.url.isEmpty() && (url == current.url || url.startsWith(current.url + u'#'))) {
        // Always UTF-8 here, whatever the page declares.
        a.mimeType = QByteArrayLiteral("text/html;charset=utf-8");
        a.data = current.html ? current.html() : ReadDocumentContent(db, current.nodeId);
        return a;
    }

    const QString cid = QString::fromUtf16(kCidPrefix);
    if (lower.startsWith(cid)) {
        // A rest that is no number, or names no live attachment, gives empty data.
        const QString name = ReadAttachmentById(db, a.data, url.mid(cid.size()));
        if (name.isEmpty()) a.data.clear();
        a.mimeType = name.isEmpty() ? QByteArrayLiteral("application/octet-stream") : LinkMimeType(name);
        return a;
    }

    // Path form: node path, last separator, file name.
    const qsizetype sep = qMax(url.lastIndexOf(u'/'), url.lastIndexOf(u'\\'));
    const QString directory = url.left(sep + 1);
    const QString fileName = url.mid(sep + 1);
    QString node;
    if (!current.url.isEmpty() && current.url.size() > 4 &&
        directory.toLower() == (current.url.left(current.url.size() - 4) + u'/').toLower())
        node = current.nodeId; // the current document's own attachments need no lookup
    else
        node = nodeForDirectory(db, directory.mid(kDocumentPrefix.size()));
    bool found = false;
    a.data = ReadAttachmentByName(db, node, fileName, &found);
    a.mimeType = found ? LinkMimeType(fileName) : QByteArrayLiteral("text/html");
    return a;
}

LinkTarget ResolveLinkNavigation(Database& db, const QString& url, const QString& currentDocumentUrl) {
    LinkTarget t;
    if (!url.left(15).toLower().startsWith(kDocumentPrefix)) {
        t.url = url;
        const QString scheme = QUrl(url).scheme().toLower();
        const bool system =
            scheme == QStringLiteral("http") || scheme == QStringLiteral("https") || scheme == QStringLiteral("mailto");
        t.kind = system ? LinkTarget::External : LinkTarget::Refused;
        return t;
    }
    t.url = DecodeLinkUrl(url);
    QString part = t.url.mid(kDocumentPrefix.size());
    if (const qsizetype hash = part.indexOf(u'#'); hash >= 0) {
        // A "#" inside the current document's own URL is part of its name, not an anchor.
        const QString own = currentDocumentUrl.mid(kDocumentPrefix.size());
        const qsizetype from = (!own.isEmpty() && part.startsWith(own)) ? own.size() : hash;
        const qsizetype anchorAt = part.indexOf(u'#', from);
        if (anchorAt >= 0) {
            t.anchor = part.mid(anchorAt + 1);
            part = part.left(anchorAt);
        }
    }
    if (!t.anchor.isEmpty() && kDocumentPrefix + part == currentDocumentUrl) {
        t.kind = LinkTarget::ScrollOnly;
        t.documentUrl = currentDocumentUrl;
        return t;
    }
    part = part.trimmed();
    const QString ext = lastExtension(part);
    const bool document = isDocumentExtension(ext);
    if (document) {
        part.chop(ext.size() + 1);
    } else {
        const qsizetype sep = qMax(part.lastIndexOf(u'/'), part.lastIndexOf(u'\\'));
        t.fileName = part.mid(sep + 1);
        part = part.left(qMax<qsizetype>(sep, 0));
    }
    t.nodeId = nodeForDirectory(db, part);
    if (t.nodeId == QStringLiteral("0") || t.nodeId.isEmpty()) {
        t.kind = LinkTarget::NotFound;
        t.nodeId.clear();
        return t;
    }
    if (!document) {
        t.kind = LinkTarget::Attachment;
        return t;
    }
    t.kind = LinkTarget::Document;
    t.documentUrl = DocumentUrlForNode(db, t.nodeId);
    return t;
}

} // namespace zel
