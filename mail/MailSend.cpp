#include "mail/MailSend.h"

#include "mail/MailAccounts.h"
#include "mail/TMail.h"

#include <QDateTime>
#include <QHash>
#include <QMimeDatabase>
#include <QRegularExpression>
#include <QSet>
#include <QSettings>
#include <QThread>
#include <QUrl>
#include <QUuid>
#include <gumbo.h>
#include <thread>
#include <tuple>

#include "platform/Paths.h"
#include "shell/Strings.h"
#include "store/Compression.h"
#include "store/Content.h"
#include "store/Nodes.h"
#include "store/PasswordHash.h"
#include "store/Sql.h"

namespace zel {

const char* const kMailDomain = "zel.invalid";

namespace {

const QString kCidPrefix = QStringLiteral("link://document/__zel_@cid:/");
const QString kDocumentPrefix = QStringLiteral("link://document");
const QString kAnonymousAddress = QStringLiteral("anonymous@zel.invalid");
// A claim older than this belongs to a run that died; another run may take the message.
constexpr qint64 kStaleClaimSeconds = 30 * 60;

// The run's texts: the current language's, else these.
QString sendText(int ident) {
    QString s = GetString(ident);
    if (!s.isEmpty()) return s;
    switch (ident) {
    case 41149:
        return QStringLiteral("You must specify some recipients for the message");
    case 41262:
        return QStringLiteral("Sending Mail From account %s: Messsage %d of %d");
    case 41264:
        return QStringLiteral("Opening Mail from account %s,please wait... ");
    case 41267:
        return QStringLiteral("Direct Sending Mail From account %s: Messsage %d of %d");
    case 41268:
        return QStringLiteral("Failed Direct Send Mail %s");
    case 41269:
        return QStringLiteral("Success Direct Send Mail %s");
    case 41270:
        return QStringLiteral("Failed Send Mail %s");
    case 41271:
        return QStringLiteral("Success Send Mail %s");
    default:
        return {};
    }
}

// printf-style "%s"/"%d" filled in order.
QString fill(QString pattern, const QStringList& values) {
    for (const QString& v : values) {
        const qsizetype s = pattern.indexOf(QStringLiteral("%s"));
        const qsizetype d = pattern.indexOf(QStringLiteral("%d"));
        qsizetype at = s < 0 ? d : (d < 0 ? s : qMin(s, d));
        if (at < 0) break;
        pattern.replace(at, 2, v);
    }
    return pattern;
}

struct SystemFolders {
    qint64 outbox = 0, sendbox = 0;
};

SystemFolders systemFolders(Database& db) {
    SystemFolders f;
    Query q(db, QStringLiteral("select outbox,sendbox from systeminfo"));
    if (q.next()) {
        f.outbox = q.integer(0);
        f.sendbox = q.integer(1);
    }
    return f;
}

// --- HTML of the document ------------------------------------------------------------------------

struct Splice {
    qsizetype start = 0, length = 0;
    QByteArray text;
};

bool isBlockTag(GumboTag t) {
    switch (t) {
    case GUMBO_TAG_P:
    case GUMBO_TAG_DIV:
    case GUMBO_TAG_TR:
    case GUMBO_TAG_LI:
    case GUMBO_TAG_H1:
    case GUMBO_TAG_H2:
    case GUMBO_TAG_H3:
    case GUMBO_TAG_H4:
    case GUMBO_TAG_H5:
    case GUMBO_TAG_H6:
    case GUMBO_TAG_TABLE:
    case GUMBO_TAG_UL:
    case GUMBO_TAG_OL:
    case GUMBO_TAG_BLOCKQUOTE:
    case GUMBO_TAG_PRE:
    case GUMBO_TAG_HR:
        return true;
    default:
        return false;
    }
}

void appendText(QByteArray& out, const char* text, bool pre) {
    if (pre) {
        out += text;
        return;
    }
    for (const char* p = text; *p; ++p) {
        const char c = *p;
        if (c == ' ' || c == '\t' || c == '\r' || c == '\n') {
            if (!out.isEmpty() && !out.endsWith(' ') && !out.endsWith('\n')) out += ' ';
        } else {
            out += c;
        }
    }
}

void newline(QByteArray& out) {
    while (out.endsWith(' '))
        out.chop(1);
    if (!out.isEmpty() && !out.endsWith('\n')) out += '\n';
}

void collectText(const GumboNode* node, QByteArray& out, bool pre) {
    if (node->type == GUMBO_NODE_TEXT || node->type == GUMBO_NODE_WHITESPACE || node->type == GUMBO_NODE_CDATA) {
        appendText(out, node->v.text.text, pre);
        return;
    }
    if (node->type != GUMBO_NODE_ELEMENT && node->type != GUMBO_NODE_TEMPLATE) return;
    const GumboTag tag = node->v.element.tag;
    if (tag == GUMBO_TAG_SCRIPT || tag == GUMBO_TAG_STYLE || tag == GUMBO_TAG_TEMPLATE || tag == GUMBO_TAG_HEAD) return;
    if (tag == GUMBO_TAG_BR) {
        newline(out);
        if (out.isEmpty()) out += '\n';
        return;
    }
    const bool block = isBlockTag(tag);
    if (block) newline(out);
    const GumboVector& children = node->v.element.children;
    for (unsigned i = 0; i < children.length; ++i)
        collectText(static_cast<const GumboNode*>(children.data[i]), out, pre || tag == GUMBO_TAG_PRE);
    if (block) newline(out);
}

struct MailBuild {
    explicit MailBuild(Database& d) : db(d) {}
    Database& db;
    const char* source = nullptr;
    QList<Splice> splices;
    QHash<QString, int> partOfAttachment; // attachment id -> index in files
    QList<SmtpFilePart> files;
    QSet<QString> imageAttachments;
    QString unreadable;
};

QString contentId(const QString& attachmentId) {
    return QStringLiteral("__") + attachmentId + u'@' + QString::fromLatin1(kMailDomain);
}

QByteArray mimeTypeOf(const QString& fileName) {
    static const QMimeDatabase mimes;
    const QMimeType t = mimes.mimeTypeForFile(fileName, QMimeDatabase::MatchExtension);
    return t.isValid() && !t.isDefault() ? t.name().toLatin1() : QByteArray("application/octet-stream");
}

// The bytes of a live attachment; false when there is none or its stored bytes do not expand.
bool readAttachment(Database& db, const QString& id, QString& name, QByteArray& data) {
    Query q(db, QStringLiteral("select filename,document from accessories where id=:id and ") + sql::live(),
            {{QStringLiteral(":id"), sql::idValue(id)}});
    if (!q.next()) return false;
    name = q.text(0);
    const QByteArray stored = q.value(1).toByteArray();
    if (IsStoredRaw(name)) {
        data = stored;
        return true;
    }
    bool ok = stored.isEmpty();
    data = stored.isEmpty() ? QByteArray() : DecompressStream(stored, &ok);
    return ok;
}

// A link URL of the knowledge base -> the attachment id it names, empty when none.
QString attachmentOfLink(Database& db, const QString& value) {
    if (value.startsWith(kCidPrefix, Qt::CaseInsensitive)) {
        const QString id = value.mid(kCidPrefix.size()).trimmed();
        bool ok = false;
        id.toLongLong(&ok);
        return ok ? id : QString();
    }
    if (!value.startsWith(kDocumentPrefix, Qt::CaseInsensitive)) return {};
    const QString path = QUrl::fromPercentEncoding(value.mid(kDocumentPrefix.size()).toUtf8());
    const qsizetype slash = path.lastIndexOf(u'/');
    if (slash < 0) return {};
    const QString node = FindNodeByName(db, path.left(slash));
    if (node.isEmpty() || node == QStringLiteral("0")) return {};
    return FindAttachmentId(db, node, path.mid(slash + 1));
}

void rewriteReference(MailBuild& b, const GumboAttribute* attr) {
    const QString value = QString::fromUtf8(attr->value).trimmed();
    if (value.isEmpty() || !value.startsWith(QStringLiteral("link:"), Qt::CaseInsensitive)) return;
    const QString attachmentId = attachmentOfLink(b.db, value);
    if (attachmentId.isEmpty()) return;
    if (!b.partOfAttachment.contains(attachmentId)) {
        QByteArray data;
        QString name;
        if (!readAttachment(b.db, attachmentId, name, data)) {
            // No such live attachment: the reference stays as it is. One that cannot be read fails the message.
            if (!name.isEmpty()) b.unreadable = name;
            return;
        }
        SmtpFilePart part;
        part.name = name;
        part.data = data;
        part.contentType = mimeTypeOf(name);
        part.headerLine = "Content-ID: <" + contentId(attachmentId).toUtf8() + ">";
        b.partOfAttachment.insert(attachmentId, int(b.files.size()));
        b.files += part;
        b.imageAttachments.insert(attachmentId);
    }
    if (attr->original_value.length == 0 || !attr->original_value.data) return;
    Splice s;
    s.start = attr->original_value.data - b.source;
    s.length = qsizetype(attr->original_value.length);
    const char quote = attr->original_value.data[0] == '\'' ? '\'' : '"';
    s.text = quote + ("cid:" + contentId(attachmentId).toUtf8()) + quote;
    b.splices += s;
}

void walk(MailBuild& b, const GumboNode* node) {
    if (node->type != GUMBO_NODE_ELEMENT && node->type != GUMBO_NODE_TEMPLATE && node->type != GUMBO_NODE_DOCUMENT)
        return;
    const GumboVector* children = nullptr;
    if (node->type == GUMBO_NODE_DOCUMENT) {
        children = &node->v.document.children;
    } else {
        const GumboElement& e = node->v.element;
        const char* attrName = nullptr;
        if (e.tag == GUMBO_TAG_BODY || e.tag == GUMBO_TAG_TABLE || e.tag == GUMBO_TAG_TD)
            attrName = "background";
        else if (e.tag == GUMBO_TAG_IMG)
            attrName = "src";
        if (attrName) {
            if (const GumboAttribute* a = gumbo_get_attribute(&e.attributes, attrName)) rewriteReference(b, a);
        }
        children = &e.children;
    }
    for (unsigned i = 0; i < children->length; ++i)
        walk(b, static_cast<const GumboNode*>(children->data[i]));
}

const GumboNode* findBody(const GumboNode* node) {
    if (node->type != GUMBO_NODE_ELEMENT && node->type != GUMBO_NODE_DOCUMENT) return nullptr;
    if (node->type == GUMBO_NODE_ELEMENT && node->v.element.tag == GUMBO_TAG_BODY) return node;
    const GumboVector& children =
        node->type == GUMBO_NODE_DOCUMENT ? node->v.document.children : node->v.element.children;
    for (unsigned i = 0; i < children.length; ++i)
        if (const GumboNode* f = findBody(static_cast<const GumboNode*>(children.data[i]))) return f;
    return nullptr;
}

QList<QByteArray> splitLines(const QByteArray& text) {
    QList<QByteArray> lines;
    qsizetype at = 0;
    while (at <= text.size()) {
        qsizetype lf = text.indexOf('\n', at);
        if (lf < 0) lf = text.size();
        QByteArray l = text.mid(at, lf - at);
        if (l.endsWith('\r')) l.chop(1);
        lines += l;
        at = lf + 1;
    }
    // A final line end does not make an empty last line.
    if (lines.size() > 1 && lines.last().isEmpty() && text.endsWith('\n')) lines.removeLast();
    return lines;
}

bool linesNeedEncoding(const QList<QByteArray>& lines, bool eightBitOk, bool* nonAscii) {
    bool need = false;
    for (const QByteArray& l : lines) {
        if (l.size() > 998 || l.startsWith("--") || l.contains('\r') || l.contains('\0')) need = true;
        for (const char c : l)
            if (static_cast<unsigned char>(c) >= 128) *nonAscii = true;
    }
    return need || (*nonAscii && !eightBitOk);
}

// "Name <a@b>" with a display name that needs it as encoded words or quoted.
QByteArray headerAddress(const QString& entry) {
    const qsizetype lt = entry.indexOf(u'<');
    if (lt <= 0) return CleanHeaderValue(entry.trimmed().toUtf8());
    QString name = entry.left(lt).trimmed();
    if (name.size() >= 2 && name.startsWith(u'"') && name.endsWith(u'"')) name = name.mid(1, name.size() - 2);
    const QByteArray addr = CleanHeaderValue(entry.mid(lt).trimmed().toUtf8());
    if (name.isEmpty()) return addr;
    QByteArray n = CleanHeaderValue(name.toUtf8());
    bool ascii = true;
    for (const char c : n)
        if (static_cast<unsigned char>(c) >= 128) ascii = false;
    if (!ascii) return EncodeHeaderWords(n, "utf-8", "b").replace("\r\n\t", " ") + ' ' + addr;
    static const QByteArray specials = "()<>@,;:\\\".[]";
    bool quote = false;
    for (const char c : n)
        if (specials.contains(c)) quote = true;
    if (quote) n = '"' + n.replace('\\', "\\\\").replace('"', "\\\"") + '"';
    return n + ' ' + addr;
}

QByteArray headerList(const QStringList& entries) {
    QList<QByteArray> parts;
    for (const QString& e : entries)
        parts += headerAddress(e);
    return parts.join(", ");
}

// --- Claims --------------------------------------------------------------------------------------

void ensureClaimTable(Database& db) {
    Transaction tx(db); // a savepoint: a concurrent create must not abort anything around it
    if (db.exec(QStringLiteral("create table if not exists zel_mail_claim (infoid numeric primary key,"
                               "claimed numeric null,owner varchar(64) null)")))
        tx.commit();
}

bool claimMessage(Database& db, const QString& nodeId, qint64 outbox, const QString& owner) {
    const qint64 now = QDateTime::currentSecsSinceEpoch();
    db.exec(QStringLiteral("delete from zel_mail_claim where infoid=:id and claimed<:stale"),
            {{QStringLiteral(":id"), sql::idValue(nodeId)}, {QStringLiteral(":stale"), now - kStaleClaimSeconds}});
    {
        Transaction tx(db);
        if (!db.exec(QStringLiteral("insert into zel_mail_claim (infoid,claimed,owner) values (:id,:now,:owner)"),
                     {{QStringLiteral(":id"), sql::idValue(nodeId)},
                      {QStringLiteral(":now"), now},
                      {QStringLiteral(":owner"), owner}}))
            return false; // another run holds it
        tx.commit();
    }
    // Another run may have sent it between our listing and the claim.
    bool ok = false;
    const QVariant n =
        db.scalar(QStringLiteral("select count(*) from info where id=:id and parentnode=:outbox and ") + sql::live(),
                  {{QStringLiteral(":id"), sql::idValue(nodeId)}, {QStringLiteral(":outbox"), outbox}}, &ok);
    if (ok && n.toLongLong() == 1) return true;
    db.exec(QStringLiteral("delete from zel_mail_claim where infoid=:id and owner=:owner"),
            {{QStringLiteral(":id"), sql::idValue(nodeId)}, {QStringLiteral(":owner"), owner}});
    return false;
}

void releaseMessage(Database& db, const QString& nodeId, const QString& owner) {
    db.exec(QStringLiteral("delete from zel_mail_claim where infoid=:id and owner=:owner"),
            {{QStringLiteral(":id"), sql::idValue(nodeId)}, {QStringLiteral(":owner"), owner}});
}

// --- Sending -------------------------------------------------------------------------------------

struct OutboxRow {
    QString nodeId;
    QString caption;
};

class AccountSender {
public:
    AccountSender(SendRun& run, const SmtpAccount& acc) : run_(run), acc_(acc) {
        owner_ = QUuid::createUuid().toString(QUuid::WithoutBraces);
    }

