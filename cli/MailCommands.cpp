// zel-cli mail ...
#include "cli/Cli.h"

#include <QHash>
#include <QSet>

#include <QFile>
#include <QFileInfo>

#include "mail/MailAccounts.h"
#include "mail/TMail.h"
#include "mail/TMimeDecorder.h"
#include "mail/TMimeDecorderTrd.h"
#include "platform/Database.h"
#include "store/Nodes.h"
#include "store/Users.h"

namespace zel {

namespace {

// Row of a mail command's result: account, OK or ERROR, text. Any ERROR makes the exit status 1.
struct MailResult {
    QList<QStringList> rows;
    bool failed = false;
    void add(const QString& account, bool ok, const QString& text) {
        rows << QStringList{account, ok ? QStringLiteral("OK") : QStringLiteral("ERROR"), text};
        failed = failed || !ok;
    }
};

int printResult(Cli& cli, const MailResult& r) {
    cli.printRows({QStringLiteral("account"), QStringLiteral("status"), QStringLiteral("text")}, r.rows);
    return r.failed ? kExitError : kExitOk;
}

// "host" or "host:port"; port 0 when none was given.
void splitHostPort(const QString& value, QString& host, int& port, const QString& option) {
    const QString v = value.trimmed();
    const qsizetype colon = v.lastIndexOf(u':');
    if (colon > 0 && !v.mid(colon + 1).isEmpty() && v.count(u':') == 1) {
        bool ok = false;
        port = v.mid(colon + 1).toInt(&ok);
        if (!ok || port <= 0 || port > 65535)
            throw CliError{QStringLiteral("%1: bad port in \"%2\"").arg(option, value), kExitUsage};
        host = v.left(colon);
    } else {
        host = v;
        port = 0;
    }
}

MailTls tlsOption(const CliArgs& a, const QString& option, MailTls fallback) {
    if (!a.has(option)) return fallback;
    MailTls t;
    if (!parseMailTls(a.option(option), &t))
        throw CliError{QStringLiteral("%1 takes tls, starttls or none").arg(option), kExitUsage};
    return t;
}

// Applies the account options given on the command line to rec (add and set share them).
void applyAccountOptions(const CliArgs& a, TMailReg& rec) {
    if (a.has(QStringLiteral("--address"))) rec.mailAddress = a.option(QStringLiteral("--address"));
    if (a.has(QStringLiteral("--reply-to"))) rec.replyAddress = a.option(QStringLiteral("--reply-to"));
    if (a.has(QStringLiteral("--description"))) rec.description = a.option(QStringLiteral("--description"));
    if (a.has(QStringLiteral("--organization"))) rec.organization = a.option(QStringLiteral("--organization"));
    if (a.has(QStringLiteral("--pop3"))) {
        splitHostPort(a.option(QStringLiteral("--pop3")), rec.pop3, rec.pop3Port, QStringLiteral("--pop3"));
        if (rec.pop3Port == 0) rec.pop3Port = 110;
    }
    if (a.has(QStringLiteral("--smtp"))) {
        splitHostPort(a.option(QStringLiteral("--smtp")), rec.smtp, rec.smtpPort, QStringLiteral("--smtp"));
        if (rec.smtpPort == 0) rec.smtpPort = 25;
    }
    if (a.has(QStringLiteral("--user"))) rec.popAccount = a.option(QStringLiteral("--user"));
    if (a.has(QStringLiteral("--password"))) {
        rec.popPassword = a.option(QStringLiteral("--password"));
        rec.rememberPassword = true;
    }
    if (a.flag(QStringLiteral("--forget-password"))) {
        rec.popPassword.clear();
        rec.rememberPassword = false;
    }
    if (a.flag(QStringLiteral("--keep-on-server"))) rec.keepOnServer = true;
    if (a.flag(QStringLiteral("--no-keep-on-server"))) rec.keepOnServer = false;
    rec.pop3Tls = tlsOption(a, QStringLiteral("--tls"), rec.pop3Tls);
    rec.smtpTls = tlsOption(a, QStringLiteral("--smtp-tls"), rec.smtpTls);
    if (a.flag(QStringLiteral("--allow-plain"))) rec.allowPlain = true;
    if (a.flag(QStringLiteral("--no-allow-plain"))) rec.allowPlain = false;
    if (a.flag(QStringLiteral("--smtp-auth"))) rec.authSmtp = true;
    if (a.flag(QStringLiteral("--no-smtp-auth"))) rec.authSmtp = false;
    if (a.has(QStringLiteral("--smtp-user")) || a.has(QStringLiteral("--smtp-password"))) {
        rec.authSmtpSamePop = false;
        rec.authSmtp = true;
        if (a.has(QStringLiteral("--smtp-user"))) rec.smtpAccount = a.option(QStringLiteral("--smtp-user"));
        if (a.has(QStringLiteral("--smtp-password"))) rec.smtpPassword = a.option(QStringLiteral("--smtp-password"));
    }
    if (a.flag(QStringLiteral("--direct")) || a.flag(QStringLiteral("--direct-send"))) rec.directSend = true;
    if (a.flag(QStringLiteral("--no-direct-send"))) rec.directSend = false;
    if (a.has(QStringLiteral("--ca-file"))) rec.caFile = a.option(QStringLiteral("--ca-file"));
    if (a.has(QStringLiteral("--folder"))) rec.incomingId = a.option(QStringLiteral("--folder")).trimmed();
}

TMailReg requireAccount(Database& db, const QString& name) {
    const TMailReg rec = LoadAccount(db, name, CurrentUser().code);
    if (rec.isEmpty()) throw CliError{QStringLiteral("no mail account named \"%1\"").arg(name)};
    return rec;
}

int accountCommand(Cli& cli, const CliArgs& a) {
    const QString sub = a.at(1, "account command (add, set, list, remove)");
    Database& db = cli.session();
    if (sub == QStringLiteral("list")) {
        QList<QStringList> rows;
        for (const TMailReg& r : ListAccounts(db, CurrentUser().code)) {
            rows << QStringList{r.id,
                                r.name,
                                r.mailAddress,
                                r.pop3 + u':' + QString::number(r.pop3Port),
                                r.popAccount,
                                mailTlsName(r.pop3Tls),
                                r.smtp.isEmpty() ? QString() : r.smtp + u':' + QString::number(r.smtpPort),
                                mailTlsName(r.smtpTls),
                                r.keepOnServer ? QStringLiteral("Y") : QStringLiteral("N"),
                                r.rememberPassword ? QStringLiteral("Y") : QStringLiteral("N"),
                                r.incomingId};
        }
        cli.printRows({QStringLiteral("id"), QStringLiteral("name"), QStringLiteral("address"), QStringLiteral("pop3"),
                       QStringLiteral("user"), QStringLiteral("tls"), QStringLiteral("smtp"), QStringLiteral("smtptls"),
                       QStringLiteral("keep"), QStringLiteral("remember"), QStringLiteral("folder")},
                      rows);
        return kExitOk;
    }
    const QString name = a.at(2, "account name");
    if (sub == QStringLiteral("add")) {
        if (name.trimmed().isEmpty()) throw CliError{QStringLiteral("the account name is empty"), kExitUsage};
        if (IsAccountNameTaken(db, QStringLiteral("0"), name))
            throw CliError{QStringLiteral("a mail account named \"%1\" exists").arg(name)};
        TMailReg rec;
        rec.name = name;
        rec.rememberPassword = false;
        rec.authSmtp = false;
        applyAccountOptions(a, rec);
        if (rec.mailAddress.trimmed().isEmpty()) throw CliError{QStringLiteral("missing option --address"), kExitUsage};
        if (rec.pop3.trimmed().isEmpty()) throw CliError{QStringLiteral("missing option --pop3"), kExitUsage};
        if (rec.replyAddress.isEmpty()) rec.replyAddress = rec.mailAddress;
        if (InsertAccount(db, rec, CurrentUser().code).isEmpty())
            throw CliError{QStringLiteral("cannot store the account: %1").arg(db.lastError())};
        cli.printRecord({{QStringLiteral("id"), rec.id}, {QStringLiteral("folder"), rec.incomingId}});
        return kExitOk;
    }
    if (sub == QStringLiteral("set")) {
        TMailReg rec = requireAccount(db, name);
        applyAccountOptions(a, rec);
        if (a.has(QStringLiteral("--name"))) {
            const QString newName = a.option(QStringLiteral("--name"));
            if (newName.trimmed().isEmpty() || IsAccountNameTaken(db, rec.id, newName))
                throw CliError{QStringLiteral("the account name \"%1\" is empty or taken").arg(newName)};
            rec.name = newName;
        }
        if (!UpdateAccount(db, rec, rec.id))
            throw CliError{QStringLiteral("cannot store the account: %1").arg(db.lastError())};
        return kExitOk;
    }
    if (sub == QStringLiteral("remove")) {
        const TMailReg rec = requireAccount(db, name);
        if (!DeleteAccount(db, rec.id))
            throw CliError{QStringLiteral("cannot remove the account: %1").arg(db.lastError())};
        return kExitOk;
    }
    throw CliError{QStringLiteral("unknown mail account command \"%1\"").arg(sub), kExitUsage};
}

// A mail run on its own thread, waited for, then the conversion of what it downloaded.
int runMail(Cli& cli, const CliArgs& a, int mode) {
    Database& db = cli.session();
    const QString account = a.size() > 1 ? a.at(1, "account") : QString();
    if (!account.isEmpty()) requireAccount(db, account);
    TMail run(db.connectionString(), mode, CurrentUser().code, account);
    const QString timeout = a.option(QStringLiteral("--timeout"), qEnvironmentVariable("ZEL_MAIL_TIMEOUT"));
    if (!timeout.isEmpty()) {
        bool ok = false;
        const double seconds = timeout.toDouble(&ok);
        if (!ok || seconds <= 0) throw CliError{QStringLiteral("--timeout takes seconds"), kExitUsage};
        run.setTimeoutMs(int(seconds * 1000));
    }
    // Unremembered passwords come from the environment, once per account: a refused one is not
    // tried again.
    const QString password = qEnvironmentVariable("ZEL_MAIL_PASSWORD");
    QSet<QString> asked;
    QObject::connect(
        &run, &TMail::credentialsNeeded, &run,
        [&](TMailReg* acc, bool* accepted) {
            *accepted = false;
            if (password.isEmpty() || asked.contains(acc->id)) return;
            asked.insert(acc->id);
            acc->popPassword = password;
            *accepted = true;
        },
        Qt::DirectConnection);
    run.start();
    run.wait();
    TMimeDecorderTrd::waitIdle();
    MailResult r;
    for (const TMail::Result& x : run.results())
        r.add(x.account, x.ok, x.text);
    if (mode != TMail::SendOnly) {
        const qint64 waiting = db.scalar(QStringLiteral("select count(*) from zel_mailspool")).toLongLong();
        if (waiting > 0)
            r.add(QString(), false, QStringLiteral("%1 downloaded message(s) not yet converted").arg(waiting));
    }
    return printResult(cli, r);
}

int receiveCommand(Cli& cli, const CliArgs& a) {
    return runMail(cli, a, TMail::ReceiveOnly);
}

int runCommand(Cli& cli, const CliArgs& a) {
    if (a.flag(QStringLiteral("--send-only"))) return runMail(cli, a, TMail::SendOnly);
    if (a.flag(QStringLiteral("--receive-only"))) return runMail(cli, a, TMail::ReceiveOnly);
    return runMail(cli, a, TMail::ReceiveAndSend);
}

int importCommand(Cli& cli, const CliArgs& a) {
    const QStringList files = a.rest(1);
    if (files.isEmpty()) throw CliError{QStringLiteral("missing FILE"), kExitUsage};
    const QString folder = a.required(QStringLiteral("--folder")).trimmed();
    Database& db = cli.session();
    if (folder != QStringLiteral("0") && GetChildPath(db, folder).isEmpty())
        throw CliError{QStringLiteral("no node %1").arg(folder)};
    MailResult r;
    for (const QString& f : files) {
        QFile file(f);
        if (!file.open(QIODevice::ReadOnly)) {
            r.add(f, false, QStringLiteral("cannot read the file"));
            continue;
        }
        const QString node = ConvertMessage(db, file.readAll(), folder, QStringLiteral("E"));
        if (node.isEmpty())
            r.add(f, false, QStringLiteral("cannot store the message: %1").arg(db.lastError()));
        else
            r.add(f, true, node);
    }
    return printResult(cli, r);
}

// The subcommands of "mail"; each receives all words after "mail" (its own name first).
using MailSubcommand = int (*)(Cli&, const CliArgs&);
const QHash<QString, MailSubcommand>& mailSubcommands() {
    static const QHash<QString, MailSubcommand> table{
        {QStringLiteral("account"), accountCommand},
        {QStringLiteral("receive"), receiveCommand},
        {QStringLiteral("import"), importCommand},
        {QStringLiteral("run"), runCommand},
        // Sending (cli/MailSendCommands.cpp; run --send-only goes through the mail run).
        {QStringLiteral("outbox"), mailOutboxCommand},
        {QStringLiteral("send"), mailSendCommand},
    };
    return table;
}

int mailCommand(Cli& cli, const CliArgs& a) {
    const QString sub = a.at(0, "mail command");
    const auto it = mailSubcommands().constFind(sub);
    if (it == mailSubcommands().constEnd())
        throw CliError{QStringLiteral("unknown mail command \"%1\"").arg(sub), kExitUsage};
    return (*it)(cli, a);
}

} // namespace

void registerMailCommands() {
    registerCommand(QStringLiteral("mail"), mailCommand,
                    {QStringLiteral("--address"),      QStringLiteral("--reply-to"),  QStringLiteral("--description"),
                     QStringLiteral("--organization"), QStringLiteral("--pop3"),      QStringLiteral("--user"),
                     QStringLiteral("--password"),     QStringLiteral("--tls"),       QStringLiteral("--smtp"),
                     QStringLiteral("--smtp-tls"),     QStringLiteral("--smtp-user"), QStringLiteral("--smtp-password"),
                     QStringLiteral("--ca-file"),      QStringLiteral("--folder"),    QStringLiteral("--name"),
                     QStringLiteral("--account"),      QStringLiteral("--to"),        QStringLiteral("--cc"),
                     QStringLiteral("--bcc"),          QStringLiteral("--subject"),   QStringLiteral("--timeout"),
                     QStringLiteral("--priority")},
                    {QStringLiteral("--keep-on-server"), QStringLiteral("--no-keep-on-server"),
                     QStringLiteral("--forget-password"), QStringLiteral("--allow-plain"),
                     QStringLiteral("--no-allow-plain"), QStringLiteral("--smtp-auth"),
                     QStringLiteral("--no-smtp-auth"), QStringLiteral("--direct"), QStringLiteral("--direct-send"),
                     QStringLiteral("--no-direct-send"), QStringLiteral("--send-only"),
                     QStringLiteral("--receive-only"), QStringLiteral("--anonymous")});
}

} // namespace zel
