#include "store/Schema.h"

#include "platform/CodePage.h"
#include "platform/Dialect.h"
#include "shell/RuntimeSettings.h"
#include "shell/Strings.h"
#include "store/Compression.h"
#include "store/Nodes.h"
#include "store/PasswordHash.h"
#include "store/Sql.h"

namespace zel {

namespace {

// Column definitions after the id column, in the portable words; "%BLOB%" is the dialect's blob type.
struct TableDef {
    const char* name;
    bool hasId;
    const char* columns;
};

const TableDef kInfo{"info", true,
                     "hasdelete varchar(1) null,parentnode numeric null,fullpath varchar(120) null,"
                     "fullname varchar(255) null,caption varchar(120) null,background numeric null,"
                     "actor varchar(20) null,sorttype  int null,haschild varchar(1) null,"
                     "haspassword varchar(1) null,hashide varchar(1) null,haszip varchar(1) null,"
                     "filesize numeric null,browsemode varchar(1) null,inbox varchar(1) null,mailid numeric null,"
                     "mailtype varchar(1) null,createdate datetime null,modifydate datetime null,icon int null,"
                     "selectedicon int null,stateicon int null,mimeid numeric NULL,key_word varchar(200) null,"
                     "memotext %BLOB% null,readtype varchar(1) null,d_password varchar(150) null,"
                     "fontcolor numeric NULL,content %BLOB% null)"};
const TableDef kAccessories{"accessories", true,
                            "hasdelete varchar(1) null,infoid numeric null,filename varchar(120) null,"
                            "filesize numeric null,haszip varchar(1) null,createtime datetime null,"
                            "lasttime datetime null,document %BLOB% null)"};
const TableDef kUserInfo{"userinfo", true,
                         "u_code varchar(50) null,u_name varchar(50) null,u_password varchar(150) null,"
                         "u_description varchar(200) null,u_admin varchar(1) null,u_sorttype int null,"
                         "u_indexcontent numeric null,u_showhide varchar(1) null,u_haspassword varchar(1) null,"
                         "u_right varchar(250) null,autoMailTime numeric NULL,MarkTime numeric NULL,"
                         "rsMailAtLogin VARCHAR(1) NULL,exefile VARCHAR(250) NULL,background VARCHAR(250) NULL,"
                         "logincount numeric NULL,showwelcome VARCHAR(1) NULL,u_background numeric null)"};
const TableDef kUserRole{"userrole", true,
                         "u_rolename varchar(100) null,u_description varchar(100) null,u_right varchar(250) null)"};
const TableDef kUserBookmark{"userbookmark", true, "u_code varchar(50) null,infoid numeric null)"};
const TableDef kMailInfo{
    "mailinfo", true,
    "usercode varchar(50) null,descript varchar(150) null,name varchar(50) null,organization varchar(250) null,"
    "mailaddress varchar(250) null,replyaddress varchar(250) null,pop3 varchar(250) null,smtp varchar(250) null,"
    "pop3port int null,smtpport int null,popaccount varchar(100) null,poppassword varchar(150) null,"
    "remberpassword varchar(1) null,authsmtp varchar(1) null,authsmtpsamepop varchar(1) null,"
    "smtpaccount varchar(250) null,smtppassword varchar(150) null,directsend varchar(1) null,"
    "reqreceipt varchar(1) null,backupmail varchar(1) null,incomingid numeric null)"};
const TableDef kMail{"mail", true,
                     "subject varchar(250) null,mailaddress varchar(250) null,replyaddress varchar(250) null,"
                     "priority numeric null,cclist varchar(250) null,bcclist varchar(250) null,"
                     "Reciept varchar(1) null,directsend varchar(1) null,hasdelete varchar(1) null,"
                     "received datetime null,sent datetime null,bookmark varchar(250) null,"
                     "anonymity VARCHAR(1) NULL,account varchar(50) null)"};
const TableDef kMailRule{"mailrule", true,
                         "usercode varchar(50) null,name varchar(100) null,relation numeric null,"
                         "applay varchar(1) null)"};
const TableDef kMailRuleCondition{"mailRuleCondition", true,
                                  "ruleid numeric null,type numeric null,include numeric null,relation numeric null,"
                                  "keyword varchar(250) null)"};
const TableDef kMailRuleAction{"mailRuleAction", true,
                               "ruleid numeric null,type numeric null,keyword varchar(250) null)"};
const TableDef kLinkman{"linkman", true,
                        "name varchar(100) null,mailaddress varchar(250) null,address varchar(100) null,"
                        "tele varchar(50) null)"};
const TableDef kLinkgroup{"linkgroup", true, "name varchar(100) null)"};
const TableDef kMailUserLink{"mailuserlink", true, "linkmanid numeric null,linkgroupid numeric null)"};
const TableDef kSystemInfo{"systeminfo", false, "s_version varchar(50) null,outbox numeric null,sendbox numeric null)"};

QString createStatement(Dialect d, const TableDef& t) {
    QString cols = QString::fromLatin1(t.columns);
    cols.replace(QStringLiteral("%BLOB%"), dialect::blobType(d));
    return dialect::columnTypes(d, QStringLiteral("create table ") + QString::fromLatin1(t.name) +
                                       QStringLiteral(" (") + (t.hasId ? dialect::idColumn(d) : QString()) + cols);
}

bool create(Database& db, const TableDef& t) {
    return db.exec(createStatement(db.dialect(), t));
}

// The mail table creators swallow their own failures; a savepoint keeps a failed create from
// spoiling a surrounding transaction.
bool createQuietly(Database& db, std::initializer_list<const TableDef*> tables) {
    Transaction tx(db);
    for (const TableDef* t : tables)
        if (!create(db, *t)) return false;
    return tx.commit();
}

bool hasColumn(const QStringList& cols, const QString& name) {
    return cols.contains(name, Qt::CaseInsensitive);
}

bool writeVersionRow(Database& db) {
    bool ok = false;
    const QVariant n = db.scalar(QStringLiteral("select count(*) from systeminfo"), {}, &ok);
    if (!ok) return false;
    const Params p{{QStringLiteral(":v"), QString::number(kSchemaVersion)}};
    if (n.toLongLong() == 0) return db.exec(QStringLiteral("insert into systeminfo (s_version) values (:v)"), p);
    return db.exec(QStringLiteral("update systeminfo set s_version=:v"), p);
}

} // namespace

bool CreateMailAccountTable(Database& db) {
    return createQuietly(db, {&kMailInfo});
}
bool CreateMailTable(Database& db) {
    return createQuietly(db, {&kMail});
}
bool CreateMailRuleTables(Database& db) {
    return createQuietly(db, {&kMailRule, &kMailRuleCondition, &kMailRuleAction});
}
bool CreateAddressBookTables(Database& db) {
    return createQuietly(db, {&kLinkman, &kLinkgroup, &kMailUserLink});
}

namespace {

struct IndexDef {
    QString name;
    QString sql;
};

QList<IndexDef> indexDefs(Dialect d) {
    const bool pg = d == Dialect::Postgres;
    QList<IndexDef> defs{
        // Covers the tree's child listing, so a folder with thousands of children is listed from the
        // index alone, in order, without reading the rows and their content.
        {QStringLiteral("info_children"),
         QStringLiteral("create index if not exists info_children on info (parentnode,sorttype,id,hasdelete,caption,"
                        "haschild,createdate,modifydate,inbox,mailid,mailtype,mimeid,readtype,fontcolor)")},
        {QStringLiteral("info_fullpath"),
         pg ? QStringLiteral("create index if not exists info_fullpath on info (fullpath varchar_pattern_ops)")
            : QStringLiteral("create index if not exists info_fullpath on info (fullpath)")},
        {QStringLiteral("info_hasdelete"),
         QStringLiteral("create index if not exists info_hasdelete on info (hasdelete)")},
        {QStringLiteral("info_mailid"), QStringLiteral("create index if not exists info_mailid on info (mailid)")},
        // The search looks up protected documents on every run.
        {QStringLiteral("info_dpassword"),
         QStringLiteral("create index if not exists info_dpassword on info (d_password)")},
        {QStringLiteral("accessories_infoid"),
         QStringLiteral("create index if not exists accessories_infoid on accessories (infoid)")},
        {QStringLiteral("userbookmark_code"),
         QStringLiteral("create index if not exists userbookmark_code on userbookmark (u_code)")},
    };
    // FindNodeByName compares whole name paths without regard to case; SQLite's folding is a
    // function of ours that the file must not depend on, so only the server gets this index.
    if (pg)
        defs << IndexDef{
            QStringLiteral("info_namepath"),
            QStringLiteral("create index if not exists info_namepath on info (lower(fullname||caption||'/'))")};
    return defs;
}

// Every index of indexDefs exists (read only).
bool indexesPresent(Database& db) {
    const QList<IndexDef> defs = indexDefs(db.dialect());
    Params p;
    QString list;
    for (qsizetype i = 0; i < defs.size(); ++i) {
        const QString name = QStringLiteral(":n%1").arg(i);
        list += (i ? QStringLiteral(",") : QString()) + name;
        p.emplace_back(name, defs[i].name);
    }
    const QString sql = db.dialect() == Dialect::Sqlite
                            ? QStringLiteral("select count(*) from sqlite_master where type='index' and name in (%1)")
                            : QStringLiteral("select count(*) from pg_catalog.pg_indexes where "
                                             "schemaname=current_schema() and indexname in (%1)");
    bool ok = false;
    const qint64 n = db.scalar(sql.arg(list), p, &ok).toLongLong();
    return ok && n == defs.size();
}

} // namespace

bool EnsureIndexes(Database& db) {
    // Each index on its own: one that a knowledge base cannot take must not cost it the others.
    bool all = true;
    for (const IndexDef& i : indexDefs(db.dialect())) {
        Transaction tx(db);
        all = db.exec(i.sql) && tx.commit() && all;
    }
    return all;
}

bool SchemaIsCurrent(Database& db) {
    qint64 outbox = 0, sendbox = 0;
    {
        Query q(db, QStringLiteral("select s_version,outbox,sendbox from systeminfo"));
        if (!q.next() || q.text(0).trimmed().toInt() != kSchemaVersion) return false;
        outbox = q.integer(1);
        sendbox = q.integer(2);
        if (q.next()) return false; // one row only; the upgrade settles more
    }
    if (outbox < 1 || sendbox < 1 || outbox == sendbox) return false;
    bool ok = false;
    const qint64 live = db.scalar(QStringLiteral("select count(*) from info where id in (:o,:s) and ") + sql::live(),
                                  {{QStringLiteral(":o"), outbox}, {QStringLiteral(":s"), sendbox}}, &ok)
                            .toLongLong();
    return ok && live == 2 && indexesPresent(db);
}

bool CreateSchema(Database& db, const QString& adminCode, const QString& adminPassword) {
    Transaction tx(db);
    if (!tx.ok()) return false;
    for (const TableDef* t :
         {&kInfo, &kAccessories, &kUserInfo, &kUserRole, &kUserBookmark, &kMailInfo, &kMail, &kMailRule,
          &kMailRuleCondition, &kMailRuleAction, &kLinkman, &kLinkgroup, &kMailUserLink, &kSystemInfo})
        if (!create(db, *t)) return false;
    const QString code = adminCode.isEmpty() ? QStringLiteral("admin") : adminCode;
    const Params p{{QStringLiteral(":code"), code},
                   {QStringLiteral(":name"), GetString(40403)},
                   {QStringLiteral(":descr"), GetString(40404)},
                   {QStringLiteral(":pw"), HashPassword(adminPassword)}};
    if (!db.exec(QStringLiteral("insert into userinfo (u_code,u_name,u_admin,u_sorttype,u_description,u_password) "
                                "values (:code,:name,'Y',6,:descr,:pw)"),
                 p))
        return false;
    if (!writeVersionRow(db)) return false;
    if (!EnsureIndexes(db)) return false;
    return tx.commit();
}

QStringList ProbeColumns(Database& db, const QString& table, bool* ok) {
    Query q(db, QStringLiteral("select * from ") + table + QStringLiteral(" where 1=0"));
    if (ok) *ok = q.isActive();
    QStringList cols;
    for (int i = 0; i < q.columnCount(); ++i)
        cols << q.columnName(i);
    return cols;
}

int SchemaVersion(Database& db) {
    bool ok = false;
    const QVariant v = db.scalar(QStringLiteral("select s_version from systeminfo"), {}, &ok);
    return ok && v.isValid() ? v.toString().trimmed().toInt() : 0;
}

bool MoveHeadIntoContent(Database& db, const Progress& progress) {
    QList<qint64> ids;
    {
        Query q(db, QStringLiteral("select id from info"));
        if (!q.isActive()) return false;
        while (q.next())
            ids << q.integer(0);
    }
    progress.begin(GetString(41012), int(ids.size()));
    for (qint64 id : ids) {
        QString head;
        QByteArray content;
        {
            Query q(db, QStringLiteral("select id,head,content from info where id=:id"), {{QStringLiteral(":id"), id}});
            if (!q.isActive()) return false;
            if (!q.next()) continue;
            head = q.value(1).toString();
            content = q.value(2).toByteArray();
        }
        const QByteArray text = DecompressStream(content);
        if (!text.toLower().contains("<body")) {
            const QByteArray crlf("\r\n");
            QByteArray page = "<html>" + crlf + "<head>" + crlf + "</head>" + crlf + toSystemCodePage(head) + crlf +
                              text + crlf + "</body>" + crlf + "</html>" + crlf;
            if (!db.exec(QStringLiteral("update info set content=:c where id=:id"),
                         {{QStringLiteral(":c"), CompressStream(page)}, {QStringLiteral(":id"), id}}))
                return false;
        }
        progress.advance(1);
    }
    progress.end();
    return db.exec(QStringLiteral("alter table info  drop column head"));
}

bool UpgradeInfoTable(Database& db, const Progress& progress) {
    const Dialect d = db.dialect();
    bool ok = false;
    const QStringList cols = ProbeColumns(db, QStringLiteral("info"), &ok);
    if (!ok) return false;
    auto add = [&](const QString& defs) {
        for (const QString& s : dialect::addColumns(d, QStringLiteral("info"), defs))
            if (!db.exec(s)) return false;
        return true;
    };
    if (hasColumn(cols, QStringLiteral("head")) && !MoveHeadIntoContent(db, progress)) return false;
    if (!hasColumn(cols, QStringLiteral("inbox")) && !add(QStringLiteral("inbox varchar(1) null"))) return false;
    if (!hasColumn(cols, QStringLiteral("mailid")) && !add(QStringLiteral("mailid numeric null"))) return false;
    if (!hasColumn(cols, QStringLiteral("mailtype")) && !add(QStringLiteral("mailtype varchar(1) null"))) return false;
    if (!hasColumn(cols, QStringLiteral("readtype")) &&
        !add(QStringLiteral("readtype varchar(1) null,fontcolor numeric NULL")))
        return false;
    if (!hasColumn(cols, QStringLiteral("d_password")) && !add(QStringLiteral("d_password varchar(150) null")))
        return false;
    if (hasColumn(cols, QStringLiteral("background")) &&
        !db.exec(QStringLiteral("alter table info  drop column background")))
        return false;
    if (!hasColumn(cols, QStringLiteral("mimeid")) && !add(QStringLiteral("mimeid numeric NULL"))) return false;
    if (!hasColumn(cols, QStringLiteral("memotext")) &&
        !add(QStringLiteral("memotext ") + dialect::blobType(d) + QStringLiteral(" null")))
        return false;
    return true;
}

bool UpgradeUserTable(Database& db) {
    const Dialect d = db.dialect();
    bool ok = false;
    const QStringList cols = ProbeColumns(db, QStringLiteral("userinfo"), &ok);
    if (!ok) return false;
    auto add = [&](const QString& defs) {
        for (const QString& s : dialect::addColumns(d, QStringLiteral("userinfo"), defs))
            if (!db.exec(s)) return false;
        return true;
    };
    if (!hasColumn(cols, QStringLiteral("logincount")) &&
        !add(QStringLiteral("logincount numeric NULL,showwelcome VARCHAR(1) NULL")))
        return false;
    if (!hasColumn(cols, QStringLiteral("exefile")) &&
        !add(QStringLiteral("autoMailTime numeric NULL,MarkTime numeric NULL,rsMailAtLogin VARCHAR(1) NULL,"
                            "exefile VARCHAR(250) NULL,background VARCHAR(250) NULL")))
        return false;
    return true;
}

void UpgradeMailTables(Database& db) {
    const Dialect d = db.dialect();
    bool ok = false;
    // Each probe in its own savepoint: a failing probe must not abort the surrounding transaction.
    auto probe = [&](const QString& table) {
        Transaction tx(db);
        const QStringList cols = ProbeColumns(db, table, &ok);
        if (ok) tx.commit();
        return cols;
    };
    probe(QStringLiteral("mailinfo"));
    if (!ok) CreateMailAccountTable(db);

    const QStringList mailCols = probe(QStringLiteral("mail"));
    bool mailOk = ok;
    if (mailOk) {
        Transaction tx(db);
        auto add = [&](const QString& defs) {
            for (const QString& s : dialect::addColumns(d, QStringLiteral("mail"), defs))
                if (!db.exec(s)) return false;
            return true;
        };
        if (!hasColumn(mailCols, QStringLiteral("hasdelete")) && !add(QStringLiteral("hasdelete VARCHAR(1) NULL")))
            mailOk = false;
        if (mailOk && !hasColumn(mailCols, QStringLiteral("anonymity")) &&
            !add(QStringLiteral("anonymity VARCHAR(1) NULL")))
            mailOk = false;
        if (mailOk && !hasColumn(mailCols, QStringLiteral("received")) &&
            !add(QStringLiteral("received datetime null,sent datetime null")))
            mailOk = false;
        if (mailOk) tx.commit();
    }
    if (!mailOk) CreateMailTable(db);

    probe(QStringLiteral("mailrule"));
    if (!ok) CreateMailRuleTables(db);
    probe(QStringLiteral("linkman"));
    if (!ok) CreateAddressBookTables(db);
}

bool StampSchemaVersion(Database& db) {
    return writeVersionRow(db);
}

bool EnsureSystemFolder(Database& db, const QString& column, const QString& caption) {
    if (column != QStringLiteral("outbox") && column != QStringLiteral("sendbox")) return false;
    bool ok = false;
    const QVariant rows = db.scalar(QStringLiteral("select count(*) from systeminfo"), {}, &ok);
    if (!ok) return false;
    if (rows.toLongLong() == 0 && !db.exec(QStringLiteral("insert into systeminfo (s_version) values (null)")))
        return false;
    const qint64 current =
        db.scalar(QStringLiteral("select ") + column + QStringLiteral(" from systeminfo"), {}, &ok).toLongLong();
    if (!ok) return false;
    bool make = current < 1;
    if (!make) {
        const QVariant n = db.scalar(QStringLiteral("select count(*) from info Where id=:id and ") + sql::live(),
                                     {{QStringLiteral(":id"), current}}, &ok);
        if (!ok) return false;
        make = n.toLongLong() == 0;
    }
    if (!make) return true;
    Tinfoproperty rec;
    rec.caption = caption;
    rec.sortNumber = MaxSortNumber(db, QStringLiteral("0")) + 1;
    const QString id = InsertNode(db, rec, QStringLiteral("0"));
    if (id.isEmpty()) return false;
    return db.exec(QStringLiteral("update systeminfo set ") + column + QStringLiteral("=:id"),
                   {{QStringLiteral(":id"), id.toLongLong()}});
}

bool LoadSystemFolders(Database& db) {
    Query q(db, QStringLiteral("select outbox,sendbox from systeminfo"));
    if (!q.isActive()) return false;
    TRuntimeReg& reg = RuntimeSettings();
    reg.outboxNode = 0;
    reg.sendboxNode = 0;
    if (q.next()) {
        reg.outboxNode = int(q.integer(0));
        reg.sendboxNode = int(q.integer(1));
    }
    return true;
}

bool UpgradeSchema(Database& db, const Progress& progress) {
    // Most starts find nothing to do: they only read, so they never wait behind another writer.
    if (db.transactionDepth() == 0 && SchemaIsCurrent(db)) return true;
    Transaction tx(db);
    if (!tx.ok()) return false;
    // One upgrade at a time: programs started together on a new knowledge base would otherwise each
    // make the system folders. SQLite's write transaction already excludes the others.
    if (db.dialect() == Dialect::Postgres &&
        !db.exec(QStringLiteral("select pg_advisory_xact_lock(:key)"), {{QStringLiteral(":key"), qint64(0x7A656C01)}}))
        return false;
    {
        // Done meanwhile by the one that held the lock. A failed probe must not end the transaction.
        Transaction probe(db);
        const bool current = SchemaIsCurrent(db);
        probe.commit();
        if (current) return tx.commit();
    }
    bool needed = true;
    bool hasOutbox = false;
    {
        Transaction probe(db); // a missing table must not abort the surrounding transaction
        bool active = false;
        {
            Query q(db, QStringLiteral("Select * from systeminfo"));
            active = q.isActive();
            hasOutbox = q.columnIndex(QStringLiteral("outbox")) >= 0;
            if (q.next()) needed = q.value(QStringLiteral("s_version")).toString().trimmed().toInt() != kSchemaVersion;
        }
        if (active) probe.commit();
    }
    if (needed && !hasOutbox) {
        Transaction alter(db); // failure here is ignored
        bool ok = true;
        for (const QString& s : dialect::addColumns(db.dialect(), QStringLiteral("systeminfo"),
                                                    QStringLiteral("outbox numeric null,sendbox numeric null")))
            ok = ok && db.exec(s);
        if (ok) alter.commit();
    }
    if (needed) {
        if (!UpgradeInfoTable(db, progress) || !UpgradeUserTable(db)) return false;
        UpgradeMailTables(db);
        if (!StampSchemaVersion(db)) return false;
    }
    EnsureIndexes(db); // speed only: a knowledge base that cannot take them still opens
    if (!EnsureSystemFolder(db, QStringLiteral("outbox"), GetString(41059)) ||
        !EnsureSystemFolder(db, QStringLiteral("sendbox"), GetString(41060)))
        return false;
    return tx.commit();
}

} // namespace zel
