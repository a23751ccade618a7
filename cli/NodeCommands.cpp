// zel-cli node ..., content ..., attach ...
#include "cli/Cli.h"

#include "platform/CodePage.h"
#include "platform/Database.h"
#include "shell/Strings.h"
#include "store/Content.h"
#include "store/Nodes.h"
#include "store/RecycleBin.h"
#include "store/Sql.h"

#include <QFile>
#include <QFileInfo>

namespace zel {

namespace {

const QString kRoot = QStringLiteral("0");

QString dateText(const QDateTime& dt) {
    return dt.isValid() ? dbDateTimeText(dt) : QString();
}

// An existing node id ("0", the root, only when allowed).
QString nodeArg(Database& db, const CliArgs& a, qsizetype i, const char* what, bool rootAllowed) {
    const QString id = a.at(i, what).trimmed();
    bool ok = false;
    const qint64 v = id.toLongLong(&ok);
    if (!ok || v < 0) throw CliError{QStringLiteral("not a node id: \"%1\"").arg(id), kExitUsage};
    if (v == 0) {
        if (!rootAllowed) throw CliError{QStringLiteral("the root is not a node")};
        return kRoot;
    }
    if (GetChildPath(db, id).isEmpty()) throw CliError{QStringLiteral("no node %1").arg(id)};
    return QString::number(v);
}

QString parentOf(Database& db, const QString& id) {
    return QString::number(db.scalar(QStringLiteral("select parentnode from info where id=:id"),
                                     {{QStringLiteral(":id"), id.toLongLong()}})
                               .toLongLong());
}

// The naming dialog's checks: not empty, none of "/ \ #".
QString checkedCaption(const QString& raw) {
    const QString caption = raw.trimmed();
    if (caption.isEmpty()) throw CliError{GetString(40433)};
    if (caption.contains(u'/') || caption.contains(u'\\') || caption.contains(u'#'))
        throw CliError{GetString(41018).replace(QStringLiteral("%s"), QStringLiteral("/ \\ #"))};
    return caption;
}

// Documents larger than this are refused rather than read until memory runs out (a device, a pipe).
constexpr qint64 kMaxDocumentBytes = qint64(256) * 1024 * 1024;

QByteArray readFile(const QString& path) {
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly)) throw CliError{QStringLiteral("cannot read %1").arg(path)};
    const QString tooLarge = QStringLiteral("%1 is larger than %2 MB").arg(path).arg(kMaxDocumentBytes >> 20);
    if (f.size() > kMaxDocumentBytes) throw CliError{tooLarge};
    QByteArray out;
    QByteArray chunk(1 << 16, Qt::Uninitialized);
    for (;;) {
        const qint64 n = f.read(chunk.data(), chunk.size());
        if (n < 0) throw CliError{QStringLiteral("cannot read %1: %2").arg(path, f.errorString())};
        if (n == 0) break;
        if (out.size() + n > kMaxDocumentBytes) throw CliError{tooLarge};
        out.append(chunk.constData(), n);
    }
    return out;
}

// An HTML file: a byte-order mark, else --charset, else its <meta> charset, else UTF-8 when valid,
// else the code page setting. A file that is not text is refused.
QString readHtmlFile(const QString& path, const CliArgs& a) {
    QString error;
    const auto text = decodeDocumentBytes(readFile(path), a.option(QStringLiteral("--charset")).toLatin1(), &error);
    if (!text) throw CliError{QStringLiteral("cannot take %1: %2").arg(path, error)};
    return *text;
}

PasswordPrompt promptFrom(const CliArgs& a) {
    const bool given = a.has(QStringLiteral("--doc-password"));
    const QString pw = a.option(QStringLiteral("--doc-password"));
    return [given, pw](const QString&, const QString&) -> std::optional<QString> {
        if (!given) return std::nullopt;
        return pw;
    };
}

void requireDocumentPassword(Database& db, const QString& id, const CliArgs& a) {
    if (!CheckDocumentPassword(db, id, promptFrom(a)))
        throw CliError{QStringLiteral("the document password of node %1 was not given or is wrong").arg(id)};
}

// The node or one above it is in the recycle bin (or purged): nothing may go below it. The store
// checks again under its locks; this gives the message.
void refuseBinTarget(Database& db, const QString& target) {
    if (target == kRoot) return;
    QList<qint64> chain;
    for (const QString& part : GetChildPath(db, target).split(u'/', Qt::SkipEmptyParts))
        chain << part.toLongLong();
    if (chain.isEmpty()) throw CliError{QStringLiteral("no node %1").arg(target)};
    Params p;
    const QString list = sql::inList(chain, p);
    const qint64 live =
        db.scalar(QStringLiteral("select count(*) from info where id in (%1) and ").arg(list) + sql::live(), p)
            .toLongLong();
    if (live != chain.size()) throw CliError{QStringLiteral("node %1 is in the recycle bin").arg(target)};
}

