#include "mail/MailAccounts.h"

#include <QMutex>
#include <QSet>

#include "mail/MailText.h"
#include "platform/Dialect.h"
#include "store/Nodes.h"
#include "store/PasswordHash.h"
#include "store/Sql.h"
#include "store/Users.h"

namespace zel {

QString mailTlsName(MailTls t) {
    switch (t) {
    case MailTls::Tls:
        return QStringLiteral("tls");
    case MailTls::StartTls:
        return QStringLiteral("starttls");
    case MailTls::None:
        return QStringLiteral("none");
    }
    return {};
}

bool parseMailTls(const QString& text, MailTls* t) {
    const QString s = text.trimmed().toLower();
    if (s == QStringLiteral("tls"))
        *t = MailTls::Tls;
    else if (s == QStringLiteral("starttls"))
        *t = MailTls::StartTls;
    else if (s == QStringLiteral("none"))
        *t = MailTls::None;
    else
        return false;
    return true;
}

namespace {

const char* const kSideTables[] = {
    "create table if not exists zel_mailsecurity (accountid numeric not null primary key,pop3tls varchar(10) null,"
    "smtptls varchar(10) null,allowplain varchar(1) null,cafile varchar(250) null)",
    // A message id seen on an account's server: never downloaded twice, whatever process asks.
    "create table if not exists zel_mailuidl (accountid numeric not null,uidl varchar(250) not null,"
    "seen datetime null,primary key (accountid,uidl))",
    // Downloaded, committed, not yet a document. The row goes in the document's transaction.
    "create table if not exists zel_mailspool (%ID%accountid numeric null,folderid numeric null,"
    "mailtype varchar(1) null,uidl varchar(250) null,received datetime null,message %BLOB% null)",
};

QMutex ensuredLock;
QSet<QString>& ensured() {
    static QSet<QString> s;
    return s;
}

QString flagText(const QVariant& v) {
    return v.toString().trimmed().toUpper();
}

int portOr(const QVariant& v, int fallback) {
    const int p = v.toString().trimmed().toInt();
    return p <= 0 ? fallback : p;
}

QString unscrambled(const QString& form) {
    QString text;
    if (form.trimmed().isEmpty() || !UnscramblePassword(form, &text)) return {};
    return text;
}

TMailReg readAccount(Database& db, Query& q) {
    TMailReg r;
    r.id = q.value(QStringLiteral("id")).toString();
    r.description = q.value(QStringLiteral("descript")).toString();
    r.name = q.value(QStringLiteral("name")).toString();
    r.organization = q.value(QStringLiteral("organization")).toString();
    r.mailAddress = q.value(QStringLiteral("mailaddress")).toString();
    r.replyAddress = q.value(QStringLiteral("replyaddress")).toString();
    r.pop3 = q.value(QStringLiteral("pop3")).toString();
    r.smtp = q.value(QStringLiteral("smtp")).toString();
    r.pop3Port = portOr(q.value(QStringLiteral("pop3port")), 110);
    r.smtpPort = portOr(q.value(QStringLiteral("smtpport")), 25);
    r.popAccount = q.value(QStringLiteral("popaccount")).toString();
    r.rememberPassword = flagText(q.value(QStringLiteral("remberpassword"))) != QStringLiteral("N");
    r.popPassword = unscrambled(q.value(QStringLiteral("poppassword")).toString());
    r.authSmtp = flagText(q.value(QStringLiteral("authsmtp"))) != QStringLiteral("N");
    r.authSmtpSamePop = flagText(q.value(QStringLiteral("authsmtpsamepop"))) != QStringLiteral("N");
    r.smtpAccount = q.value(QStringLiteral("smtpaccount")).toString();
    r.smtpPassword = unscrambled(q.value(QStringLiteral("smtppassword")).toString());
    r.directSend = flagText(q.value(QStringLiteral("directsend"))) != QStringLiteral("N");
    r.requestReceipt = flagText(q.value(QStringLiteral("reqreceipt"))) == QStringLiteral("Y");
    r.keepOnServer = flagText(q.value(QStringLiteral("backupmail"))) == QStringLiteral("Y");
    const qint64 incoming = q.value(QStringLiteral("incomingid")).toLongLong();
    r.incomingId = QString::number(incoming);
    return r;
}

void readSecurity(Database& db, TMailReg& r) {
    if (r.id.isEmpty() || !EnsureMailTables(db)) return;
    Query q(db, QStringLiteral("select pop3tls,smtptls,allowplain,cafile from zel_mailsecurity where accountid=:id"),
            {{QStringLiteral(":id"), sql::idValue(r.id)}});
    if (!q.next()) return;
    parseMailTls(q.text(0), &r.pop3Tls);
    parseMailTls(q.text(1), &r.smtpTls);
    r.allowPlain = q.text(2).trimmed().toUpper() == QStringLiteral("Y");
    r.caFile = q.text(3);
}

bool writeSecurity(Database& db, const TMailReg& r, qint64 id) {
    if (!EnsureMailTables(db)) return false;
    if (!db.exec(QStringLiteral("delete from zel_mailsecurity where accountid=:id"), {{QStringLiteral(":id"), id}}))
        return false;
    return db.exec(QStringLiteral("insert into zel_mailsecurity (accountid,pop3tls,smtptls,allowplain,cafile) "
                                  "values (:id,:pop3tls,:smtptls,:allowplain,:cafile)"),
                   {{QStringLiteral(":id"), id},
                    {QStringLiteral(":pop3tls"), mailTlsName(r.pop3Tls)},
                    {QStringLiteral(":smtptls"), mailTlsName(r.smtpTls)},
                    {QStringLiteral(":allowplain"), sql::yn(r.allowPlain)},
                    {QStringLiteral(":cafile"), r.caFile}});
}

// The columns both insert and update write. A password that is not remembered is stored empty, and
// so is the SMTP password when SMTP uses the POP3 login.
Params accountParams(const TMailReg& r) {
    const bool same = r.authSmtpSamePop;
    const QString popPassword = r.rememberPassword ? r.popPassword : QString();
    const QString smtpAccount = same ? r.popAccount : r.smtpAccount;
    const QString smtpPassword = same ? popPassword : r.smtpPassword;
    return {{QStringLiteral(":descript"), r.description},
            {QStringLiteral(":name"), r.name},
            {QStringLiteral(":organization"), r.organization},
            {QStringLiteral(":mailaddress"), r.mailAddress},
            {QStringLiteral(":replyaddress"), r.replyAddress},
            {QStringLiteral(":pop3"), r.pop3},
            {QStringLiteral(":smtp"), r.smtp},
            {QStringLiteral(":pop3port"), r.pop3Port <= 0 ? 110 : r.pop3Port},
            {QStringLiteral(":smtpport"), r.smtpPort <= 0 ? 25 : r.smtpPort},
            {QStringLiteral(":popaccount"), r.popAccount},
            {QStringLiteral(":poppassword"), ScramblePassword(popPassword)},
            {QStringLiteral(":remberpassword"), sql::yn(r.rememberPassword)},
            {QStringLiteral(":authsmtp"), sql::yn(r.authSmtp)},
            {QStringLiteral(":authsmtpsamepop"), sql::yn(same)},
            {QStringLiteral(":smtpaccount"), smtpAccount},
            {QStringLiteral(":smtppassword"), ScramblePassword(smtpPassword)},
            {QStringLiteral(":directsend"), sql::yn(r.directSend)},
            {QStringLiteral(":reqreceipt"), sql::yn(r.requestReceipt)},
            {QStringLiteral(":backupmail"), sql::yn(r.keepOnServer)},
            {QStringLiteral(":incomingid"), sql::idValue(r.incomingId)}};
}

// The live root folder "Inbox of NAME", made when missing. Empty on failure.
QString inboxFolderFor(Database& db, const QString& accountName) {
    QString caption = MailText(41128, u"Inbox of %s");
    caption.replace(QStringLiteral("%s"), accountName);
    {
        Query q(db,
                QStringLiteral("select id from info where parentnode=0 and ") +
                    dialect::ciEquals(db.dialect(), QStringLiteral("caption"), QStringLiteral(":caption")) +
                    QStringLiteral(" and ") + sql::live() + QStringLiteral(" order by id"),
                {{QStringLiteral(":caption"), caption}});
        if (q.next()) return q.text(0);
    }
    Tinfoproperty p;
    p.caption = caption;
    p.sortNumber = MaxSortNumber(db, QStringLiteral("0")) + 1;
    return InsertNode(db, p, QStringLiteral("0"));
}

} // namespace

bool EnsureMailTables(Database& db) {
    const QString key = db.connectionString();
    {
        QMutexLocker l(&ensuredLock);
        if (ensured().contains(key)) return true;
    }
    for (const char* statement : kSideTables) {
        QString s = QString::fromLatin1(statement);
        s.replace(QStringLiteral("%ID%"), dialect::idColumn(db.dialect()));
        s.replace(QStringLiteral("%BLOB%"), dialect::blobType(db.dialect()));
        s = dialect::columnTypes(db.dialect(), s);
        // A savepoint: a create that loses a race with another process must not spoil the caller's
        // transaction; the table is there either way.
        const bool created = [&] {
            Transaction tx(db);
            return db.exec(s) && tx.commit();
        }();
        if (!created) {
            const QString table = s.section(u' ', 5, 5);
            bool ok = false;
            const qint64 n = db.scalar(dialect::tableExistsQuery(db.dialect()), {{QStringLiteral(":name"), table}}, &ok)
                                 .toLongLong();
            if (!ok || n == 0) return false;
        }
    }
    QMutexLocker l(&ensuredLock);
    ensured().insert(key);
    return true;
}

TMailReg LoadAccount(Database& db, const QString& name, const QString& userCode) {
    TMailReg r;
    {
        Query q(db, QStringLiteral("select * from mailinfo where name=:name and usercode=:usercode order by id"),
                {{QStringLiteral(":name"), name}, {QStringLiteral(":usercode"), userCode}});
        if (!q.next()) return {};
        r = readAccount(db, q);
    }
    readSecurity(db, r);
    return r;
}

TMailReg LoadAccountById(Database& db, const QString& id) {
    TMailReg r;
    {
        Query q(db, QStringLiteral("select * from mailinfo where id=:id"), {{QStringLiteral(":id"), sql::idValue(id)}});
        if (!q.next()) return {};
        r = readAccount(db, q);
    }
    readSecurity(db, r);
    return r;
}

QList<TMailReg> ListAccounts(Database& db, const QString& userCode) {
    QList<TMailReg> out;
    {
        Query q(db, QStringLiteral("select * from mailinfo where usercode=:code order by id"),
                {{QStringLiteral(":code"), userCode}});
        while (q.next())
            out << readAccount(db, q);
    }
    for (TMailReg& r : out)
        readSecurity(db, r);
    return out;
}

QString InsertAccount(Database& db, TMailReg& rec, const QString& userCode) {
    if (!EnsureMailTables(db)) return {};
    Transaction tx(db);
    if (!tx.ok()) return {};
    QString incoming = rec.incomingId.trimmed();
    if (incoming.isEmpty() || incoming == QStringLiteral("0")) {
        incoming = inboxFolderFor(db, rec.name);
        if (incoming.isEmpty()) return {};
    }
    TMailReg r = rec;
    r.incomingId = incoming;
    Params p = accountParams(r);
    p.emplace_back(QStringLiteral(":usercode"), userCode);
    const qint64 id = db.insert(
        QStringLiteral("insert into mailinfo (usercode,descript,name,organization,mailaddress,replyaddress,pop3,smtp,"
                       "pop3port,smtpport,popaccount,poppassword,remberpassword,authsmtp,authsmtpsamepop,smtpaccount,"
                       "smtppassword,directsend,reqreceipt,backupmail,incomingid) values (:usercode,:descript,:name,"
                       ":organization,:mailaddress,:replyaddress,:pop3,:smtp,:pop3port,:smtpport,:popaccount,"
                       ":poppassword,:remberpassword,:authsmtp,:authsmtpsamepop,:smtpaccount,:smtppassword,"
                       ":directsend,:reqreceipt,:backupmail,:incomingid) returning id"),
        p);
    if (id <= 0 || !writeSecurity(db, r, id)) return {};
    SetInboxFlag(db, incoming);
    if (!tx.commit()) return {};
    rec.id = QString::number(id);
    rec.incomingId = incoming;
    return rec.id;
}

bool UpdateAccount(Database& db, const TMailReg& rec, const QString& id) {
    if (!EnsureMailTables(db)) return false;
    const qint64 nid = sql::idValue(id);
    Transaction tx(db);
    if (!tx.ok()) return false;
    bool ok = false;
    const QVariant old =
        db.scalar(QStringLiteral("select incomingid from mailinfo where id=:id"), {{QStringLiteral(":id"), nid}}, &ok);
    if (!ok || !old.isValid()) return false;
    Params p = accountParams(rec);
    p.emplace_back(QStringLiteral(":id"), nid);
    if (!db.exec(QStringLiteral("update mailinfo set descript=:descript,name=:name,organization=:organization,"
                                "mailaddress=:mailaddress,replyaddress=:replyaddress,pop3=:pop3,smtp=:smtp,"
                                "pop3port=:pop3port,smtpport=:smtpport,popaccount=:popaccount,"
                                "poppassword=:poppassword,remberpassword=:remberpassword,authsmtp=:authsmtp,"
                                "authsmtpsamepop=:authsmtpsamepop,smtpaccount=:smtpaccount,"
                                "smtppassword=:smtppassword,directsend=:directsend,reqreceipt=:reqreceipt,"
                                "backupmail=:backupmail,incomingid=:incomingid where id=:id"),
                 p))
        return false;
    if (!writeSecurity(db, rec, nid)) return false;
    const QString oldIncoming = QString::number(old.toLongLong());
    if (oldIncoming != QString::number(sql::idValue(rec.incomingId))) {
        SetInboxFlag(db, oldIncoming);
        SetInboxFlag(db, rec.incomingId);
    }
    return tx.commit();
}

bool DeleteAccount(Database& db, const QString& id) {
    const qint64 nid = sql::idValue(id);
    if (!EnsureMailTables(db)) return false;
    Transaction tx(db);
    if (!tx.ok()) return false;
    bool ok = false;
    const QVariant incoming =
        db.scalar(QStringLiteral("select incomingid from mailinfo where id=:id"), {{QStringLiteral(":id"), nid}}, &ok);
    if (!ok || !incoming.isValid()) return false;
    if (!db.exec(QStringLiteral("delete from mailinfo where id=:id"), {{QStringLiteral(":id"), nid}})) return false;
    db.exec(QStringLiteral("delete from zel_mailsecurity where accountid=:id"), {{QStringLiteral(":id"), nid}});
    db.exec(QStringLiteral("delete from zel_mailuidl where accountid=:id"), {{QStringLiteral(":id"), nid}});
    SetInboxFlag(db, QString::number(incoming.toLongLong()));
    return tx.commit();
}

bool IsAccountNameTaken(Database& db, const QString& id, const QString& name) {
    return db.scalar(QStringLiteral("select count(*) from mailinfo where id<>:id and name=:name"),
                     {{QStringLiteral(":id"), sql::idValue(id)}, {QStringLiteral(":name"), name}})
               .toLongLong() > 0;
}

} // namespace zel