    void sendAll(const QList<OutboxRow>& rows, qint64 outbox) {
        if (run_.observer.barMaximum) run_.observer.barMaximum(int(rows.size()));
        int counter = 0;
        for (const OutboxRow& r : rows) {
            if (run_.cancel) break;
            ++counter;
            if (!claimMessage(run_.db, r.nodeId, outbox, owner_)) {
                // Another run has it; only a run for this one message says so.
                if (!run_.nodeId.isEmpty())
                    row(false, fill(sendText(41270), {r.caption}) + QStringLiteral(" - another run is sending it"));
                continue;
            }
            sendOne(r, counter, int(rows.size()));
            releaseMessage(run_.db, r.nodeId, owner_);
            if (run_.observer.barStep) run_.observer.barStep();
        }
        if (server_.connected()) server_.Quit();
        server_.Abort();
    }

private:
    void status(const QString& s) {
        if (run_.observer.status) run_.observer.status(s);
    }
    void row(bool ok, const QString& text) {
        if (ok)
            ++run_.sentCount;
        else
            ++run_.errorCount;
        if (run_.observer.row) run_.observer.row(acc_.name, ok, text);
    }
    QString label(const PreparedMail& m) const { return m.to.join(u';') + u':' + m.subject; }

    void configure(TSmtpCli& cli) {
        cli.Timeout = run_.direct.timeout;
        cli.Cancel = &run_.cancel;
    }

