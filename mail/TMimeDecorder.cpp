#include "mail/TMimeDecorder.h"

#include <QMimeDatabase>
#include <QSet>

#include "mail/MailAccounts.h"
#include "mail/MailCharset.h"
#include "store/Content.h"
#include "store/Nodes.h"
#include "store/Sql.h"

namespace zel {

namespace {

// Column widths of info and mail; PostgreSQL refuses longer values.
constexpr int kCaptionWidth = 120;
constexpr int kMailTextWidth = 250;
constexpr int kAccountWidth = 50;
constexpr int kFileNameWidth = 120;

QString fit(const QString& s, int width) {
    if (s.size() <= width) return s;
    QString t = s.left(width);
    if (t.back().isHighSurrogate()) t.chop(1);
    return t;
}

QString oneLine(QString s) {
    for (QChar& c : s)
        if (c == u'\r' || c == u'\n' || c == u'\t') c = u' ';
    return s.simplified();
}

// Plain text as HTML: markup characters escaped, line breaks and runs of blanks kept.
QString plainToHtml(const QString& text) {
    QString out;
    out.reserve(text.size() + text.size() / 8);
    bool lastBlank = false;
    for (qsizetype i = 0; i < text.size(); ++i) {
        const QChar c = text[i];
        if (c == u'\r') {
            if (i + 1 < text.size() && text[i + 1] == u'\n') continue;
            out += QStringLiteral("<br>\r\n");
        } else if (c == u'\n') {
            out += QStringLiteral("<br>\r\n");
        } else if (c == u'&') {
            out += QStringLiteral("&amp;");
        } else if (c == u'<') {
            out += QStringLiteral("&lt;");
        } else if (c == u'>') {
            out += QStringLiteral("&gt;");
        } else if (c == u' ' && lastBlank) {
            out += QStringLiteral("&nbsp;");
        } else if (c == u'\t') {
            out += QStringLiteral("&nbsp;&nbsp;&nbsp;&nbsp;");
        } else {
            out += c;
        }
        lastBlank = c == u' ';
    }
    return out;
}

// The charset an HTML text declares in its first bytes (meta charset or content type), lower case.
QByteArray sniffMetaCharset(const QByteArray& html) {
    const QByteArray head = html.left(4096).toLower();
    qsizetype at = 0;
    while ((at = head.indexOf("charset", at)) >= 0) {
        qsizetype i = at + 7;
        at = i;
        while (i < head.size() && (head[i] == ' ' || head[i] == '\t'))
            ++i;
        if (i >= head.size() || head[i] != '=') continue;
        ++i;
        while (i < head.size() && (head[i] == ' ' || head[i] == '"' || head[i] == '\''))
            ++i;
        const qsizetype s = i;
        while (i < head.size() && (QChar::isLetterOrNumber(uchar(head[i])) || head[i] == '-' || head[i] == '_' ||
                                   head[i] == ':' || head[i] == '.'))
            ++i;
        if (i > s) return head.mid(s, i - s);
    }
    return {};
}

QString partText(const TMimePart& part, bool html) {
    QByteArray charset = part.charset();
    if (charset.isEmpty() && html) charset = sniffMetaCharset(part.body);
    return charset.isEmpty() ? decodeUnlabelled(part.body) : decodeCharset(part.body, charset);
}

bool isBodyType(const QByteArray& type) {
    return type.isEmpty() || type == "text/plain" || type == "text/html";
}

// Can a multipart alternative be shown from this child?
bool renderable(const TMimePart& p) {
    if (p.isMultipart()) {
        for (const TMimePart& c : p.children)
            if (renderable(c)) return true;
        return false;
    }
    return isBodyType(p.contentType) && p.disposition != "attachment";
}

QString lastPathComponent(const QByteArray& location) {
    QByteArray l = location;
    const qsizetype q = l.indexOf('?');
    if (q >= 0) l.truncate(q);
    const qsizetype slash = std::max(l.lastIndexOf('/'), l.lastIndexOf('\\'));
    return QString::fromUtf8(QByteArray::fromPercentEncoding(l.mid(slash + 1))).trimmed();
}

// Extracts "begin MODE NAME" ... "end" blocks from plain text: returns the text without them.
QString takeUuencodedBlocks(const QString& text, QList<std::pair<QString, QByteArray>>& files) {
    if (!text.contains(QStringLiteral("begin "))) return text;
    QStringList kept;
    const QStringList lines = text.split(u'\n');
    for (qsizetype i = 0; i < lines.size(); ++i) {
        QString line = lines[i];
        if (line.endsWith(u'\r')) line.chop(1);
        const QStringList words = line.split(u' ', Qt::SkipEmptyParts);
        bool octal = words.size() >= 3 && words[0] == QStringLiteral("begin");
        if (octal)
            for (QChar c : words[1])
                octal = octal && c >= u'0' && c <= u'7';
        if (octal) {
            qsizetype j = i + 1;
            while (j < lines.size() && lines[j].trimmed() != QStringLiteral("end"))
                ++j;
            if (j < lines.size()) {
                QByteArray block;
                for (qsizetype k = i; k <= j; ++k)
                    block += lines[k].toLatin1() + '\n';
                QByteArray name;
                const QByteArray data = TMimeDecode::decodeUuencode(block, &name);
                files.append({QString::fromUtf8(name), data});
                i = j;
                continue;
            }
        }
        kept << lines[i];
    }
    return kept.join(u'\n');
}

} // namespace

QString InsertMailRow(Database& db, const QString& nodeId, const TMailmsgReg& rec) {
    Transaction tx(db);
    if (!tx.ok()) return {};
    auto when = [](const QDateTime& d) { return d.isValid() ? QVariant(d) : QVariant(); };
    const qint64 id = db.insert(
        QStringLiteral("insert into mail (hasdelete,subject,account,cclist,mailaddress,replyaddress,received,sent,"
                       "directsend,anonymity,Reciept,priority,bcclist,bookmark) values ('N',:subject,:account,:cclist,"
                       ":mailaddress,:replyaddress,:received,:sent,:directsend,:anonymity,:reciept,:priority,:bcclist,"
                       ":bookmark) returning id"),
        {{QStringLiteral(":subject"), fit(rec.subject, kMailTextWidth)},
         {QStringLiteral(":account"), fit(rec.account, kAccountWidth)},
         {QStringLiteral(":cclist"), fit(rec.ccList, kMailTextWidth)},
         {QStringLiteral(":mailaddress"), fit(rec.mailAddress, kMailTextWidth)},
         {QStringLiteral(":replyaddress"), fit(rec.replyAddress, kMailTextWidth)},
         {QStringLiteral(":received"), when(rec.received)},
         {QStringLiteral(":sent"), when(rec.sent)},
         {QStringLiteral(":directsend"), sql::yn(rec.directSend)},
         {QStringLiteral(":anonymity"), sql::yn(rec.anonymity)},
         {QStringLiteral(":reciept"), sql::yn(rec.receipt)},
         {QStringLiteral(":priority"), rec.priority},
         {QStringLiteral(":bcclist"), fit(rec.bccList, kMailTextWidth)},
         {QStringLiteral(":bookmark"), fit(rec.bookmark, kMailTextWidth)}});
    if (id <= 0) return {};
    if (!db.exec(QStringLiteral("update info set mailid=:mailid where id=:id"),
                 {{QStringLiteral(":mailid"), id}, {QStringLiteral(":id"), sql::idValue(nodeId)}}))
        return {};
    return tx.commit() ? QString::number(id) : QString();
}

QString TMimeDecorder::uniqueName(const QString& wanted) {
    QString name = SafeAttachmentFileName(oneLine(wanted));
    if (name.isEmpty()) name = QStringLiteral("attachment");
    QString stem = name, ext;
    const qsizetype dot = name.lastIndexOf(u'.');
    if (dot > 0) {
        stem = name.left(dot);
        ext = name.mid(dot);
    }
    if (ext.size() > 20) {
        stem = name;
        ext.clear();
    }
    auto taken = [&](const QString& n) {
        for (const TMsgPartInfo& p : parts)
            if (p.fileName.compare(n, Qt::CaseInsensitive) == 0) return true;
        return false;
    };
    QString candidate = fit(stem, kFileNameWidth - int(ext.size())) + ext;
    for (int k = 2; taken(candidate); ++k) {
        const QString suffix = QStringLiteral(" (%1)").arg(k);
        candidate = fit(stem, kFileNameWidth - int(ext.size() + suffix.size())) + suffix + ext;
    }
    return candidate;
}

void TMimeDecorder::addAttachment(const TMimePart& part, QByteArray data, QString name) {
    if (name.isEmpty()) {
        // Nameless parts (pictures referred to by content id, mostly) keep a made name.
        const QByteArray type = part.contentType.isEmpty() ? QByteArray("application/octet-stream") : part.contentType;
        QString suffix = QMimeDatabase().mimeTypeForName(QString::fromLatin1(type)).preferredSuffix();
        if (type == "message/rfc822") suffix = QStringLiteral("eml");
        if (type == "image/jpeg" || type == "image/pjpeg") suffix = QStringLiteral("jpg"); // stored as it is
        if (suffix.isEmpty()) suffix = QStringLiteral("bin");
        const QString stem = type.startsWith("image/") ? QStringLiteral("image") : QStringLiteral("part");
        name = QStringLiteral("%1%2.%3").arg(stem).arg(++madeNames_).arg(suffix);
    }
    TMsgPartInfo info;
    info.contentId = part.contentId;
    info.contentLocation = part.contentLocation;
    info.fileName = uniqueName(name);
    info.data = std::move(data);
    parts.append(std::move(info));
}

void TMimeDecorder::addBodyText(const TMimePart& part, const QString& text) {
    const bool html = part.contentType == "text/html";
    QList<std::pair<QString, QByteArray>> uufiles;
    const QString t = html ? text : takeUuencodedBlocks(text, uufiles);
    for (auto& [name, data] : uufiles)
        addAttachment(part, data, name);
    const QString asHtml = html ? t : plainToHtml(t);
    if (!haveBody_) {
        haveBody_ = true;
        bodyIsHtml_ = html;
        bodyHtml_ = asHtml;
    } else if (!t.trimmed().isEmpty()) {
        extraHtml_ << asHtml;
    }
}

void TMimeDecorder::collect(const TMimePart& part) {
    if (part.isMultipart()) {
        if (part.contentType == "multipart/alternative") {
            // The last alternative that can be shown is the richest; the others repeat it.
            for (qsizetype i = part.children.size(); i > 0; --i) {
                if (renderable(part.children[i - 1])) {
                    collect(part.children[i - 1]);
                    return;
                }
            }
        }
        for (const TMimePart& c : part.children)
            collect(c);
        return;
    }
    QString name = part.fileName();
    if (!part.contentLocation.isEmpty()) {
        const QString fromLocation = lastPathComponent(part.contentLocation);
        if (!fromLocation.isEmpty()) name = fromLocation;
    }
    const bool inlineText = isBodyType(part.contentType) && part.disposition != "attachment" &&
                            (part.fileName().isEmpty() || part.disposition == "inline");
    if (inlineText) {
        addBodyText(part, partText(part, part.contentType == "text/html"));
        return;
    }
    addAttachment(part, part.body, name);
}

void TMimeDecorder::decode(const QByteArray& raw) {
    const TMimePart root = TMimeDecode::parse(raw);
    subject = fit(oneLine(DecodeHeaderWords(root.header("subject"))), kCaptionWidth);
    mailRow = {};
    mailRow.subject = oneLine(DecodeHeaderWords(root.header("subject")));
    mailRow.mailAddress = DecodeHeaderWords(root.header("to")).trimmed();
    mailRow.ccList = DecodeHeaderWords(root.header("cc")).trimmed();
    const QString from = DecodeHeaderWords(root.header("from")).trimmed();
    const QString replyTo = DecodeHeaderWords(root.header("reply-to")).trimmed();
    mailRow.replyAddress = replyTo.isEmpty() ? from : replyTo;
    mailRow.account = from;
    mailRow.received = QDateTime::currentDateTime();
    const QByteArray priority = root.header("x-priority").trimmed();
    if (!priority.isEmpty() && priority[0] >= '1' && priority[0] <= '5') mailRow.priority = priority[0] - '0';
    parts.clear();
    collect(root);
    QString body = bodyHtml_;
    if (!haveBody_) body.clear();
    const bool hasHtmlElement = bodyIsHtml_ && body.contains(QStringLiteral("<html"), Qt::CaseInsensitive);
    if (!hasHtmlElement) body = QStringLiteral("<html><body>") + body + QStringLiteral("</body></html>");
    if (!extraHtml_.isEmpty()) {
        QString extra;
        for (const QString& e : extraHtml_)
            extra += QStringLiteral("<hr>") + e;
        const qsizetype close = body.lastIndexOf(QStringLiteral("</body>"), -1, Qt::CaseInsensitive);
        if (close >= 0)
            body.insert(close, extra);
        else
            body += extra;
    }
    html = body;
}

void TMimeDecorder::decodeAsRaw(const QByteArray& raw) {
    // Only the header block is read: the rest may be what made decoding fail.
    qsizetype end = raw.indexOf("\n\n");
    const qsizetype crlf = raw.indexOf("\r\n\r\n");
    if (end < 0 || (crlf >= 0 && crlf < end)) end = crlf;
    const TMimePart head = TMimeDecode::parse(raw.left(end < 0 ? qMin<qsizetype>(raw.size(), 65536) : end));
    subject = fit(oneLine(DecodeHeaderWords(head.header("subject"))), kCaptionWidth);
    mailRow = {};
    mailRow.subject = subject;
    mailRow.mailAddress = DecodeHeaderWords(head.header("to")).trimmed();
    mailRow.account = DecodeHeaderWords(head.header("from")).trimmed();
    mailRow.replyAddress = mailRow.account;
    mailRow.received = QDateTime::currentDateTime();
    parts.clear();
    TMsgPartInfo p;
    p.fileName = QStringLiteral("message.eml");
    p.data = raw;
    parts << p;
    html = QStringLiteral("<html><body></body></html>");
}

QString TMimeDecorder::store(Database& db, const QString& folderId, const QString& mailType, qint64 spoolId,
                             bool* alreadyTaken) {
    if (alreadyTaken) *alreadyTaken = false;
    Transaction tx(db);
    if (!tx.ok()) return {};
    if (spoolId > 0) {
        // Claiming the row first locks it: a second converter of the same row waits, then finds nothing.
        Query claim(db, QStringLiteral("delete from zel_mailspool where id=:id returning id"),
                    {{QStringLiteral(":id"), spoolId}});
        if (!claim.isActive()) return {};
        if (!claim.next()) {
            if (alreadyTaken) *alreadyTaken = true;
            return {};
        }
    }
    Tinfoproperty p;
    p.caption = subject;
    p.mailType = mailType;
    p.sortNumber = MaxSortNumber(db, folderId) + 1;
    const QString node = InsertNode(db, p, folderId);
    if (node.isEmpty()) return {};
    for (TMsgPartInfo& part : parts) {
        part.attachmentId = SaveAttachmentFromStream(db, part.data, node, part.fileName);
        if (part.attachmentId.isEmpty()) return {};
    }
    if (InsertMailRow(db, node, mailRow).isEmpty()) return {};
    const QString finalHtml = RewriteMailHtml(html, parts);
    if (!WriteDocumentText(db, node, finalHtml)) return {};
    RefreshHasChild(db, folderId);
    return tx.commit() ? node : QString();
}

QString ConvertMessage(Database& db, const QByteArray& raw, const QString& folderId, const QString& mailType) {
    TMimeDecorder d;
    d.decode(raw);
    return d.store(db, folderId, mailType);
}

} // namespace zel
