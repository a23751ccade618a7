// zel-cli mail outbox [add] and mail send: the sending side of the mail commands.
#include "cli/Cli.h"

#include <QObject>
#include <QSet>

#include "mail/MailSend.h"
#include "mail/TMail.h"
#include "platform/Database.h"
#include "shell/RuntimeSettings.h"
#include "store/Nodes.h"
#include "store/Sql.h"
#include "store/Users.h"

namespace zel {

int mailOutboxCommand(Cli& cli, const CliArgs& args) {
    Database& db = cli.session();
    const qint64 outbox = RuntimeSettings().outboxNode;
    if (args.size() >= 2 && args.at(1, "subcommand") == QStringLiteral("add")) {
        const QString node = args.at(2, "NODE");
        TMailmsgReg rec;
        rec.account = args.required(QStringLiteral("--account"));
        rec.mailAddress = args.required(QStringLiteral("--to"));
        rec.ccList = args.option(QStringLiteral("--cc"));
        rec.bccList = args.option(QStringLiteral("--bcc"));
        rec.subject =
            args.has(QStringLiteral("--subject")) ? args.option(QStringLiteral("--subject")) : GetNodeCaption(db, node);
        rec.priority = args.has(QStringLiteral("--priority")) ? args.option(QStringLiteral("--priority")).toInt() : 3;
        if (rec.priority < 1 || rec.priority > 5) throw CliError{QStringLiteral("--priority is 1 to 5"), kExitUsage};
        rec.anonymity = args.flag(QStringLiteral("--anonymous"));
        rec.directSend = args.flag(QStringLiteral("--direct")) || rec.anonymity;
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

// One outbox message through its own account: a run of mode 12, waited for.
int mailSendCommand(Cli& cli, const CliArgs& args) {
    const QString node = args.at(1, "NODE");
    Database& db = cli.session();
    const QString mailId = GetMailId(db, node);
    bool found = false;
    const TMailmsgReg rec = ReadMailRow(db, mailId, &found);
    if (!found) throw CliError{QStringLiteral("%1 is not a mail message").arg(node)};
    TMail run(db.connectionString(), TMail::SendOne, CurrentUser().code, rec.account);
    run.setSingleMessage(node);
    const QString timeout = args.option(QStringLiteral("--timeout"), qEnvironmentVariable("ZEL_MAIL_TIMEOUT"));
    if (!timeout.isEmpty()) {
        bool ok = false;
        const double seconds = timeout.toDouble(&ok);
        if (!ok || seconds <= 0) throw CliError{QStringLiteral("--timeout takes seconds"), kExitUsage};
        run.setTimeoutMs(int(seconds * 1000));
    }
    const QString password = qEnvironmentVariable("ZEL_MAIL_PASSWORD");
    QObject::connect(
        &run, &TMail::credentialsNeeded, &run,
        [&password](TMailReg* acc, bool* accepted) {
            *accepted = !password.isEmpty();
            if (*accepted) acc->popPassword = password;
        },
        Qt::DirectConnection);
    run.start();
    run.wait();
    QList<QStringList> rows;
    bool failed = false;
    for (const TMail::Result& r : run.results()) {
        rows += QStringList{r.account, r.ok ? QStringLiteral("OK") : QStringLiteral("ERROR"), r.text};
        failed = failed || !r.ok;
    }
    cli.printRows({QStringLiteral("account"), QStringLiteral("status"), QStringLiteral("text")}, rows);
    return failed ? kExitError : kExitOk;
}

} // namespace zel