    // Texts of the message in the form this connection takes.
    void compose(TSmtpCli& cli, const PreparedMail& m) {
        const bool eightBit = cli.hasExtension(QStringLiteral("8BITMIME"));
        ComposeMail(cli, m, eightBit);
        // The sender: the account's address; an anonymous message carries a placeholder only.
        const QString from = m.anonymous ? kAnonymousAddress : acc_.mailAddress;
        cli.HdrFrom = CleanHeaderValue(from.toUtf8());
        cli.HdrSender.clear();
        cli.FromName = from;
        cli.MailFromParameters =
            cli.TransferEncoding == "8bit" && eightBit ? QByteArray(" BODY=8BITMIME") : QByteArray();
    }

    bool ensureServer(QString* error) {
        if (server_.connected()) return true;
        if (!serverError_.isEmpty()) {
            *error = serverError_;
            return false;
        }
        if (acc_.smtpHost.isEmpty()) {
            *error = QStringLiteral("the account has no SMTP server");
            return false;
        }
        configure(server_);
        server_.Host = acc_.smtpHost;
        server_.Port = acc_.smtpPort;
        server_.Tls = acc_.tls;
        server_.CaFile = acc_.caFile;
        server_.VerifyPeer = true;
        server_.AllowPlainAuth = acc_.allowPlain;
        server_.SignOn = QString();
        auto failWith = [&](int code) {
            serverError_ =
                QString::fromUtf8(server_.ErrorMessage.isEmpty() ? server_.LastResponse : server_.ErrorMessage);
            if (serverError_.isEmpty()) serverError_ = QStringLiteral("error %1").arg(code);
            server_.Abort();
            *error = serverError_;
            return false;
        };
        int code = server_.Connect();
        if (code) return failWith(code);
        if ((code = server_.Ehlo()) != 0) {
            if (code >= kSmtpSocketError) return failWith(code);
            if ((code = server_.Helo()) != 0) return failWith(code);
        }
        if (acc_.tls == SmtpTlsMode::StartTls) {
            if ((code = server_.StartTls()) != 0) return failWith(code);
            if ((code = server_.Ehlo()) != 0) return failWith(code);
        }
        if (acc_.authSmtp) {
            if (!server_.verified() && !acc_.allowPlain) {
                server_.ErrorMessage = "530 credentials are only sent over verified TLS (allow plain to override)";
                return failWith(530);
            }
            server_.Username = acc_.user;
            server_.Password = acc_.password;
            server_.AuthType = smtpAuthAutoSelect;
            code = server_.Auth();
            if (code >= kSmtpSocketError || code == 535) return failWith(code);
        }
        return true;
    }

