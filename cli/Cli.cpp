#include "cli/Cli.h"

#include "platform/Database.h"
#include "platform/Paths.h"
#include "shell/RuntimeSettings.h"
#include "store/KnowledgeBase.h"
#include "store/Schema.h"
#include "store/Users.h"

#include <QCoreApplication>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <cstdio>

namespace zel {

namespace {

struct Registered {
    CliCommand run;
    QStringList valueOptions;
    QStringList flagOptions;
};

QHash<QString, Registered>& commands() {
    static QHash<QString, Registered> map;
    return map;
}

void writeOut(const QString& s) {
    const QByteArray b = s.toUtf8();
    fwrite(b.constData(), 1, size_t(b.size()), stdout);
}

void writeErr(const QString& s) {
    const QByteArray b = (s + u'\n').toUtf8();
    fwrite(b.constData(), 1, size_t(b.size()), stderr);
}

const char* kUsage =
    "usage: zel-cli [--home DIR] [-k NAME -u CODE -p PASSWORD] [--json] COMMAND ...\n"
    "  kb list | kb new NAME ... | kb remove NAME\n"
    "  info\n"
    "  user list | user add CODE --password PW [--name N] [--description D] | user passwd CODE NEWPW |\n"
    "  user remove CODE\n"
    "  node add PARENT CAPTION [--content FILE] [--hidden] [--keywords K] | node ls PARENT |\n"
    "  node show ID | node find NAMEPATH | node rename ID CAPTION | node move ID PARENT |\n"
    "  node copy ID PARENT [--children] | node delete ID...   (node ls, content get: [--doc-password PW])\n"
    "  content get ID | content put ID FILE\n"
    "  attach add ID FILE [--name NAME] | attach ls ID | attach get ID NAME [-o FILE] |\n"
    "  attach get-id ATTID [-o FILE] | attach rename ATTID NAME | attach delete ATTID\n"
    "  bin list | bin restore ID... | bin purge ID... | bin empty\n"
    "  maintain [--keep-deleted] [--repair-paths]\n"
    "  search TEXT [--content] [--no-fullname] [--case] [--subtree ID] [--created FROM TO]\n"
    "         [--modified FROM TO] [--owner TEXT] [--html] [--scan]\n"
    "  search-index status | rebuild | drop\n";

// "--name" takes one value, "--name=2" two (joined by a line end).
int optionArity(const QStringList& valueOptions, const QString& arg) {
    for (const QString& o : valueOptions) {
        const qsizetype eq = o.indexOf(u'=');
        if (eq < 0 && o == arg) return 1;
        if (eq > 0 && o.left(eq) == arg) return o.mid(eq + 1).toInt();
    }
    return 0;
}

} // namespace

QString CliArgs::at(qsizetype i, const char* what) const {
    if (i >= words_.size()) throw CliError{QStringLiteral("missing %1").arg(QString::fromUtf8(what)), kExitUsage};
    return words_[i];
}

QString CliArgs::required(const QString& option) const {
    if (!options_.contains(option)) throw CliError{QStringLiteral("missing option %1").arg(option), kExitUsage};
    return options_.value(option);
}

void registerCommand(const QString& name, CliCommand command, const QStringList& valueOptions,
                     const QStringList& flagOptions) {
    commands().insert(name, Registered{std::move(command), valueOptions, flagOptions});
}

Database& Cli::session() {
    Database& db = MainData().acGlint;
    if (open_) return db;
    if (kbName.isEmpty()) throw CliError{QStringLiteral("this command needs -k NAME -u CODE -p PASSWORD"), kExitUsage};
    if (userCode.isEmpty()) throw CliError{QStringLiteral("missing -u CODE"), kExitUsage};
    MainData().loadCatalogue();
    const OpenResult r = OpenKnowledgeBase(db, MainData().catalogue, kbName, userCode, true, true, false, password);
    if (r.status == OpenStatus::NoEntry) throw CliError{QStringLiteral("no knowledge base named \"%1\"").arg(kbName)};
    if (!r.ok()) throw CliError{OpenMessage(r, userCode)};
    if (!UpgradeSchema(db))
        throw CliError{QStringLiteral("cannot bring the knowledge base up to date: %1").arg(db.lastError())};
    LoadSystemFolders(db);
    LoadUserSettings(db, CurrentUser().code);
    open_ = true;
    return db;
}

void Cli::printRows(const QStringList& keys, const QList<QStringList>& rows) const {
    if (json) {
        QJsonArray arr;
        for (const QStringList& row : rows) {
            QJsonObject o;
            for (qsizetype i = 0; i < keys.size() && i < row.size(); ++i)
                o.insert(keys[i], row[i]);
            arr.append(o);
        }
        writeOut(QString::fromUtf8(QJsonDocument(arr).toJson(QJsonDocument::Indented)));
        return;
    }
    for (const QStringList& row : rows) {
        QStringList cells = row;
        // A TAB or line end inside a value would break the row format.
        for (QString& c : cells) {
            c.replace(u'\t', u' ');
            c.replace(u'\n', u' ');
            c.replace(u'\r', u' ');
        }
        writeOut(cells.join(u'\t') + u'\n');
    }
}

void Cli::printRecord(const QList<std::pair<QString, QString>>& fields) const {
    if (json) {
        QJsonObject o;
        for (const auto& [k, v] : fields)
            o.insert(k, v);
        writeOut(QString::fromUtf8(QJsonDocument(o).toJson(QJsonDocument::Indented)));
        return;
    }
    for (const auto& [k, v] : fields)
        writeOut(k + u'\t' + v + u'\n');
}

void Cli::println(const QString& line) const {
    writeOut(line + u'\n');
}

void Cli::writeRaw(const QByteArray& bytes) const {
    fwrite(bytes.constData(), 1, size_t(bytes.size()), stdout);
    fflush(stdout);
}

int runCli(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("zel"));
    registerKbCommands();
    registerUserCommands();
    registerNodeCommands();
    registerBinCommands();
    registerSearchCommands();

