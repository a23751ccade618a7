#pragma once

#include <QDateTime>
#include <QString>

#include "platform/Database.h"

namespace zel {

// One row of table mail.
struct TMailmsgReg {
    QString subject;
    QString mailaddress; // the To list
    QString replyaddress;
    qint32 priority = 3;
    QString cclist;
    QString bcclist;
    bool receipt = false; // column Reciept
    QString bookmark;
    QString account;
    QDateTime received;
    QDateTime sent;
    bool directsend = false;
    bool anonymity = false;
};

// Inserts the row and links the node to it (info.mailid); returns the mail id, 0 on failure.
qint64 InsertMailRow(Database& db, const QString& nodeId, const TMailmsgReg& rec);
// The row; an unknown id gives an empty record (found false).
TMailmsgReg ReadMailRow(Database& db, const QString& mailId, bool* found = nullptr);
// Rewrites the columns the mail panel edits: account, subject, lists, priority, flags, bookmark.
bool UpdateMailRow(Database& db, const QString& mailId, const TMailmsgReg& rec);

} // namespace zel