    // Sends m to recipients over the account's server; returns how many took it.
    int viaServer(const PreparedMail& m, const QStringList& recipients, QStringList* failures) {
        QString error;
        if (!ensureServer(&error)) {
            failures->append(error);
            return 0;
        }
        TSmtpCli& c = server_;
        compose(c, m);
        c.FromName = acc_.mailAddress;
        c.RcptName = recipients;
        const bool reused = serverMessages_++ > 0;
        int code = c.MailFrom();
        if (reused && code >= kSmtpSocketError && code != kSmtpCancelled) {
            // The server closed the connection after the last message: one new connection.
            c.Abort();
            serverMessages_ = 0;
            if (!ensureServer(&error)) {
                failures->append(error);
                return 0;
            }
            serverMessages_ = 1;
            compose(c, m);
            code = c.MailFrom();
        }
        if (code == 0) code = c.RcptTo();
        for (const QByteArray& r : c.RejectedRcpt)
            row(false, fill(sendText(41270), {label(m)}) + QStringLiteral(" - ") + QString::fromUtf8(r));
        if (code == 0) code = c.Data();
        if (code == 0) return c.AcceptedRcpt;
        failures->append(QString::fromUtf8(c.ErrorMessage.isEmpty() ? c.LastResponse : c.ErrorMessage));
        if (c.connected())
            c.Rset();
        else
            c.Abort(); // the next message connects again
        return 0;
    }

