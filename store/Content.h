#pragma once

#include <QByteArray>
#include <QDateTime>
#include <QList>
#include <QString>

#include "platform/Database.h"

namespace zel {

// --- Document content ----------------------------------------------------------------------------

// The document as UTF-8 without byte-order mark. A node without a row or without content gives a
// small page showing its caption (or the missing-file text). statusText, when given, receives the
// status-bar size text.
QByteArray ReadDocumentContent(Database& db, const QString& nodeId, QString* statusText = nullptr);
// Stores text given as bytes (UTF-16 LE with mark from the editor; any form the readers detect) in
// the stored form; stream holds the compressed bytes afterwards. False when there is no such node.
bool WriteDocumentContent(Database& db, const QString& nodeId, QByteArray& stream);
// Stores text in the stored form (UTF-16 LE with mark, CR LF lines, compressed).
bool WriteDocumentText(Database& db, const QString& nodeId, const QString& text);
// The stored form of text for a content column; returns the uncompressed size (2 + 2 per character).
qint64 WriteContentField(QByteArray& field, const QString& text);
// Decodes stored content bytes (expanded when they expand) to text, detecting byte-order marks.
QString DecodeStoredContent(const QByteArray& stored);

// --- Attachments ---------------------------------------------------------------------------------

// ".gif" and ".jpg" files are kept as they are; everything else is compressed.
bool IsStoredRaw(const QString& fileName);
// The local path a "file:" reference names ("%20" as space); a reference without the scheme is a path.
QString FileReferenceToPath(const QString& fileReference);
// A name that stays inside a folder when appended to it: "/", "\" and ".." cannot lead elsewhere.
QString SafeAttachmentFileName(const QString& fileName);

// Store a file or bytes under a name; a live attachment of the node with that name (letter case
// ignored) is replaced, keeping its id and createtime. Return the id, empty on failure.
QString SaveAttachmentFromFile(Database& db, const QString& nodeId, const QString& fileReference,
                               const QString& fileName);
QString SaveAttachmentFromStream(Database& db, const QByteArray& data, const QString& nodeId, const QString& fileName);
// The bytes of the node's attachment with that name (a live one first, else a purged one until
// maintenance), or
// the missing-file page.
QByteArray ReadAttachmentByName(Database& db, const QString& nodeId, const QString& fileName, bool* found = nullptr);
// Writes the attachment (or the missing-file page) to targetPath; when targetPath is an existing
// folder, into it under the attachment's name made safe. Returns the size written for a found
// attachment, 0 when it was missing, -1 when the file cannot be written.
qint64 ExportAttachmentToFile(Database& db, const QString& nodeId, const QString& fileName, const QString& targetPath);
// The bytes of a live attachment; returns its file name, empty when there is none.
QString ReadAttachmentById(Database& db, QByteArray& stream, const QString& attachmentId);
// As ReadAttachmentByName: a live attachment of that name first.
QString FindAttachmentId(Database& db, const QString& nodeId, const QString& fileName);
QString GetAttachmentFileName(Database& db, const QString& attachmentId);
QString GetAttachmentNodeId(Database& db, const QString& attachmentId);
int CountAttachments(Database& db, const QString& nodeId);
bool IsAttachmentNameTaken(Database& db, const QString& nodeId, const QString& excludedId, const QString& fileName);
bool RenameAttachment(Database& db, const QString& attachmentId, const QString& newFileName);
bool MoveAttachment(Database& db, const QString& attachmentId, const QString& targetNodeId);
// Purges the attachment at once (it does not go to the recycle bin).
bool DeleteAttachment(Database& db, const QString& attachmentId);

// One row of the attachment panel.
struct AttachmentItem {
    qint64 id = 0;
    QString fileName;
    qint64 size = 0;
    QString sizeText;
    QString typeName; // from the MIME database
    QString iconName; // freedesktop icon name of the type
    QDateTime lastTime, createTime;
};
QList<AttachmentItem> FillAttachmentList(Database& db, const QString& nodeId);
// "1Kb" up to 999 bytes, else the whole thousands followed by "Kb".
QString AttachmentSizeText(qint64 bytes);

// link://document/A/B/x.gif <-> link://document/__zel_@cid:/ID
QString PathUrlToCidUrl(Database& db, const QString& url);
QString CidUrlToPathUrl(Database& db, const QString& url);

} // namespace zel
