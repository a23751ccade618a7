#include "mail/MailRows.h"

#include "store/Sql.h"

namespace zel {

TMailmsgReg ReadMailRow(Database& db, const QString& mailId, bool* found) {
    TMailmsgReg rec;
    if (found) *found = false;
    Query q(db,
            QStringLiteral("select account,subject,cclist,bcclist,priority,Reciept,bookmark,mailaddress,directsend,"
                           "anonymity,replyaddress,received,sent from mail where id=:id"),
            {{QStringLiteral(":id"), sql::idValue(mailId)}});
    if (!q.next()) return rec;
    if (found) *found = true;
    rec.account = q.text(0);
    rec.subject = q.text(1);
    rec.ccList = q.text(2);
    rec.bccList = q.text(3);
    rec.priority = q.value(4).isNull() ? 3 : int(q.integer(4));
    rec.receipt = q.text(5) == QStringLiteral("Y");
    rec.bookmark = q.text(6);
    rec.mailAddress = q.text(7);
    rec.directSend = q.text(8) == QStringLiteral("Y");
    rec.anonymity = q.text(9) == QStringLiteral("Y");
    rec.replyAddress = q.text(10);
    rec.received = dbDateTime(q.value(11));
    rec.sent = dbDateTime(q.value(12));
    return rec;
}

bool UpdateMailRow(Database& db, const QString& mailId, const TMailmsgReg& rec) {
    return db.exec(QStringLiteral("update mail set account=:account,subject=:subject,cclist=:cclist,"
                                  "mailaddress=:mailaddress,bcclist=:bcclist,priority=:priority,Reciept=:reciept,"
                                  "directsend=:directsend,anonymity=:anonymity,bookmark=:bookmark where id=:id"),
                   {{QStringLiteral(":account"), rec.account},
                    {QStringLiteral(":subject"), rec.subject},
                    {QStringLiteral(":cclist"), rec.ccList},
                    {QStringLiteral(":mailaddress"), rec.mailAddress},
                    {QStringLiteral(":bcclist"), rec.bccList},
                    {QStringLiteral(":priority"), rec.priority},
                    {QStringLiteral(":reciept"), sql::yn(rec.receipt)},
                    {QStringLiteral(":directsend"), sql::yn(rec.directSend)},
                    {QStringLiteral(":anonymity"), sql::yn(rec.anonymity)},
                    {QStringLiteral(":bookmark"), rec.bookmark},
                    {QStringLiteral(":id"), sql::idValue(mailId)}});
}

} // namespace zel
