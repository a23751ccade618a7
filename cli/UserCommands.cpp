// zel-cli user ...
#include "cli/Cli.h"

#include "platform/Database.h"
#include "shell/Strings.h"
#include "store/Users.h"

namespace zel {

namespace {

void requireAdmin() {
    if (!CurrentUser().administrator) throw CliError{GetString(40338)};
}

qint64 userId(Database& db, const QString& code) {
    const qint64 id = FindUserId(db, code);
    if (id == 0) throw CliError{code + GetString(40408)};
    return id;
}

int userCommand(Cli& cli, const CliArgs& a) {
    const QString sub = a.at(0, "user command (list, add, passwd, remove)");
    Database& db = cli.session();
    if (sub == QStringLiteral("list")) {
        QList<QStringList> rows;
        for (const UserRow& u : ListUsers(db))
            rows << QStringList{QString::number(u.id), u.code, u.name.trimmed(), u.description.trimmed(),
                                u.administrator ? QStringLiteral("Y") : QStringLiteral("N")};
        cli.printRows({QStringLiteral("id"), QStringLiteral("code"), QStringLiteral("name"),
                       QStringLiteral("description"), QStringLiteral("admin")},
                      rows);
        return kExitOk;
    }
    if (sub == QStringLiteral("add")) {
        requireAdmin();
        TuserReg rec;
        rec.code = a.at(1, "user code").trimmed();
        if (rec.code.isEmpty()) throw CliError{GetString(57011)};
        rec.name = a.option(QStringLiteral("--name"));
        rec.description = a.option(QStringLiteral("--description"));
        rec.password = a.required(QStringLiteral("--password"));
        if (IsUserCodeTaken(db, 0, rec.code)) throw CliError{GetString(57013)};
        const qint64 id = AddUser(db, rec);
        if (id == 0) throw CliError{QStringLiteral("cannot add the user: %1").arg(db.lastError())};
        cli.println(QString::number(id));
        return kExitOk;
    }
    if (sub == QStringLiteral("passwd")) {
        const QString code = a.at(1, "user code");
        const QString pw = a.at(2, "new password");
        if (code.compare(CurrentUser().code, Qt::CaseInsensitive) != 0) requireAdmin();
        userId(db, code);
        if (!SetUserPassword(db, code, pw))
            throw CliError{QStringLiteral("cannot set the password: %1").arg(db.lastError())};
        return kExitOk;
    }
    if (sub == QStringLiteral("remove")) {
        requireAdmin();
        const QString code = a.at(1, "user code");
        const qint64 id = userId(db, code);
        for (const UserRow& u : ListUsers(db))
            if (u.id == id && u.administrator) throw CliError{GetString(57006)};
        if (!DeleteUser(db, id)) throw CliError{QStringLiteral("cannot remove the user: %1").arg(db.lastError())};
        return kExitOk;
    }
    throw CliError{QStringLiteral("unknown user command \"%1\"").arg(sub), kExitUsage};
}

} // namespace

void registerUserCommands() {
    registerCommand(QStringLiteral("user"), userCommand,
                    {QStringLiteral("--name"), QStringLiteral("--description"), QStringLiteral("--password")}, {});
}

} // namespace zel
