// zel-cli mail: the sending commands (outbox, outbox add, send, run --send-only).
#include "cli/Cli.h"

#include "mail/MailSend.h"
#include "platform/Database.h"
#include "shell/RuntimeSettings.h"
#include "store/Nodes.h"
#include "store/Sql.h"
#include "store/Users.h"

namespace zel {

namespace {

// Rows of a send phase: account, OK|ERROR, text.
int runSend(Cli& cli, Database& db, const std::function<void(SendRun&)>& body) {
    SendRun run(db);
    run.userCode = CurrentUser().code;
    run.direct = LoadDirectSettings();
    run.passwordFor = [](const SmtpAccount&) { return qEnvironmentVariable("ZEL_MAIL_PASSWORD"); };
    QList<QStringList> rows;
    run.observer.row = [&rows](const QString& account, bool ok, const QString& text) {
        rows += QStringList{account, ok ? QStringLiteral("OK") : QStringLiteral("ERROR"), text};
    };
    body(run);
    cli.printRows({QStringLiteral("account"), QStringLiteral("status"), QStringLiteral("text")}, rows);
    return run.errorCount > 0 ? kExitError : kExitOk;
}

int outboxCommand(Cli& cli, const CliArgs& args, Database& db) {
    const qint64 outbox = RuntimeSettings().outboxNode;
    if (args.size() >= 2 && args.at(1, "subcommand") == QStringLiteral("add")) {
        const QString node = args.at(2, "NODE");
        TMailmsgReg rec;
        rec.account = args.required(QStringLiteral("--account"));
        rec.mailaddress = args.required(QStringLiteral("--to"));
        rec.cclist = args.option(QStringLiteral("--cc"));
        rec.bcclist = args.option(QStringLiteral("--bcc"));
        rec.subject =
            args.has(QStringLiteral("--subject")) ? args.option(QStringLiteral("--subject")) : GetNodeCaption(db, node);
        rec.priority = args.has(QStringLiteral("--priority")) ? args.option(QStringLiteral("--priority")).toInt() : 3;
        if (rec.priority < 1 || rec.priority > 5) throw CliError{QStringLiteral("--priority is 1 to 5"), kExitUsage};
        rec.anonymity = args.flag(QStringLiteral("--anonymous"));
        rec.directsend = args.flag(QStringLiteral("--direct")) || rec.anonymity;
        QString error;
        const QString id = StoreOutgoingMessage(db, node, rec, &error);
        if (id.isEmpty()) throw CliError{error};
        cli.println(id);
        return kExitOk;
    }
    if (args.size() >= 2) throw CliError{QStringLiteral("unknown outbox command %1").arg(args.at(1, "")), kExitUsage};
    QList<QStringList> rows;
    Query q(db,
            QStringLiteral("select info.id,mail.account,mail.mailaddress,mail.cclist,mail.subject,mail.directsend,"
                           "mail.anonymity from info left join mail on info.mailid=mail.id where ") +
                sql::live(QStringLiteral("info")) + QStringLiteral(" and info.parentnode=:outbox order by info.id"),
            {{QStringLiteral(":outbox"), outbox}});
    while (q.next())
        rows += QStringList{QString::number(q.integer(0)),
                            q.text(1),
                            q.text(2),
                            q.text(3),
                            q.text(4),
                            q.text(5) == QStringLiteral("Y") || q.text(6) == QStringLiteral("Y") ? QStringLiteral("Y")
                                                                                                 : QStringLiteral("N")};
    cli.printRows({QStringLiteral("id"), QStringLiteral("account"), QStringLiteral("to"), QStringLiteral("cc"),
                   QStringLiteral("subject"), QStringLiteral("direct")},
                  rows);
    return kExitOk;
}

} // namespace

// Handles the sending subcommands of "mail"; returns -1 for any other subcommand.
int runMailSendCommand(Cli& cli, const CliArgs& args) {
    const QString sub = args.at(0, "mail command");
    if (sub == QStringLiteral("outbox")) return outboxCommand(cli, args, cli.session());
    if (sub == QStringLiteral("send")) {
        const QString node = args.at(1, "NODE");
        Database& db = cli.session();
        return runSend(cli, db, [&node](SendRun& run) { SendSingleMessage(run, node); });
    }
    if (sub == QStringLiteral("run") && args.flag(QStringLiteral("--send-only"))) {
        const QString account = args.size() > 1 ? args.at(1, "ACCOUNT") : QString();
        Database& db = cli.session();
        return runSend(cli, db, [&account](SendRun& run) { SendPhase(run, account); });
    }
    return -1;
}

QStringList mailSendValueOptions() {
    return {QStringLiteral("--account"), QStringLiteral("--to"),      QStringLiteral("--cc"),
            QStringLiteral("--bcc"),     QStringLiteral("--subject"), QStringLiteral("--priority")};
}

QStringList mailSendFlagOptions() {
    return {QStringLiteral("--direct"), QStringLiteral("--anonymous"), QStringLiteral("--send-only")};
}

void registerMailSendCommands() {
    registerCommand(
        QStringLiteral("mail"),
        [](Cli& cli, const CliArgs& args) {
            const int status = runMailSendCommand(cli, args);
            if (status < 0) throw CliError{QStringLiteral("unknown mail command"), kExitUsage};
            return status;
        },
        mailSendValueOptions(), mailSendFlagOptions());
}

} // namespace zel
