// zel-cli search ...
#include "cli/Cli.h"

#include "platform/Database.h"
#include "search/SearchIndex.h"
#include "search/TSearchEngine.h"
#include "store/DocumentUnlocks.h"

#include <QDate>

namespace zel {

namespace {

void dateRange(const CliArgs& a, const QString& option, bool& on, QDate& begin, QDate& end) {
    if (!a.has(option)) return;
    const QStringList v = a.option(option).split(u'\n');
    begin = QDate::fromString(v.value(0), Qt::ISODate);
    end = QDate::fromString(v.value(1), Qt::ISODate);
    if (!begin.isValid() || !end.isValid())
        throw CliError{QStringLiteral("%1 needs two dates as YYYY-MM-DD").arg(option), kExitUsage};
    on = true;
}

int searchCommand(Cli& cli, const CliArgs& a) {
    TSearchCriteria c;
    c.text = a.rest(0).join(u' ').trimmed();
    if (c.text.isEmpty()) throw CliError{QStringLiteral("missing search text"), kExitUsage};
    c.includeContent = a.flag(QStringLiteral("--content"));
    c.includeFullName = !a.flag(QStringLiteral("--no-fullname"));
    c.matchCase = a.flag(QStringLiteral("--case"));
    if (a.has(QStringLiteral("--subtree"))) {
        c.restrictToSubtree = true;
        c.subtreeRoot = a.option(QStringLiteral("--subtree")).trimmed();
    }
    dateRange(a, QStringLiteral("--created"), c.restrictByCreated, c.createdBegin, c.createdEnd);
    dateRange(a, QStringLiteral("--modified"), c.restrictByModified, c.modifiedBegin, c.modifiedEnd);
    c.owner = a.option(QStringLiteral("--owner")).trimmed();
    if (a.flag(QStringLiteral("--scan"))) c.method = TSearchCriteria::Method::Scan;
    c.unlockedDocuments = UnlockedDocuments();

    Database& db = cli.session();
    TSearchEngine engine(db.connectionString(), c);
    QList<QStringList> rows;
    QStringList pages;
    QObject::connect(&engine, &TSearchEngine::resultFound, &engine,
                     [&](int number, qint64 id, const QString& caption, const QString& address) {
                         // The address is full name + caption + ".htm"; the row shows the full name.
                         const QString fullName = address.left(address.size() - caption.size() - 4);
                         rows << QStringList{QString::number(number), QString::number(id), caption, fullName};
                     });
    QObject::connect(&engine, &TSearchEngine::pageFlushed, &engine, [&](const QString& html) { pages << html; });
    engine.run();
    if (engine.stats().failed) throw CliError{QStringLiteral("the search failed")};
    if (a.flag(QStringLiteral("--html"))) {
        for (const QString& p : pages)
            cli.println(p);
        return kExitOk;
    }
    cli.printRows(
        {QStringLiteral("number"), QStringLiteral("id"), QStringLiteral("caption"), QStringLiteral("fullname")}, rows);
    return kExitOk;
}

int searchIndexCommand(Cli& cli, const CliArgs& a) {
    const QString sub = a.at(0, "search-index command (status, rebuild, drop)");
    Database& db = cli.session();
    if (sub == QStringLiteral("rebuild")) {
        if (!RebuildSearchIndex(db))
            throw CliError{QStringLiteral("cannot build the search index: %1").arg(db.lastError())};
    } else if (sub == QStringLiteral("drop")) {
        if (!DropSearchIndex(db))
            throw CliError{QStringLiteral("cannot drop the search index: %1").arg(db.lastError())};
        return kExitOk;
    } else if (sub != QStringLiteral("status")) {
        throw CliError{QStringLiteral("unknown search-index command \"%1\"").arg(sub), kExitUsage};
    }
    cli.printRecord({{QStringLiteral("ready"), SearchIndexReady(db) ? QStringLiteral("Y") : QStringLiteral("N")},
                     {QStringLiteral("bytes"), QString::number(SearchIndexBytes(db))},
                     {QStringLiteral("pending"), QString::number(SearchIndexPendingChanges(db))}});
    return kExitOk;
}

} // namespace

void registerSearchCommands() {
    registerCommand(QStringLiteral("search"), searchCommand,
                    {QStringLiteral("--subtree"), QStringLiteral("--created=2"), QStringLiteral("--modified=2"),
                     QStringLiteral("--owner")},
                    {QStringLiteral("--content"), QStringLiteral("--no-fullname"), QStringLiteral("--case"),
                     QStringLiteral("--html"), QStringLiteral("--scan")});
    registerCommand(QStringLiteral("search-index"), searchIndexCommand, {}, {});
}

} // namespace zel
