// zel-cli kb ..., info
#include "cli/Cli.h"

#include "platform/Database.h"
#include "shell/RuntimeSettings.h"
#include "store/KnowledgeBase.h"
#include "store/Nodes.h"
#include "store/Schema.h"

#include <cstdio>

namespace zel {

namespace {

int kbList(Cli& cli) {
    Catalogue& cat = MainData().catalogue;
    QList<QStringList> rows;
    for (const CatalogueEntry& e : cat.entries())
        rows << QStringList{e.nameText(), QString::number(e.serverType), e.serverNameText(), e.databaseText(),
                            e.userText()};
    cli.printRows({QStringLiteral("name"), QStringLiteral("type"), QStringLiteral("server"), QStringLiteral("database"),
                   QStringLiteral("user")},
                  rows);
    return kExitOk;
}

int kbNew(Cli& cli, const CliArgs& a) {
    const QString name = a.at(1, "knowledge base name");
    CatalogueEntry e;
    if (a.has(QStringLiteral("--server"))) {
        e = CatalogueEntry::make(1, name, a.required(QStringLiteral("--server")),
                                 a.required(QStringLiteral("--database")), a.option(QStringLiteral("--db-user")),
                                 a.option(QStringLiteral("--db-password")));
    } else {
        e = CatalogueEntry::make(0, name, a.required(QStringLiteral("--folder")), a.required(QStringLiteral("--file")),
                                 QString(), a.option(QStringLiteral("--db-password")));
    }
    QString error;
    if (!NewKnowledgeBase(MainData().catalogue, e, a.required(QStringLiteral("--admin")),
                          a.option(QStringLiteral("--admin-password")), &error))
        throw CliError{error};
    const CatalogueEntry& made = MainData().catalogue.entries().last();
    cli.printRows(
        {QStringLiteral("name"), QStringLiteral("type"), QStringLiteral("server"), QStringLiteral("database")},
        {{made.nameText(), QString::number(made.serverType), made.serverNameText(), made.databaseText()}});
    return kExitOk;
}

int kbRemove(const CliArgs& a) {
    Catalogue& cat = MainData().catalogue;
    const QString name = a.at(1, "knowledge base name");
    QString error;
    bool found = true;
    const bool ok = cat.UpdateCatalogue(
        [&](QList<CatalogueEntry>& entries, QString*) {
            for (qsizetype i = 0; i < entries.size(); ++i)
                if (entries[i].nameText() == name) {
                    entries.removeAt(i);
                    return true;
                }
            found = false;
            return false;
        },
        &error);
    if (!found) throw CliError{QStringLiteral("no knowledge base named \"%1\"").arg(name)};
    if (!ok) throw CliError{error};
    return kExitOk;
}

int kbCommand(Cli& cli, const CliArgs& a) {
    const QString sub = a.at(0, "kb command (list, new, remove)");
    if (!MainData().loadCatalogue() && MainData().catalogue.unreadable()) {
        const QString message = QStringLiteral("cannot read the catalogue %1").arg(MainData().catalogue.filePath());
        // Listing it as empty would hide the knowledge bases; a change goes on and keeps the file.
        if (sub == QStringLiteral("list")) throw CliError{message};
        fprintf(stderr, "%s; it is kept beside it as datalink.dat.unreadable.N\n", message.toLocal8Bit().constData());
    }
    if (sub == QStringLiteral("list")) return kbList(cli);
    if (sub == QStringLiteral("new")) return kbNew(cli, a);
    if (sub == QStringLiteral("remove")) return kbRemove(a);
    throw CliError{QStringLiteral("unknown kb command \"%1\"").arg(sub), kExitUsage};
}

int infoCommand(Cli& cli, const CliArgs&) {
    Database& db = cli.session();
    const TRuntimeReg& reg = RuntimeSettings();
    cli.printRecord({{QStringLiteral("version"), QString::number(SchemaVersion(db))},
                     {QStringLiteral("nodes"), QString::number(CountLiveNodes(db))},
                     {QStringLiteral("folders"), QString::number(CountLiveFolders(db))},
                     {QStringLiteral("outbox"), QString::number(reg.outboxNode)},
                     {QStringLiteral("sendbox"), QString::number(reg.sendboxNode)}});
    return kExitOk;
}

} // namespace

void registerKbCommands() {
    registerCommand(QStringLiteral("kb"), kbCommand,
                    {QStringLiteral("--folder"), QStringLiteral("--file"), QStringLiteral("--db-password"),
                     QStringLiteral("--admin"), QStringLiteral("--admin-password"), QStringLiteral("--server"),
                     QStringLiteral("--database"), QStringLiteral("--db-user")},
                    {});
    registerCommand(QStringLiteral("info"), infoCommand, {}, {});
}

} // namespace zel