    QStringList args = QCoreApplication::arguments().mid(1);
    Cli cli;
    cli.password = qEnvironmentVariable("ZEL_PASSWORD");
    try {
        // Session options come before the command; --json may stand anywhere.
        QStringList rest;
        for (qsizetype i = 0; i < args.size(); ++i) {
            const QString& a = args[i];
            auto value = [&]() {
                if (i + 1 >= args.size()) throw CliError{QStringLiteral("%1 needs a value").arg(a), kExitUsage};
                return args[++i];
            };
            if (!rest.isEmpty()) {
                rest << a;
                continue;
            }
            if (a == QStringLiteral("--home"))
                setHomeFolder(value());
            else if (a == QStringLiteral("-k"))
                cli.kbName = value();
            else if (a == QStringLiteral("-u"))
                cli.userCode = value();
            else if (a == QStringLiteral("-p"))
                cli.password = value();
            else if (a == QStringLiteral("--json"))
                cli.json = true;
            else if (a == QStringLiteral("-h") || a == QStringLiteral("--help")) {
                writeOut(QString::fromUtf8(kUsage));
                return kExitOk;
            } else
                rest << a;
        }
        if (rest.isEmpty()) throw CliError{QString::fromUtf8(kUsage).trimmed(), kExitUsage};
        // Every command may write the catalogue or a knowledge base below the home folder.
        ensureHomeFolder();
        const QString name = rest.takeFirst();
        const auto it = commands().constFind(name);
        if (it == commands().constEnd()) throw CliError{QStringLiteral("unknown command \"%1\"").arg(name), kExitUsage};
        QStringList words;
        QHash<QString, QString> options;
        QStringList flags;
        for (qsizetype i = 0; i < rest.size(); ++i) {
            const QString& a = rest[i];
            if (a == QStringLiteral("--json")) {
                cli.json = true;
            } else if (const int n = optionArity(it->valueOptions, a); n > 0) {
                if (i + n >= rest.size())
                    throw CliError{QStringLiteral("%1 needs %2 value(s)").arg(a).arg(n), kExitUsage};
                options.insert(a, rest.mid(i + 1, n).join(u'\n'));
                i += n;
            } else if (it->flagOptions.contains(a)) {
                flags << a;
            } else if (a.startsWith(QStringLiteral("--")) && a.size() > 2) {
                throw CliError{QStringLiteral("unknown option %1").arg(a), kExitUsage};
            } else {
                words << a;
            }
        }
        return it->run(cli, CliArgs(words, options, flags));
    } catch (const CliError& e) {
        writeErr(e.message);
        return e.status;
    }
}

} // namespace zel
