#pragma once

#include <QByteArray>
#include <QString>
#include <functional>

namespace zel {

class Database;

// "link://document/__zel_@cid:/" followed by an attachment id.
inline constexpr char16_t kCidPrefix[] = u"link://document/__zel_@cid:/";

// A link URL as the engine hands it over, percent escapes decoded as UTF-8 ("%20" a space, "%23" a
// "#" that must reach the handler as part of the path).
QString DecodeLinkUrl(const QString& url);
// The document URL of a node: "link://document" + its name path without the final "/" + ".htm";
// empty when there is no such node.
QString DocumentUrlForNode(Database& db, const QString& nodeId);
// The URL with every "#" written as "%23" (and spaces as "%20"), for navigating the engine.
QString EncodeLinkUrlForEngine(const QString& url);
// A MIME type for an answer, from the file name's extension; documents are HTML.
QByteArray LinkMimeType(const QString& fileName);

// What the handler answers for one request.
struct LinkAnswer {
    bool handled = false; // false: not a "link://document/" URL
    QByteArray data;
    QByteArray mimeType;
};

// The current document as the document pane knows it: its URL (without anchor), its node and where
// its HTML comes from right now (store, editor, source text or viewer).
struct CurrentLinkDocument {
    QString url;
    QString nodeId;
    std::function<QByteArray()> html; // empty: the store's content
};

// The answer to one request of the engine, URL as requested (encoded).
LinkAnswer AnswerLinkRequest(Database& db, const QString& requestedUrl, const CurrentLinkDocument& current);

// Where a navigation to a URL leads.
struct LinkTarget {
    enum Kind {
        External,   // http, https or mailto: the system's handler
        Refused,    // any other scheme: nothing happens
        Document,   // a node (nodeId), scrolled to anchor when given
        Attachment, // an attachment fileName of nodeId
        NotFound,   // a link URL naming no node
        ScrollOnly, // an anchor in the current document
    } kind = Refused;
    QString url; // the decoded URL (External: as given)
    QString nodeId;
    QString fileName;
    QString anchor;
    QString documentUrl; // Document: the node's document URL without anchor
};
LinkTarget ResolveLinkNavigation(Database& db, const QString& url, const QString& currentDocumentUrl);

} // namespace zel