int nodeAdd(Cli& cli, Database& db, const CliArgs& a) {
    const QString parent = nodeArg(db, a, 1, "parent id", true);
    Tinfoproperty rec;
    rec.caption = checkedCaption(a.at(2, "caption"));
    rec.hidden = a.flag(QStringLiteral("--hidden"));
    rec.keywords = a.option(QStringLiteral("--keywords"));
    if (a.has(QStringLiteral("--content"))) rec.content = readHtmlFile(a.option(QStringLiteral("--content")), a);
    QString id;
    cli.write(db, [&] {
        refuseBinTarget(db, parent);
        if (IsSiblingCaptionTaken(db, parent, kRoot, rec.caption)) throw CliError{GetString(40434)};
        rec.sortNumber = MaxSortNumber(db, parent) + 1;
        id = InsertNode(db, rec, parent);
        if (id.isEmpty()) throw CliError{QStringLiteral("cannot add the node: %1").arg(db.lastError())};
        if (!rec.keywords.isEmpty() && !UpdateNodeProperties(db, rec, id))
            throw CliError{QStringLiteral("cannot store the keywords: %1").arg(db.lastError())};
        if (parent != kRoot) RefreshHasChild(db, parent);
    });
    cli.println(id);
    return kExitOk;
}

int nodeLs(Cli& cli, Database& db, const CliArgs& a) {
    const QString parent = nodeArg(db, a, 1, "parent id", true);
    if (parent != kRoot) requireDocumentPassword(db, parent, a);
    QList<QStringList> rows;
    for (const NodeItem& n : ListChildren(db, parent, promptFrom(a)))
        rows << QStringList{QString::number(n.id),         n.caption,           n.hasChild,
                            QString::number(n.sortNumber), dateText(n.created), dateText(n.modified)};
    cli.printRows({QStringLiteral("id"), QStringLiteral("caption"), QStringLiteral("haschild"),
                   QStringLiteral("sorttype"), QStringLiteral("createdate"), QStringLiteral("modifydate")},
                  rows);
    return kExitOk;
}

int nodeShow(Cli& cli, Database& db, const CliArgs& a) {
    const QString id = nodeArg(db, a, 1, "node id", false);
    const auto p = ReadNodeProperties(db, id);
    const auto item = ReadNodeItem(db, id);
    if (!p || !item) throw CliError{QStringLiteral("no node %1").arg(id)};
    cli.printRecord({{QStringLiteral("id"), id},
                     {QStringLiteral("caption"), p->caption},
                     {QStringLiteral("parent"), parentOf(db, id)},
                     {QStringLiteral("fullname"), p->fullName},
                     {QStringLiteral("fullpath"), GetChildPath(db, id)},
                     {QStringLiteral("haschild"), item->hasChild},
                     {QStringLiteral("actor"), p->actor},
                     {QStringLiteral("createdate"), dateText(p->created)},
                     {QStringLiteral("modifydate"), dateText(p->modified)},
                     {QStringLiteral("protected"), sql::yn(p->isProtected)},
                     {QStringLiteral("hidden"), sql::yn(p->hidden)},
                     {QStringLiteral("keywords"), p->keywords},
                     {QStringLiteral("sorttype"), QString::number(p->sortNumber)},
                     {QStringLiteral("inbox"), sql::yn(p->inbox)},
                     {QStringLiteral("mailid"), QString::number(p->mailId)},
                     {QStringLiteral("attachments"), QString::number(CountAttachments(db, id))},
                     {QStringLiteral("memo"), p->memo}});
    return kExitOk;
}

int nodeRename(Cli& cli, Database& db, const CliArgs& a) {
    const QString id = nodeArg(db, a, 1, "node id", false);
    const QString caption = checkedCaption(a.at(2, "caption"));
    cli.write(db, [&] {
        if (IsSiblingCaptionTaken(db, parentOf(db, id), id, caption)) throw CliError{GetString(40315)};
        if (!RenameNode(db, caption, id)) throw CliError{QStringLiteral("cannot rename: %1").arg(db.lastError())};
    });
    return kExitOk;
}

// The tree's refusals for moving and copying a node under target.
// The tree's refusals for moving and copying a node under target, and a target in the recycle bin.
void checkTarget(Database& db, const QString& id, const QString& target) {
    if (target == id || GetChildPath(db, target).startsWith(GetChildPath(db, id))) throw CliError{GetString(41046)};
    if (target == parentOf(db, id)) throw CliError{GetString(41047)};
    if (IsSiblingCaptionTaken(db, target, kRoot, GetNodeCaption(db, id))) throw CliError{GetString(40314)};
    refuseBinTarget(db, target);
}

