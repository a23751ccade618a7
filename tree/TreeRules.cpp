#include "tree/TreeRules.h"

#include <QDateTime>

#include "store/Nodes.h"
#include "store/Sql.h"

namespace zel {

bool IsKnownSortNumber(int number) {
    switch (number) {
    case 0:
    case 1:
    case 4:
    case 5:
    case 6:
    case 7:
    case 16:
    case 17:
        return true;
    default:
        return false;
    }
}

int SortSection(int number) {
    return number / 2;
}

bool SortAscending(int number) {
    return number % 2 == 0;
}

SortKind TreeColumnKind(int section) {
    switch (section) {
    case ColId:
    case ColSortNumber:
        return SortKind::Number;
    case ColModified:
    case ColCreated:
        return SortKind::DateTime;
    default:
        return SortKind::Text;
    }
}

int CompareTreeValues(int section, const QString& a, const QString& b) {
    switch (TreeColumnKind(section)) {
    case SortKind::Number: {
        const qint64 x = a.trimmed().toLongLong(), y = b.trimmed().toLongLong();
        return x < y ? -1 : (x > y ? 1 : 0);
    }
    case SortKind::DateTime:
        // Both are "yyyy-MM-dd hh:mm:ss" (or empty, which sorts first), so text order is time order.
        return a.compare(b);
    case SortKind::Text:
        break;
    }
    return a.localeAwareCompare(b) < 0 ? -1 : (a.localeAwareCompare(b) > 0 ? 1 : 0);
}

QString TreeTimeText(const QDateTime& dt) {
    return dt.isValid() ? dt.toString(QStringLiteral("yyyy-MM-dd hh:mm:ss")) : QString();
}

QString NodeLinkUrl(const QStringList& captionsFromRoot) {
    QString path;
    for (const QString& c : captionsFromRoot)
        path += u'/' + c;
    path += QStringLiteral(".htm");
    // Everything before the second "/" goes: the root's caption is not part of a node's path.
    const qsizetype second = path.indexOf(u'/', 1);
    path = second < 0 ? QString() : path.mid(second);
    return QStringLiteral("link://document") + path;
}

void NodeHistory::opened(const HistoryEntry& previous) {
    if (previous.id.isEmpty()) return;
    back_.append(previous);
    forward_.clear();
}

HistoryEntry NodeHistory::back(const HistoryEntry& current) {
    if (back_.isEmpty()) return {};
    const HistoryEntry e = back_.takeLast();
    if (!current.id.isEmpty()) forward_.append(current);
    return e;
}

HistoryEntry NodeHistory::forward(const HistoryEntry& current) {
    if (forward_.isEmpty()) return {};
    const HistoryEntry e = forward_.takeLast();
    if (!current.id.isEmpty()) back_.append(current);
    return e;
}

void NodeHistory::clear() {
    back_.clear();
    forward_.clear();
}

QString TreeCommandName(TreeCommand c) {
    static const char* const names[kTreeCommandCount] = {
        "Open",       "NewDocument",        "NewSubDocument", "Rename",     "MoveTo", "Delete",   "MarkRead",
        "MarkUnread", "ColourSign",         "Import",         "SendToMail", "Replay", "Property", "EmptyBin",
        "Restore",    "DefaultDocument",    "DefaultPage",    "Sort",       "MoveUp", "MoveDown", "Back",
        "Forward",    "SetDocumentPassword"};
    return QString::fromLatin1(names[int(c)]);
}

CommandStates TreeCommandStates(const TreeItemFacts& f) {
    CommandStates s;
    const bool normal = f.focused && f.id >= 0 && !f.outbox && !f.sentbox;
    s[TreeCommand::Open] = f.focused;
    s[TreeCommand::NewDocument] = !f.focused || f.id != 0;
    s[TreeCommand::NewSubDocument] = normal;
    // The root and the recycle bin are neither renamed nor moved.
    s[TreeCommand::Rename] = normal && f.id > 0;
    s[TreeCommand::MoveTo] = normal && f.id > 0;
    const bool markable = normal && f.id != 0 && !f.inbox;
    s[TreeCommand::Delete] = markable;
    s[TreeCommand::MarkRead] = markable;
    s[TreeCommand::MarkUnread] = markable;
    s[TreeCommand::ColourSign] = markable;
    s[TreeCommand::Import] = normal && !f.inbox;
    s[TreeCommand::SendToMail] = normal && f.id > 0 && !f.inbox;
    s[TreeCommand::Replay] = s[TreeCommand::SendToMail] && f.mailType == QStringLiteral("I");
    s[TreeCommand::Property] = f.focused && f.id >= 0;
    s[TreeCommand::EmptyBin] = f.focused && f.id == -1 && f.binHoldsNodes;
    s[TreeCommand::Restore] = false;
    s[TreeCommand::DefaultDocument] = f.focused && f.id > 0;
    s[TreeCommand::DefaultPage] = true;
    s[TreeCommand::Sort] = true;
    const bool custom = f.sortNumber == 6 || f.sortNumber == 7;
    s[TreeCommand::MoveUp] = custom && f.focused && f.id > 0 && !f.first;
    s[TreeCommand::MoveDown] = custom && f.focused && f.id > 0 && !f.last;
    return s;
}

CommandStates FileListCommandStates(const FileRowFacts& f) {
    CommandStates s;
    const bool row = f.rowGiven || f.anySelected;
    s[TreeCommand::NewDocument] = !f.binShown;
    s[TreeCommand::Open] = row && !f.binShown;
    s[TreeCommand::MoveTo] = row && !f.binShown;
    s[TreeCommand::Rename] = row && !f.binShown;
    s[TreeCommand::Restore] = row && f.binShown;
    s[TreeCommand::NewSubDocument] = f.rowGiven && !f.binShown;
    s[TreeCommand::DefaultDocument] = f.rowGiven && !f.binShown;
    s[TreeCommand::Property] = f.rowGiven && !f.binShown;
    const bool markable = f.id >= 0 && !f.outbox && !f.sentbox && !f.inbox;
    s[TreeCommand::Delete] = markable;
    s[TreeCommand::MarkRead] = markable && !f.binShown;
    s[TreeCommand::MarkUnread] = markable && !f.binShown;
    s[TreeCommand::ColourSign] = markable && !f.binShown;
    s[TreeCommand::SendToMail] = markable && !f.binShown;
    s[TreeCommand::Replay] = s[TreeCommand::SendToMail] && f.mailType == QStringLiteral("I");
    s[TreeCommand::EmptyBin] = f.binShown && f.rowsPresent;
    s[TreeCommand::DefaultPage] = true;
    // The list has its own order: the tree's ordering commands wait until it loses the focus.
    s[TreeCommand::Sort] = false;
    s[TreeCommand::MoveUp] = false;
    s[TreeCommand::MoveDown] = false;
    return s;
}

bool IsLiveNode(Database& db, const QString& id) {
    const qint64 n = sql::idValue(id);
    if (n == 0) return true;
    bool ok = false;
    const QVariant v = db.scalar(QStringLiteral("select count(*) from info where id=:id and ") + sql::live(),
                                 {{QStringLiteral(":id"), n}}, &ok);
    return ok && v.toLongLong() > 0;
}

int CheckNodeName(Database& db, const QString& trimmedName, const QString& parentId, const QString& excludedId) {
    if (trimmedName.isEmpty()) return 40433;
    if (trimmedName.contains(u'/') || trimmedName.contains(u'\\') || trimmedName.contains(u'#')) return 41018;
    if (IsSiblingCaptionTaken(db, parentId, excludedId, trimmedName)) return 40434;
    return 0;
}

} // namespace zel
