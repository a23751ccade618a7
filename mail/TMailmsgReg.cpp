#include "mail/TMailmsgReg.h"

#include "store/Sql.h"

namespace zel {

namespace {

QVariant dateOrNull(const QDateTime& d) {
    return d.isValid() && d.toMSecsSinceEpoch() > 0 ? QVariant(d) : QVariant();
}

} // namespace

qint64 InsertMailRow(Database& db, const QString& nodeId, const TMailmsgReg& rec) {
    Transaction tx(db);
    if (!tx.ok()) return 0;
    const qint64 id = db.insert(
        QStringLiteral("insert into mail (subject,account,cclist,bcclist,mailaddress,replyaddress,priority,received,"
                       "sent,directsend,anonymity,Reciept,bookmark,hasdelete) values (:subject,:account,:cclist,"
                       ":bcclist,:mailaddress,:replyaddress,:priority,:received,:sent,:directsend,:anonymity,"
                       ":reciept,:bookmark,'N') returning id"),
        {{QStringLiteral(":subject"), rec.subject},
         {QStringLiteral(":account"), rec.account},
         {QStringLiteral(":cclist"), rec.cclist},
         {QStringLiteral(":bcclist"), rec.bcclist},
         {QStringLiteral(":mailaddress"), rec.mailaddress},
         {QStringLiteral(":replyaddress"), rec.replyaddress},
         {QStringLiteral(":priority"), rec.priority},
         {QStringLiteral(":received"), dateOrNull(rec.received)},
         {QStringLiteral(":sent"), dateOrNull(rec.sent)},
         {QStringLiteral(":directsend"), sql::yn(rec.directsend)},
         {QStringLiteral(":anonymity"), sql::yn(rec.anonymity)},
         {QStringLiteral(":reciept"), sql::yn(rec.receipt)},
         {QStringLiteral(":bookmark"), rec.bookmark}});
    if (id <= 0) return 0;
    if (!db.exec(QStringLiteral("update info set mailid=:mailid Where id=:id"),
                 {{QStringLiteral(":mailid"), id}, {QStringLiteral(":id"), sql::idValue(nodeId)}}))
        return 0;
    return tx.commit() ? id : 0;
}

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
    rec.cclist = q.text(2);
    rec.bcclist = q.text(3);
    rec.priority = q.value(4).isNull() ? 3 : int(q.integer(4));
    rec.receipt = q.text(5) == QStringLiteral("Y");
    rec.bookmark = q.text(6);
    rec.mailaddress = q.text(7);
    rec.directsend = q.text(8) == QStringLiteral("Y");
    rec.anonymity = q.text(9) == QStringLiteral("Y");
    rec.replyaddress = q.text(10);
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
                    {QStringLiteral(":cclist"), rec.cclist},
                    {QStringLiteral(":mailaddress"), rec.mailaddress},
                    {QStringLiteral(":bcclist"), rec.bcclist},
                    {QStringLiteral(":priority"), rec.priority},
                    {QStringLiteral(":reciept"), sql::yn(rec.receipt)},
                    {QStringLiteral(":directsend"), sql::yn(rec.directsend)},
                    {QStringLiteral(":anonymity"), sql::yn(rec.anonymity)},
                    {QStringLiteral(":bookmark"), rec.bookmark},
                    {QStringLiteral(":id"), sql::idValue(mailId)}});
}

} // namespace zel