    // Delivers m to the recipients of one domain at its mail exchangers.
    enum class Direct { Delivered, NoHosts, Failed };
    Direct viaExchangers(const PreparedMail& m, const QString& domain, const QStringList& recipients, int* accepted,
                         QStringList* failures) {
        TDnsQuery dns;
        dns.Servers = run_.direct.nameServers.isEmpty() ? FindDnsServer() : run_.direct.nameServers;
        dns.Timeout = run_.direct.timeout;
        dns.Cancel = &run_.cancel;
        QList<MailHost> hosts;
        QString error;
        const MailHostStatus st = LookUpMailHosts(dns, domain, hosts, &error);
        QStringList hostFailures; // reported only when no host takes the message
        if (st != MailHostStatus::Found) {
            failures->append(error);
            return st == MailHostStatus::NoHosts ? Direct::NoHosts : Direct::Failed;
        }
        for (const MailHost& h : hosts) {
            for (const QHostAddress& a : h.addresses) {
                if (run_.cancel) {
                    failures->append(hostFailures);
                    return Direct::Failed;
                }
                TSmtpCli c;
                configure(c);
                c.Host = h.name;
                c.ConnectAddress = a.toString();
                c.Port = run_.direct.port;
                c.CaFile = run_.direct.caFile;
                c.VerifyPeer = !run_.direct.caFile.isEmpty();
                c.SignOn = m.anonymous ? QStringLiteral("abc") : QString();
                auto reason = [&c] {
                    return QString::fromUtf8(c.ErrorMessage.isEmpty() ? c.LastResponse : c.ErrorMessage);
                };
                // Only a connection failure or a temporary (4xx) refusal moves on to the next host.
                auto nextHost = [](int code) { return code >= kSmtpSocketError || (code >= 400 && code < 500); };
                int code = c.Connect();
                if (code == 0 && (code = c.Ehlo()) != 0 && code >= 500 && code < 600) code = c.Helo();
                if (code == 0 && c.hasExtension(QStringLiteral("STARTTLS"))) {
                    code = c.StartTls();
                    if (code == 0) code = c.Ehlo();
                    if (code != 0 && code < kSmtpSocketError) code = kSmtpSocketError; // try the next host
                }
                if (code == 0) {
                    compose(c, m);
                    c.FromName = m.anonymous ? kAnonymousAddress : acc_.mailAddress;
                    c.RcptName = recipients;
                    code = c.MailFrom();
                    if (code == 0) code = c.RcptTo();
                    if (code == 0 || !nextHost(code))
                        for (const QByteArray& r : c.RejectedRcpt)
                            row(false,
                                fill(sendText(41268), {label(m)}) + QStringLiteral(" - ") + QString::fromUtf8(r));
                    if (code == 0) code = c.Data();
                }
                if (code == 0) {
                    *accepted += c.AcceptedRcpt;
                    c.Quit();
                    return Direct::Delivered;
                }
                hostFailures.append(h.name + QStringLiteral(": ") + reason());
                c.Abort();
                if (!nextHost(code)) {
                    failures->append(hostFailures);
                    return Direct::Failed;
                }
            }
        }
        failures->append(hostFailures);
        return Direct::Failed;
    }

    void sendOne(const OutboxRow& r, int counter, int total) {
        PreparedMail m;
        QString error;
        if (!PrepareMail(run_.db, r.nodeId, m, &error)) {
            row(false, fill(sendText(41270), {r.caption}) + QStringLiteral(" - ") + error);
            return;
        }
        status(fill(sendText(m.direct ? 41267 : 41262), {acc_.name, QString::number(counter), QString::number(total)}));
        // Envelope recipients: To, CC, BCC; entries that are no address are reported and left out.
        QStringList recipients;
        for (const QStringList* list : {&m.to, &m.cc, &m.bcc})
            for (const QString& e : *list) {
                const QString a = EnvelopeAddress(e);
                if (a.isEmpty())
                    row(false, fill(sendText(41270), {label(m)}) + QStringLiteral(" - not an address: ") + e);
                else if (!recipients.contains(a, Qt::CaseInsensitive))
                    recipients += a;
            }
        if (recipients.isEmpty()) {
            row(false, fill(sendText(m.direct ? 41268 : 41270), {label(m)}) + QStringLiteral(" - no recipients"));
            return;
        }
        int accepted = 0;
        bool anyDirect = false;
        QStringList failures;
        QStringList toServer;
        if (m.direct) {
            // One delivery per recipient domain, in the order the domains first appear.
            QStringList domains;
            QHash<QString, QStringList> byDomain;
            for (const QString& a : recipients) {
                const QString d = a.section(u'@', -1).toLower();
                if (!byDomain.contains(d)) domains += d;
                byDomain[d] += a;
            }
            for (const QString& d : domains) {
                if (run_.cancel) return;
                const Direct res = viaExchangers(m, d, byDomain[d], &accepted, &failures);
                if (res == Direct::Delivered)
                    anyDirect = true;
                else if (res == Direct::NoHosts && !m.anonymous && !acc_.smtpHost.isEmpty())
                    toServer += byDomain[d]; // no exchanger: the account's server may know better
            }
        } else {
            toServer = recipients;
        }
        if (!toServer.isEmpty() && !run_.cancel) accepted += viaServer(m, toServer, &failures);
        if (accepted > 0) {
            if (!MarkMessageSent(run_.db, r.nodeId, anyDirect)) {
                row(false, fill(sendText(41270), {label(m)}) +
                               QStringLiteral(" - sent, but not moved to the sent box: ") + run_.db.lastError());
                return;
            }
            if (run_.observer.sent) run_.observer.sent(r.nodeId);
            row(true, fill(sendText(anyDirect ? 41269 : 41271), {label(m)}));
            for (const QString& f : failures)
                row(false, fill(sendText(anyDirect ? 41268 : 41270), {label(m)}) + QStringLiteral(" - ") + f);
        } else {
            row(false,
                fill(sendText(m.direct ? 41268 : 41270), {label(m)}) +
                    (failures.isEmpty() ? QString() : QStringLiteral(" - ") + failures.join(QStringLiteral("; "))));
        }
    }

