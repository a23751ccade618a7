#pragma once

#include <QByteArray>
#include <QDateTime>
#include <QList>
#include <QString>

#include "mail/TMimeDecode.h"
#include "platform/Database.h"

namespace zel {

// One attachment or embedded file of a message.
struct TMsgPartInfo {
    QString attachmentId; // set once stored
    QByteArray contentId;
    QByteArray contentLocation;
    QString fileName;
    QByteArray data;
};

// One row of table mail.
struct TMailmsgReg {
    QString subject;
    QString mailAddress; // the To list
    QString replyAddress;
    int priority = 3;
    QString ccList;
    QString bccList;
    bool receipt = false;
    QString bookmark;
    QString account;
    QDateTime received;
    QDateTime sent;
    bool directSend = false;
    bool anonymity = false;
};

// Stores the mail row and links the node to it (info.mailid). Returns the mail id, empty on failure.
QString InsertMailRow(Database& db, const QString& nodeId, const TMailmsgReg& rec);

// The link URL of a stored attachment, as documents refer to their embedded files.
QString AttachmentLinkUrl(const QString& attachmentId);

// Rewrites the references of BODY, TABLE and TD backgrounds and IMG sources that name a part (by
// "cid:" + content id, or by content location) to the part's link URL, and declares the document
// UTF-8. Everything else of the HTML stays byte for byte.
QString RewriteMailHtml(const QString& html, const QList<TMsgPartInfo>& parts);

// A decoded message: the document it becomes, ready to be stored.
class TMimeDecorder {
public:
    // Decodes the raw message; never fails (what does not decode stays text or an attachment).
    void decode(const QByteArray& raw);
    // The fallback: the subject as caption and the whole message attached as "message.eml".
    void decodeAsRaw(const QByteArray& raw);

    QString subject; // the caption
    TMailmsgReg mailRow;
    QList<TMsgPartInfo> parts; // attachments in message order, names unique
    QString html;              // the document before the references are rewritten

    // Stores node, attachments, mail row and content under folderId in one transaction; with a spool
    // row id the row is claimed and removed in the same transaction. Returns the node id; empty on
    // failure, and when the spool row is gone (another process took it: *alreadyTaken is set).
    QString store(Database& db, const QString& folderId, const QString& mailType, qint64 spoolId = 0,
                  bool* alreadyTaken = nullptr);

private:
    void collect(const TMimePart& part);
    void addBodyText(const TMimePart& part, const QString& text);
    void addAttachment(const TMimePart& part, QByteArray data, QString name);
    QString uniqueName(const QString& name);

    QString bodyHtml_;
    bool bodyIsHtml_ = false;
    bool haveBody_ = false;
    QStringList extraHtml_; // further inline text parts, appended to the body
    int madeNames_ = 0;
};

// Decodes and stores a message as a document under folderId (no rules, no tree). Mail type "E" for
// imported files, "I" for received mail. Returns the node id, empty on failure. A message that
// cannot be converted becomes a document with the raw message attached as "message.eml".
QString ConvertMessage(Database& db, const QByteArray& raw, const QString& folderId, const QString& mailType);

} // namespace zel
