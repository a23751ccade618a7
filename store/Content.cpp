#include "store/Content.h"

#include <QFile>
#include <QFileInfo>
#include <QLocale>
#include <QMimeDatabase>

#include "platform/CodePage.h"
#include "platform/Dialect.h"
#include "shell/Strings.h"
#include "store/Compression.h"
#include "store/Nodes.h"
#include "store/Sql.h"

namespace zel {

namespace {

const QString kCidPrefix = QStringLiteral("link://document/__zel_@cid:/");
const QString kDocumentPrefix = QStringLiteral("link://document");

QByteArray missingContentPage(const QString& caption) {
    const QStringList lines{QStringLiteral("<!DOCTYPE HTML PUBLIC \"-//W3C//DTD HTML 4.0 Transitional//EN\">"),
                            QStringLiteral("<html>"), QStringLiteral("  <head>"),
                            QStringLiteral("    <META http-equiv=Content-Type content=\"text/html; charset=utf-8\">"),
                            QStringLiteral("    <META content=\"MSHTML 6.00.2800.1106\" name=GENERATOR>"),
                            QStringLiteral("  </head>"), QStringLiteral("  <body>"),
                            // A caption is text, not markup.
                            caption.isEmpty() ? GetString(41003) : caption.toHtmlEscaped(), QStringLiteral("  </body>"),
                            QStringLiteral("</html>")};
    QByteArray out;
    for (const QString& l : lines)
        out += l.toUtf8() + "\r\n";
    return out;
}

QByteArray missingAttachmentPage() {
    return "<html><body>\r\n" + toSystemCodePage(GetString(41003)) + "\r\n</html></body>\r\n";
}

// Bytes as stored for an attachment name; empty for non-empty data means compression failed.
QByteArray attachmentForm(const QString& fileName, const QByteArray& data) {
    return IsStoredRaw(fileName) ? data : CompressStream(data);
}

QByteArray attachmentBytes(const QString& fileName, const QByteArray& stored) {
    return IsStoredRaw(fileName) ? stored : DecompressStream(stored);
}

QString nameCondition(Database& db) {
    return dialect::ciEquals(db.dialect(), QStringLiteral("filename"), QStringLiteral(":filename"));
}

// Lookups by name exclude only the recycle bin: an attachment purged on its own stays visible to them
// until maintenance removes it, but a live one of the same name comes first.
const QString kNotInBin = QStringLiteral("(hasdelete is null or hasdelete<>'Y')");
const QString kLiveFirst =
    QStringLiteral(" order by case when hasdelete is null or hasdelete<>'D' then 0 else 1 end, id");

bool storeContent(Database& db, const QString& nodeId, const QByteArray& compressed) {
    Transaction tx(db);
    if (!tx.ok()) return false;
    const qint64 id = sql::idValue(nodeId);
    if (db.scalar(QStringLiteral("select count(*) from info where id=:id"), {{QStringLiteral(":id"), id}})
            .toLongLong() == 0)
        return false;
    if (!db.exec(QStringLiteral("update info set content=:content,modifydate=:now where id=:id"),
                 {{QStringLiteral(":content"), compressed},
                  {QStringLiteral(":now"), QDateTime::currentDateTime()},
                  {QStringLiteral(":id"), id}}))
        return false;
    return tx.commit();
}

} // namespace

// --- Document content ----------------------------------------------------------------------------

QString DecodeStoredContent(const QByteArray& stored) {
    return decodeWithBom(DecompressStream(stored));
}

QByteArray ReadDocumentContent(Database& db, const QString& nodeId, QString* statusText) {
    QString caption;
    QByteArray out;
    {
        Query q(db, QStringLiteral("select caption,content from info where id=:id"),
                {{QStringLiteral(":id"), sql::idValue(nodeId)}});
        if (q.next()) {
            caption = q.text(0);
            const QByteArray stored = q.value(1).toByteArray();
            if (!stored.isEmpty()) out = DecodeStoredContent(stored).toUtf8();
        }
    }
    if (!out.isEmpty()) {
        if (statusText)
            *statusText = GetString(40243) + QStringLiteral(" : ") +
                          QLocale(QLocale::English).toString(qRound64(double(out.size()) / 1000.0)) +
                          QStringLiteral("KB");
        return out;
    }
    return missingContentPage(caption);
}

bool WriteDocumentContent(Database& db, const QString& nodeId, QByteArray& stream) {
    const QByteArray compressed = CompressStream(stream);
    if (!stream.isEmpty() && compressed.isEmpty()) return false;
    stream = compressed;
    return storeContent(db, nodeId, compressed);
}

bool WriteDocumentText(Database& db, const QString& nodeId, const QString& text) {
    const QByteArray stored = StoredContent(text);
    if (stored.isEmpty()) return false;
    return storeContent(db, nodeId, stored);
}

qint64 WriteContentField(QByteArray& field, const QString& text) {
    qint64 size = 0;
    field = StoredContent(text, &size);
    return size;
}

// --- Attachments ---------------------------------------------------------------------------------

bool IsStoredRaw(const QString& fileName) {
    const QString lower = fileName.toLower();
    return lower.endsWith(QStringLiteral(".gif")) || lower.endsWith(QStringLiteral(".jpg"));
}

QString FileReferenceToPath(const QString& fileReference) {
    QString s = fileReference.trimmed();
    if (!s.startsWith(QStringLiteral("file:"), Qt::CaseInsensitive)) return s;
    s = s.mid(5).trimmed();
    s.replace(QStringLiteral("%20"), QStringLiteral(" "));
    qsizetype i = 0;
    while (i < s.size() && (s[i] == u'/' || s[i] == u'\\'))
        ++i;
    s = s.mid(i);
    if (s.isEmpty()) return {};
    // A drive letter keeps its form; any other path is absolute from the file system's root.
    const bool drive = s.size() >= 2 && s[1] == u':' && s[0].isLetter();
    return drive ? s : u'/' + s;
}

QString SafeAttachmentFileName(const QString& fileName) {
    QString s = fileName;
    for (QChar& c : s)
        if (c == u'/' || c == u'\\' || c == QChar(0)) c = u'_';
    if (s.isEmpty() || s == QStringLiteral(".") || s == QStringLiteral("..")) s = u'_' + s;
    return s;
}

QString SaveAttachmentFromStream(Database& db, const QByteArray& data, const QString& nodeId, const QString& fileName) {
    if (fileName.isEmpty()) return {};
    const QByteArray stored = attachmentForm(fileName, data);
    // A blob that cannot be made fails the store; no row with size 0 is left behind.
    if (!data.isEmpty() && stored.isEmpty()) return {};
    const qint64 node = sql::idValue(nodeId);
    Transaction tx(db);
    if (!tx.ok()) return {};
    if (db.scalar(QStringLiteral("select count(*) from info where id=:id"), {{QStringLiteral(":id"), node}})
            .toLongLong() == 0)
        return {};
    const QDateTime now = QDateTime::currentDateTime();
    bool ok = false;
    const QVariant existing =
        db.scalar(QStringLiteral("select id from accessories where infoid=:id and ") + nameCondition(db) +
                      QStringLiteral(" and ") + sql::live() + QStringLiteral(" order by id"),
                  {{QStringLiteral(":id"), node}, {QStringLiteral(":filename"), fileName}}, &ok);
    if (!ok) return {};
    qint64 id = existing.toLongLong();
    if (id > 0) {
        if (!db.exec(QStringLiteral("update accessories set lasttime=:now,document=:doc,filesize=:size where id=:id"),
                     {{QStringLiteral(":now"), now},
                      {QStringLiteral(":doc"), stored},
                      {QStringLiteral(":size"), qint64(data.size())},
                      {QStringLiteral(":id"), id}}))
            return {};
    } else {
        id = db.insert(QStringLiteral("insert into accessories (hasdelete,infoid,filename,createtime,lasttime,document,"
                                      "filesize) values ('N',:node,:filename,:now,:now,:doc,:size) returning id"),
                       {{QStringLiteral(":node"), node},
                        {QStringLiteral(":filename"), fileName},
                        {QStringLiteral(":now"), now},
                        {QStringLiteral(":doc"), stored},
                        {QStringLiteral(":size"), qint64(data.size())}});
        if (id <= 0) return {};
    }
    return tx.commit() ? QString::number(id) : QString();
}

QString SaveAttachmentFromFile(Database& db, const QString& nodeId, const QString& fileReference,
                               const QString& fileName) {
    const QString path = FileReferenceToPath(fileReference);
    if (path.isEmpty()) return {};
    QFile f(path);
    if (!QFileInfo(path).isFile() || !f.open(QIODevice::ReadOnly)) return {};
    const QByteArray data = f.readAll();
    if (f.error() != QFileDevice::NoError) return {};
    return SaveAttachmentFromStream(db, data, nodeId, fileName);
}

QByteArray ReadAttachmentByName(Database& db, const QString& nodeId, const QString& fileName, bool* found) {
    if (found) *found = false;
    Query q(db,
            QStringLiteral("select document from accessories where infoid=:id and ") + nameCondition(db) +
                QStringLiteral(" and ") + kNotInBin + kLiveFirst,
            {{QStringLiteral(":id"), sql::idValue(nodeId)}, {QStringLiteral(":filename"), fileName}});
    if (!q.next()) return missingAttachmentPage();
    if (found) *found = true;
    return attachmentBytes(fileName, q.value(0).toByteArray());
}

qint64 ExportAttachmentToFile(Database& db, const QString& nodeId, const QString& fileName, const QString& targetPath) {
    QString target = targetPath;
    if (QFileInfo(targetPath).isDir()) target = targetPath + u'/' + SafeAttachmentFileName(fileName);
    bool found = false;
    const QByteArray bytes = ReadAttachmentByName(db, nodeId, fileName, &found);
    QFile f(target);
    if (!f.open(QIODevice::WriteOnly | QIODevice::Truncate)) return -1;
    // A full disk shows only when the buffer is written out.
    if (f.write(bytes) != bytes.size() || !f.flush()) return -1;
    f.close();
    if (f.error() != QFileDevice::NoError) return -1;
    return found ? qint64(bytes.size()) : 0;
}

QString ReadAttachmentById(Database& db, QByteArray& stream, const QString& attachmentId) {
    bool isInt = false;
    const qint64 id = attachmentId.trimmed().toLongLong(&isInt);
    if (!isInt) return {};
    stream.clear();
    Query q(db, QStringLiteral("select filename,document from accessories where id=:id and ") + sql::live(),
            {{QStringLiteral(":id"), id}});
    if (!q.next()) return {};
    const QString name = q.text(0);
    stream = attachmentBytes(name, q.value(1).toByteArray());
    return name;
}

QString FindAttachmentId(Database& db, const QString& nodeId, const QString& fileName) {
    Query q(db,
            QStringLiteral("select id from accessories where infoid=:id and ") + nameCondition(db) +
                QStringLiteral(" and ") + kNotInBin + kLiveFirst,
            {{QStringLiteral(":id"), sql::idValue(nodeId)}, {QStringLiteral(":filename"), fileName}});
    return q.next() ? QString::number(q.integer(0)) : QString();
}

QString GetAttachmentFileName(Database& db, const QString& attachmentId) {
    if (attachmentId.trimmed().isEmpty()) return {};
    Query q(db, QStringLiteral("select filename from accessories where id=:id and ") + kNotInBin,
            {{QStringLiteral(":id"), sql::idValue(attachmentId)}});
    return q.next() ? q.text(0) : QString();
}

QString GetAttachmentNodeId(Database& db, const QString& attachmentId) {
    Query q(db, QStringLiteral("select infoid from accessories where id=:id"),
            {{QStringLiteral(":id"), sql::idValue(attachmentId)}});
    return q.next() ? QString::number(q.integer(0)) : QStringLiteral("0");
}

int CountAttachments(Database& db, const QString& nodeId) {
    return int(db.scalar(QStringLiteral("select count(*) from accessories where infoid=:infoid and ") + sql::live(),
                         {{QStringLiteral(":infoid"), sql::idValue(nodeId)}})
                   .toLongLong());
}

bool IsAttachmentNameTaken(Database& db, const QString& nodeId, const QString& excludedId, const QString& fileName) {
    return db.scalar(QStringLiteral("select count(*) from accessories where infoid=:id and id<>:excluded and ") +
                         nameCondition(db) + QStringLiteral(" and ") + sql::live(),
                     {{QStringLiteral(":id"), sql::idValue(nodeId)},
                      {QStringLiteral(":excluded"), sql::idValue(excludedId)},
                      {QStringLiteral(":filename"), fileName}})
               .toLongLong() > 0;
}

bool RenameAttachment(Database& db, const QString& attachmentId, const QString& newFileName) {
    if (attachmentId.trimmed().isEmpty()) return false;
    return db.exec(QStringLiteral("update accessories set filename=:filename where id=:id"),
                   {{QStringLiteral(":filename"), newFileName}, {QStringLiteral(":id"), sql::idValue(attachmentId)}});
}

bool MoveAttachment(Database& db, const QString& attachmentId, const QString& targetNodeId) {
    return db.exec(QStringLiteral("update accessories set infoid=:infoid where id=:fileid"),
                   {{QStringLiteral(":infoid"), sql::idValue(targetNodeId)},
                    {QStringLiteral(":fileid"), sql::idValue(attachmentId)}});
}

bool DeleteAttachment(Database& db, const QString& attachmentId) {
    return db.exec(QStringLiteral("update accessories set hasdelete='D' where id=:fileid"),
                   {{QStringLiteral(":fileid"), sql::idValue(attachmentId)}});
}

QString AttachmentSizeText(qint64 bytes) {
    if (bytes <= 999) return QStringLiteral("1Kb");
    return QString::number(bytes / 1000) + QStringLiteral("Kb");
}

QList<AttachmentItem> FillAttachmentList(Database& db, const QString& nodeId) {
    static const QMimeDatabase mimes;
    QList<AttachmentItem> out;
    Query q(
        db,
        QStringLiteral("select id,filename,filesize,lasttime,createtime,hasdelete from accessories where infoid=:id "
                       "and ") +
            sql::live() + QStringLiteral(" order by id"),
        {{QStringLiteral(":id"), sql::idValue(nodeId)}});
    while (q.next()) {
        AttachmentItem a;
        a.id = q.integer(0);
        a.fileName = q.text(1);
        a.size = q.integer(2);
        a.sizeText = AttachmentSizeText(a.size);
        const QMimeType type = mimes.mimeTypeForFile(a.fileName, QMimeDatabase::MatchExtension);
        a.typeName = type.comment();
        a.iconName = type.iconName();
        a.lastTime = dbDateTime(q.value(3));
        a.createTime = dbDateTime(q.value(4));
        out << a;
    }
    return out;
}

QString PathUrlToCidUrl(Database& db, const QString& url) {
    if (url.contains(kCidPrefix)) return url;
    const qsizetype cut = std::max(url.lastIndexOf(u'/'), url.lastIndexOf(u'\\'));
    const QString folder = url.left(cut + 1);
    const QString file = url.mid(cut + 1);
    const QString node = FindNodeByName(db, folder.mid(kDocumentPrefix.size()));
    if (node != QStringLiteral("0")) {
        const QString att = FindAttachmentId(db, node, file);
        if (!att.isEmpty()) return kCidPrefix + att;
    }
    return url;
}

QString CidUrlToPathUrl(Database& db, const QString& url) {
    if (!url.contains(kCidPrefix)) return url;
    const QString id = url.mid(kCidPrefix.size()).trimmed();
    if (id.isEmpty()) return {};
    const QString name = GetAttachmentFileName(db, id);
    const QString node = GetAttachmentNodeId(db, id);
    const QString result = node != QStringLiteral("0") ? GetChildName(db, node) + name : name;
    return result.isEmpty() ? url : kDocumentPrefix + result;
}

} // namespace zel