    SendRun& run_;
    SmtpAccount acc_;
    TSmtpCli server_;
    int serverMessages_ = 0; // messages begun on the current connection
    QString serverError_;
    QString owner_;
};

QList<OutboxRow> outboxRows(Database& db, qint64 outbox, const QString& account, const QString& nodeId) {
    QList<OutboxRow> rows;
    QString sql = QStringLiteral("select info.id,info.caption from info left join mail on info.mailid=mail.id where ") +
                  sql::live(QStringLiteral("info")) +
                  QStringLiteral(" and info.parentnode=:outbox and mail.account=:account");
    Params p{{QStringLiteral(":outbox"), outbox}, {QStringLiteral(":account"), account}};
    if (!nodeId.isEmpty()) {
        sql += QStringLiteral(" and info.id=:id");
        p.emplace_back(QStringLiteral(":id"), sql::idValue(nodeId));
    }
    Query q(db, sql + QStringLiteral(" order by info.id"), p);
    while (q.next())
        rows += OutboxRow{QString::number(q.integer(0)), q.text(1)};
    return rows;
}

} // namespace

DirectSettings LoadDirectSettings() {
    DirectSettings s;
    QSettings ini(homeFolder() + QStringLiteral("mail.ini"), QSettings::IniFormat);
    ini.beginGroup(QStringLiteral("Direct"));
    for (const QString& n : ini.value(QStringLiteral("NameServer")).toString().split(u' ', Qt::SkipEmptyParts))
        s.nameServers += ParseDnsServer(n);
    s.port = quint16(ini.value(QStringLiteral("Port"), 25).toUInt());
    s.caFile = ini.value(QStringLiteral("CaFile")).toString();
    s.timeout = ini.value(QStringLiteral("Timeout"), 60).toInt();
    ini.endGroup();
    const QString dns = qEnvironmentVariable("ZEL_DNS_SERVER");
    if (!dns.isEmpty()) {
        s.nameServers.clear();
        for (const QString& n : dns.split(QRegularExpression(QStringLiteral("[ ,]")), Qt::SkipEmptyParts))
            s.nameServers += ParseDnsServer(n);
    }
    if (qEnvironmentVariableIsSet("ZEL_SMTP_DIRECT_PORT"))
        s.port = quint16(qEnvironmentVariableIntValue("ZEL_SMTP_DIRECT_PORT"));
    if (qEnvironmentVariableIsSet("ZEL_SMTP_CA_FILE")) s.caFile = qEnvironmentVariable("ZEL_SMTP_CA_FILE");
    if (qEnvironmentVariableIsSet("ZEL_MAIL_TIMEOUT")) s.timeout = qEnvironmentVariableIntValue("ZEL_MAIL_TIMEOUT");
    if (s.port == 0) s.port = 25;
    if (s.timeout <= 0) s.timeout = 60;
    return s;
}

bool SaveDirectSettings(const DirectSettings& s) {
    QSettings ini(homeFolder() + QStringLiteral("mail.ini"), QSettings::IniFormat);
    ini.beginGroup(QStringLiteral("Direct"));
    QStringList servers;
    for (const DnsServer& d : s.nameServers)
        servers += d.host.contains(u':') ? QStringLiteral("[%1]:%2").arg(d.host).arg(d.port)
                                         : QStringLiteral("%1:%2").arg(d.host).arg(d.port);
    ini.setValue(QStringLiteral("NameServer"), servers.join(u' '));
    ini.setValue(QStringLiteral("Port"), s.port);
    ini.setValue(QStringLiteral("CaFile"), s.caFile);
    ini.setValue(QStringLiteral("Timeout"), s.timeout);
    ini.endGroup();
    ini.sync();
    return ini.status() == QSettings::NoError;
}

QStringList SplitAddressList(const QString& list) {
    QStringList out;
    QString cur;
    bool quoted = false;
    int angle = 0;
    for (const QChar c : list) {
        if (c == u'"') quoted = !quoted;
        if (!quoted && c == u'<') ++angle;
        if (!quoted && c == u'>' && angle > 0) --angle;
        if (!quoted && angle == 0 && (c == u';' || c == u',')) {
            if (!cur.trimmed().isEmpty()) out += cur.trimmed();
            cur.clear();
            continue;
        }
        cur += c;
    }
    if (!cur.trimmed().isEmpty()) out += cur.trimmed();
    return out;
}

QString EnvelopeAddress(const QString& entry) {
    QString a = entry.trimmed();
    const qsizetype lt = a.lastIndexOf(u'<');
    if (lt >= 0) {
        const qsizetype gt = a.indexOf(u'>', lt);
        if (gt < 0) return {};
        a = a.mid(lt + 1, gt - lt - 1).trimmed();
    }
    const qsizetype at = a.lastIndexOf(u'@');
    if (at <= 0 || at == a.size() - 1) return {};
    for (const QChar c : a)
        if (c.unicode() <= 32 || c == u'<' || c == u'>' || c == u'(' || c == u')' || c == u',' || c == u';' ||
            c.unicode() == 127)
            return {};
    return a;
}

bool PrepareMail(Database& db, const QString& nodeId, PreparedMail& m, QString* error) {
    m = PreparedMail();
    m.nodeId = nodeId;
    const QString mailId = GetMailId(db, nodeId);
    bool found = false;
    const TMailmsgReg rec = ReadMailRow(db, mailId, &found);
    if (!found) {
        if (error) *error = QStringLiteral("the document has no mail row");
        return false;
    }
    m.mailId = mailId.toLongLong();
    m.subject = rec.subject;
    m.to = SplitAddressList(rec.mailAddress);
    m.cc = SplitAddressList(rec.ccList);
    m.bcc = SplitAddressList(rec.bccList);
    m.anonymous = rec.anonymity;
    m.direct = rec.directSend || rec.anonymity;
    m.messageId = QUuid::createUuid().toByteArray(QUuid::WithoutBraces) + "@" + kMailDomain;

    const QByteArray html = ReadDocumentContent(db, nodeId);
    MailBuild b(db);
    b.source = html.constData();
    GumboOutput* out = gumbo_parse_with_options(&kGumboDefaultOptions, html.constData(), size_t(html.size()));
    if (!out) {
        if (error) *error = QStringLiteral("the document cannot be parsed");
        return false;
    }
    walk(b, out->document);
    QByteArray plain;
    if (const GumboNode* body = findBody(out->root)) collectText(body, plain, false);
    gumbo_destroy_output(&kGumboDefaultOptions, out);
    while (plain.endsWith('\n') || plain.endsWith(' '))
        plain.chop(1);
    m.plainText = plain;
    // Rewritten references spliced into the document as it was written.
    std::sort(b.splices.begin(), b.splices.end(), [](const Splice& x, const Splice& y) { return x.start < y.start; });
    QByteArray result;
    qsizetype at = 0;
    for (const Splice& s : b.splices) {
        if (s.start < at) continue;
        result += html.mid(at, s.start - at);
        result += s.text;
        at = s.start + s.length;
    }
    result += html.mid(at);
    m.html = result;
    m.files = b.files;
    if (!b.unreadable.isEmpty()) {
        if (error) *error = QStringLiteral("attachment %1 cannot be read").arg(b.unreadable);
        return false;
    }

    // The node's own attachments after the pictures; one part per file name.
    QSet<QString> names;
    Query q(db,
            QStringLiteral("select id,filename from accessories where infoid=:id and ") + sql::live() +
                QStringLiteral(" order by id"),
            {{QStringLiteral(":id"), sql::idValue(nodeId)}});
    if (!q.isActive()) {
        if (error) *error = q.error();
        return false;
    }
    QList<std::pair<QString, QString>> attachments;
    while (q.next())
        attachments += {QString::number(q.integer(0)), q.text(1)};
    for (const auto& [id, name] : attachments) {
        if (names.contains(name.toLower())) continue;
        names.insert(name.toLower());
        QByteArray data;
        QString got;
        if (!readAttachment(db, id, got, data)) {
            if (error) *error = QStringLiteral("attachment %1 cannot be read").arg(name);
            return false;
        }
        SmtpFilePart part;
        part.name = got;
        part.data = data;
        part.contentType = mimeTypeOf(got);
        m.files += part;
    }
    return true;
}

void ComposeMail(TSmtpCli& cli, const PreparedMail& m, bool eightBitOk) {
    const QList<QByteArray> plain = splitLines(m.plainText);
    const QList<QByteArray> html = splitLines(m.html);
    bool nonAscii = false;
    const bool qp = linesNeedEncoding(plain, eightBitOk, &nonAscii) | linesNeedEncoding(html, eightBitOk, &nonAscii);
    const QByteArray encoding = qp ? "quoted-printable" : "8bit";
    QList<QByteArray> lines;
    QList<QByteArray> first{QByteArray()};
    first += plain;
    first += QByteArray();
    lines += qp ? QuotedPrintableLines(first) : first;
    cli.InnerBoundary =
        "=_Multipart_Boundary_002_" + QDateTime::currentDateTime().toString(QStringLiteral("MMddyyhhmm")).toLatin1();
    lines += "--" + cli.InnerBoundary;
    lines += "Content-Type: text/html; charset=\"utf-8\"";
    lines += "Content-Transfer-Encoding: " + encoding;
    lines += QByteArray();
    lines += qp ? QuotedPrintableLines(html) : html;
    cli.MailMessage = lines;
    cli.TransferEncoding = encoding;
    cli.CharSet = "utf-8";
    cli.ContentType = smtpPlainText;
    cli.EmailFiles = m.files;
    cli.HdrSubject = m.subject;
    cli.HdrTo = headerList(m.to);
    cli.HdrCc = headerList(m.cc);
    cli.MessageId = m.messageId;
    cli.MessageIdDomain = kMailDomain;
    cli.PreparedMessage.clear();
}

QString StoreOutgoingMessage(Database& db, const QString& nodeId, const TMailmsgReg& rec, QString* error) {
    if (SplitAddressList(rec.mailAddress).isEmpty()) {
        if (error) *error = sendText(41149);
        return {};
    }
    // The columns hold 250 characters (the account 50): a cut list would lose recipients unseen.
    for (const auto& [what, value, width] :
         {std::tuple{"To", rec.mailAddress, 250}, std::tuple{"CC", rec.ccList, 250},
          std::tuple{"BCC", rec.bccList, 250}, std::tuple{"subject", rec.subject, 250},
          std::tuple{"account", rec.account, 50}})
        if (value.size() > width) {
            if (error)
                *error =
                    QStringLiteral("the %1 is longer than %2 characters").arg(QString::fromLatin1(what)).arg(width);
            return {};
        }
    const SystemFolders f = systemFolders(db);
    if (f.outbox <= 0) {
        if (error) *error = QStringLiteral("the knowledge base has no outbox");
        return {};
    }
    Transaction tx(db);
    const QString outbox = QString::number(f.outbox);
    Query parent(db, QStringLiteral("select parentnode,mailid from info where id=:id and ") + sql::live(),
                 {{QStringLiteral(":id"), sql::idValue(nodeId)}});
    if (!parent.next()) {
        if (error) *error = QStringLiteral("no such document: %1").arg(nodeId);
        return {};
    }
    const qint64 parentId = parent.integer(0);
    const qint64 mailId = parent.integer(1);
    if (parentId == f.outbox && mailId > 0) {
        if (!UpdateMailRow(db, QString::number(mailId), rec) || !tx.commit()) {
            if (error) *error = db.lastError();
            return {};
        }
        return nodeId;
    }
    const auto copy = CopyNodeRecord(db, false, nodeId, outbox, GetChildPrefixes(db, outbox));
    if (!copy || InsertMailRow(db, copy->id, rec).isEmpty() || !RefreshHasChild(db, outbox) || !tx.commit()) {
        if (error) *error = db.lastError();
        return {};
    }
    return copy->id;
}

bool MarkMessageSent(Database& db, const QString& nodeId, bool direct) {
    const SystemFolders f = systemFolders(db);
    if (f.sendbox <= 0) return false;
    Transaction tx(db);
    if (MoveNode(db, QString::number(f.sendbox), nodeId) == 0) return false;
    const QString mailId = GetMailId(db, nodeId);
    if (!db.exec(QStringLiteral("update mail set Sent=:Sent,directsend=:directsend Where id=:id"),
                 {{QStringLiteral(":Sent"), QDateTime::currentDateTime()},
                  {QStringLiteral(":directsend"), sql::yn(direct)},
                  {QStringLiteral(":id"), sql::idValue(mailId)}}))
        return false;
    RefreshHasChild(db, QString::number(f.outbox));
    RefreshHasChild(db, QString::number(f.sendbox));
    return tx.commit();
}

SmtpAccount SmtpAccountOf(const TMailReg& r) {
    SmtpAccount a;
    a.id = r.id;
    a.name = r.name;
    a.mailAddress = r.mailAddress;
    a.smtpHost = r.smtp.trimmed();
    a.smtpPort = r.smtpPort > 0 && r.smtpPort < 65536 ? quint16(r.smtpPort) : quint16(25);
    a.tls = r.smtpTls == MailTls::Tls ? SmtpTlsMode::Implicit
                                      : (r.smtpTls == MailTls::StartTls ? SmtpTlsMode::StartTls : SmtpTlsMode::None);
    a.allowPlain = r.allowPlain;
    a.caFile = r.caFile;
    a.authSmtp = r.authSmtp;
    a.user = r.authSmtpSamePop ? r.popAccount : r.smtpAccount;
    a.password = r.authSmtpSamePop ? r.popPassword : r.smtpPassword;
    a.directSend = r.directSend;
    return a;
}

bool SendAccount(SendRun& run, const SmtpAccount& account) {
    if (run.observer.status) run.observer.status(fill(sendText(41264), {account.name}));
    const SystemFolders f = systemFolders(run.db);
    if (f.outbox <= 0 || f.sendbox <= 0) return false;
    ensureClaimTable(run.db);
    const QList<OutboxRow> rows = outboxRows(run.db, f.outbox, account.name, run.nodeId);
    if (rows.isEmpty()) {
        if (!run.nodeId.isEmpty()) {
            ++run.errorCount;
            if (run.observer.row)
                run.observer.row(account.name, false,
                                 QStringLiteral("%1 is not a message of this account in the outbox").arg(run.nodeId));
        }
        return true;
    }
    AccountSender sender(run, account);
    sender.sendAll(rows, f.outbox);
    return true;
}

void SendAccountOfRun(TMail& mail, Database& db, const TMailReg& account) {
    TMailReg acc = account;
    // SMTP "same as POP3" with a password not remembered: the one typed in this run, else ask.
    if (acc.authSmtp && acc.authSmtpSamePop && acc.popPassword.isEmpty() && !acc.smtp.trimmed().isEmpty()) {
        acc.popPassword = mail.typedPassword(acc.id);
        if (acc.popPassword.isEmpty()) {
            bool accepted = false;
            emit mail.credentialsNeeded(&acc, &accepted);
            if (!accepted) acc.popPassword.clear();
        }
    }
    SendRun run(db);
    run.nodeId = mail.singleMessage();
    run.direct = LoadDirectSettings();
    // A limit given to the run (--timeout) wins over the one of mail.ini.
    if (mail.timeoutMs() != 60000) run.direct.timeout = qMax(1, mail.timeoutMs() / 1000);
    run.observer.status = [&mail](const QString& t) { mail.setStatus(t); };
    run.observer.row = [&mail](const QString& a, bool ok, const QString& t) {
        mail.addResult(a, ok, t);
        if (ok) mail.addRow(t, false);
    };
    int maximum = 0, position = 0;
    run.observer.barMaximum = [&](int m) {
        maximum = m;
        position = 0;
        emit mail.barChanged(maximum, position);
    };
    run.observer.barStep = [&] { emit mail.barChanged(maximum, ++position); };
    // The run's Cancel and close reach the clients through the send run's flag.
    std::atomic<bool> done{false};
    std::thread watch([&] {
        while (!done) {
            if (mail.isCancelled() || mail.isClosing()) run.cancel = true;
            QThread::msleep(50);
        }
    });
    SendAccount(run, SmtpAccountOf(acc));
    done = true;
    watch.join();
}

TMail* SendSingleMessage(const QString& connectionString, const QString& userCode, const QString& accountName,
                         const QString& nodeId) {
    auto* run = new TMail(connectionString, TMail::SendOne, userCode, accountName);
    run->setSingleMessage(nodeId);
    QObject::connect(run, &QThread::finished, run, &QObject::deleteLater);
    run->start();
    return run;
}

} // namespace zel
