// zel-cli bin ..., maintain
#include "cli/Cli.h"

#include "platform/Database.h"
#include "shell/Strings.h"
#include "store/RecycleBin.h"

namespace zel {

namespace {

QList<qint64> idArgs(const CliArgs& a) {
    if (a.size() < 2) throw CliError{QStringLiteral("missing node id"), kExitUsage};
    QList<qint64> ids;
    for (const QString& w : a.rest(1)) {
        bool ok = false;
        const qint64 id = w.trimmed().toLongLong(&ok);
        if (!ok || id <= 0) throw CliError{QStringLiteral("not a node id: \"%1\"").arg(w), kExitUsage};
        ids << id;
    }
    return ids;
}

// Restore and purge take only rows in the bin: a live node purged by a mistyped id would be lost.
void requireInBin(Database& db, const QList<qint64>& ids) {
    for (const qint64 id : ids) {
        Query q(db, QStringLiteral("select hasdelete from info where id=:id"), {{QStringLiteral(":id"), id}});
        if (!q.next()) throw CliError{QStringLiteral("no node %1").arg(id)};
        if (q.text(0) != QStringLiteral("Y"))
            throw CliError{QStringLiteral("node %1 is not in the recycle bin").arg(id)};
    }
}

int binCommand(Cli& cli, const CliArgs& a) {
    const QString sub = a.at(0, "bin command (list, restore, purge, empty)");
    Database& db = cli.session();
    if (sub == QStringLiteral("list")) {
        QList<QStringList> rows;
        for (const FileListRow& r : ListBinNodes(db))
            rows << QStringList{QString::number(r.id), r.caption, r.fullName, r.hasChild,
                                r.modified.isValid() ? dbDateTimeText(r.modified) : QString()};
        cli.printRows({QStringLiteral("id"), QStringLiteral("caption"), QStringLiteral("fullname"),
                       QStringLiteral("haschild"), QStringLiteral("modifydate")},
                      rows);
        return kExitOk;
    }
    if (sub == QStringLiteral("restore")) {
        const QList<qint64> ids = idArgs(a);
        cli.write(db, [&] {
            requireInBin(db, ids);
            if (!RestoreNodes(db, ids)) throw CliError{QStringLiteral("cannot restore: %1").arg(db.lastError())};
            RestoreParents(db, ids);
        });
        return kExitOk;
    }
    if (sub == QStringLiteral("purge")) {
        const QList<qint64> ids = idArgs(a);
        cli.write(db, [&] {
            requireInBin(db, ids);
            if (!PurgeNodes(db, ids)) throw CliError{QStringLiteral("cannot purge: %1").arg(db.lastError())};
        });
        return kExitOk;
    }
    if (sub == QStringLiteral("empty")) {
        if (!EmptyRecycleBin(db)) throw CliError{QStringLiteral("cannot empty the bin: %1").arg(db.lastError())};
        return kExitOk;
    }
    throw CliError{QStringLiteral("unknown bin command \"%1\"").arg(sub), kExitUsage};
}

int maintainCommand(Cli& cli, const CliArgs& a) {
    Database& db = cli.session();
    const MaintenanceResult r =
        RunMaintenance(db, !a.flag(QStringLiteral("--keep-deleted")), a.flag(QStringLiteral("--repair-paths")));
    if (!r.ok) throw CliError{GetString(r.messageIdent)};
    cli.println(GetString(r.messageIdent));
    return kExitOk;
}

} // namespace

void registerBinCommands() {
    registerCommand(QStringLiteral("bin"), binCommand, {}, {});
    registerCommand(QStringLiteral("maintain"), maintainCommand, {},
                    {QStringLiteral("--keep-deleted"), QStringLiteral("--repair-paths")});
}

} // namespace zel