int nodeMove(Cli& cli, Database& db, const CliArgs& a) {
    const QString id = nodeArg(db, a, 1, "node id", false);
    const QString target = nodeArg(db, a, 2, "target parent id", true);
    // Checked inside the transaction: another writer may have moved either node since.
    cli.write(db, [&] {
        checkTarget(db, id, target);
        const QString oldParent = parentOf(db, id);
        if (MoveNode(db, target, id) == 0) throw CliError{QStringLiteral("cannot move: %1").arg(db.lastError())};
        if (oldParent != kRoot) RefreshHasChild(db, oldParent);
        if (target != kRoot) RefreshHasChild(db, target);
    });
    return kExitOk;
}

int nodeCopy(Cli& cli, Database& db, const CliArgs& a) {
    const QString id = nodeArg(db, a, 1, "node id", false);
    const QString target = nodeArg(db, a, 2, "target parent id", true);
    QString copy;
    cli.write(db, [&] {
        checkTarget(db, id, target);
        copy = CopySubtree(db, a.flag(QStringLiteral("--children")), target, id);
        if (copy.isEmpty()) throw CliError{QStringLiteral("cannot copy: %1").arg(db.lastError())};
        if (target != kRoot) RefreshHasChild(db, target);
    });
    cli.println(copy);
    return kExitOk;
}

int nodeDelete(Cli& cli, Database& db, const CliArgs& a) {
    if (a.size() < 2) throw CliError{QStringLiteral("missing node id"), kExitUsage};
    QStringList ids;
    for (qsizetype i = 1; i < a.size(); ++i)
        ids << nodeArg(db, a, i, "node id", false);
    cli.write(db, [&] {
        for (const QString& id : ids) {
            const QString parent = parentOf(db, id);
            if (!MoveNodeToBin(db, id, true))
                throw CliError{QStringLiteral("cannot delete %1: %2").arg(id, db.lastError())};
            if (parent != kRoot) RefreshHasChild(db, parent);
        }
    });
    return kExitOk;
}

int nodeCommand(Cli& cli, const CliArgs& a) {
    const QString sub = a.at(0, "node command (add, ls, show, find, rename, move, copy, delete)");
    Database& db = cli.session();
    if (sub == QStringLiteral("add")) return nodeAdd(cli, db, a);
    if (sub == QStringLiteral("ls")) return nodeLs(cli, db, a);
    if (sub == QStringLiteral("show")) return nodeShow(cli, db, a);
    if (sub == QStringLiteral("find")) {
        const QString id = FindNodeByName(db, a.at(1, "name path"));
        if (id == kRoot) throw CliError{QStringLiteral("no node named \"%1\"").arg(a.at(1, "name path"))};
        cli.println(id);
        return kExitOk;
    }
    if (sub == QStringLiteral("rename")) return nodeRename(cli, db, a);
    if (sub == QStringLiteral("move")) return nodeMove(cli, db, a);
    if (sub == QStringLiteral("copy")) return nodeCopy(cli, db, a);
    if (sub == QStringLiteral("delete")) return nodeDelete(cli, db, a);
    throw CliError{QStringLiteral("unknown node command \"%1\"").arg(sub), kExitUsage};
}

int contentCommand(Cli& cli, const CliArgs& a) {
    const QString sub = a.at(0, "content command (get, put)");
    Database& db = cli.session();
    const QString id = nodeArg(db, a, 1, "node id", false);
    if (sub == QStringLiteral("get")) {
        requireDocumentPassword(db, id, a);
        cli.writeRaw(ReadDocumentContent(db, id));
        return kExitOk;
    }
    if (sub == QStringLiteral("put")) {
        const QString text = readHtmlFile(a.at(2, "file"), a);
        cli.write(db, [&] {
            if (!WriteDocumentText(db, id, text))
                throw CliError{QStringLiteral("cannot store: %1").arg(db.lastError())};
        });
        return kExitOk;
    }
    throw CliError{QStringLiteral("unknown content command \"%1\"").arg(sub), kExitUsage};
}

QString attachmentArg(Database& db, const CliArgs& a, qsizetype i) {
    const QString id = a.at(i, "attachment id").trimmed();
    if (GetAttachmentNodeId(db, id) == kRoot) throw CliError{QStringLiteral("no attachment %1").arg(id)};
    return id;
}

void writeOutput(Cli& cli, const CliArgs& a, const QByteArray& bytes, const QString& name) {
    if (!a.has(QStringLiteral("-o"))) {
        cli.writeRaw(bytes);
        return;
    }
    QString target = a.option(QStringLiteral("-o"));
    if (QFileInfo(target).isDir()) target += u'/' + SafeAttachmentFileName(name);
    QFile f(target);
    // A full disk shows only when the buffer is written out.
    if (!f.open(QIODevice::WriteOnly | QIODevice::Truncate) || f.write(bytes) != bytes.size() || !f.flush())
        throw CliError{QStringLiteral("cannot write %1: %2").arg(target, f.errorString())};
    f.close();
    if (f.error() != QFileDevice::NoError)
        throw CliError{QStringLiteral("cannot write %1: %2").arg(target, f.errorString())};
}

// A stored name with "/" or "\\" could never be reached through a path URL.
void refuseAttachmentPathName(const QString& name) {
    for (const QChar c : {u'/', u'\\'})
        if (name.contains(c)) throw CliError{GetString(41018).replace(QStringLiteral("%s"), QString(c))};
}

int attachCommand(Cli& cli, const CliArgs& a) {
    const QString sub = a.at(0, "attach command (add, ls, get, get-id, rename, delete)");
    Database& db = cli.session();
    if (sub == QStringLiteral("add")) {
        const QString node = nodeArg(db, a, 1, "node id", false);
        const QString file = QFileInfo(a.at(2, "file")).absoluteFilePath();
        if (!QFileInfo(file).isFile()) throw CliError{QStringLiteral("no file %1").arg(file)};
        const QString name = a.option(QStringLiteral("--name"), QFileInfo(file).fileName());
        refuseAttachmentPathName(name);
        const QString id = SaveAttachmentFromFile(db, node, file, name);
        if (id.isEmpty()) throw CliError{QStringLiteral("cannot store the attachment: %1").arg(db.lastError())};
        cli.println(id);
        return kExitOk;
    }
    if (sub == QStringLiteral("ls")) {
        const QString node = nodeArg(db, a, 1, "node id", false);
        QList<QStringList> rows;
        for (const AttachmentItem& i : FillAttachmentList(db, node))
            rows << QStringList{QString::number(i.id),
                                i.fileName,
                                QString::number(i.size),
                                i.sizeText,
                                i.typeName,
                                dateText(i.lastTime),
                                dateText(i.createTime)};
        cli.printRows({QStringLiteral("id"), QStringLiteral("filename"), QStringLiteral("size"),
                       QStringLiteral("sizetext"), QStringLiteral("type"), QStringLiteral("lasttime"),
                       QStringLiteral("createtime")},
                      rows);
        return kExitOk;
    }
    if (sub == QStringLiteral("get")) {
        const QString node = nodeArg(db, a, 1, "node id", false);
        const QString name = a.at(2, "file name");
        bool found = false;
        const QByteArray bytes = ReadAttachmentByName(db, node, name, &found);
        if (!found) throw CliError{QStringLiteral("no attachment \"%1\" in node %2").arg(name, node)};
        writeOutput(cli, a, bytes, name);
        return kExitOk;
    }
    if (sub == QStringLiteral("get-id")) {
        QByteArray bytes;
        const QString id = a.at(1, "attachment id");
        const QString name = ReadAttachmentById(db, bytes, id);
        if (name.isEmpty()) throw CliError{QStringLiteral("no attachment %1").arg(id)};
        writeOutput(cli, a, bytes, name);
        return kExitOk;
    }
    if (sub == QStringLiteral("rename")) {
        const QString id = attachmentArg(db, a, 1);
        const QString name = a.at(2, "file name").trimmed();
        if (name.isEmpty()) throw CliError{QStringLiteral("the file name is empty"), kExitUsage};
        refuseAttachmentPathName(name);
        if (IsAttachmentNameTaken(db, GetAttachmentNodeId(db, id), id, name)) throw CliError{GetString(40315)};
        if (!RenameAttachment(db, id, name)) throw CliError{QStringLiteral("cannot rename: %1").arg(db.lastError())};
        return kExitOk;
    }
    if (sub == QStringLiteral("delete")) {
        const QString id = attachmentArg(db, a, 1);
        if (!DeleteAttachment(db, id)) throw CliError{QStringLiteral("cannot delete: %1").arg(db.lastError())};
        return kExitOk;
    }
    throw CliError{QStringLiteral("unknown attach command \"%1\"").arg(sub), kExitUsage};
}

} // namespace

void registerNodeCommands() {
    registerCommand(QStringLiteral("node"), nodeCommand,
                    {QStringLiteral("--content"), QStringLiteral("--keywords"), QStringLiteral("--doc-password"),
                     QStringLiteral("--charset")},
                    {QStringLiteral("--hidden"), QStringLiteral("--children")});
    registerCommand(QStringLiteral("content"), contentCommand,
                    {QStringLiteral("--doc-password"), QStringLiteral("--charset")}, {});
    registerCommand(QStringLiteral("attach"), attachCommand, {QStringLiteral("--name"), QStringLiteral("-o")}, {});
}

} // namespace zel
