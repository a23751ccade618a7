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
#include <cerrno>
#include <cstdio>
#include <cstring>

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

// Control characters from stored text would drive the terminal (an ESC in a caption can rewrite the
// screen): they are shown as "\xHH" ("\uHHHH" for DEL and C1, which JSON output leaves raw: that form is
// also JSON's own escape). Tabs, line ends and CR LF pairs stay.
QString escapeControls(const QString& s) {
    QString out;
    out.reserve(s.size());
    for (qsizetype i = 0; i < s.size(); ++i) {
        const char16_t c = s[i].unicode();
        const bool keep = c == u'\t' || c == u'\n' || (c == u'\r' && i + 1 < s.size() && s[i + 1] == u'\n');
        if (c < 0x20 && !keep)
            out += QStringLiteral("\\x%1").arg(int(c), 2, 16, QLatin1Char('0'));
        else if (c >= 0x7F && c < 0xA0)
            out += QStringLiteral("\\u%1").arg(int(c), 4, 16, QLatin1Char('0'));
        else
            out += s[i];
    }
    return out;
}

void writeOut(const QString& s) {
    const QByteArray b = escapeControls(s).toUtf8();
    fwrite(b.constData(), 1, size_t(b.size()), stdout);
}

void writeErr(const QString& s) {
    const QByteArray b = (escapeControls(s) + u'\n').toUtf8();
    fwrite(b.constData(), 1, size_t(b.size()), stderr);
}

// Output that could not be written (a full disk, a closed pipe) fails the command; a write error of a
// buffered stream shows at the latest when it is flushed.
bool flushOutput() {
    return fflush(stdout) == 0 && !ferror(stdout);
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
    "  content get ID | content put ID FILE [--charset NAME]\n"
    "  attach add ID FILE [--name NAME] | attach ls ID | attach get ID NAME [-o FILE] |\n"
    "  attach get-id ATTID [-o FILE] | attach rename ATTID NAME | attach delete ATTID\n"
    "  bin list | bin restore ID... | bin purge ID... | bin empty\n"
    "  maintain [--keep-deleted] [--repair-paths]\n"
    "  search TEXT [--content] [--no-fullname] [--case] [--subtree ID] [--created FROM TO]\n"
    "         [--modified FROM TO] [--owner TEXT] [--html] [--scan]\n"
    "  search-index status | rebuild | drop\n"
    "  mail account add NAME --address A --pop3 HOST[:PORT] --user U [--password PW] [--keep-on-server]\n"
    "       [--tls tls|starttls|none] [--allow-plain] --smtp HOST[:PORT] [--smtp-auth] [--smtp-user U\n"
    "       --smtp-password PW] [--ca-file F] [--folder ID] | mail account set NAME ... | mail account list |\n"
    "  mail account remove NAME\n"
    "  mail receive [ACCOUNT] | mail import FILE... --folder ID | mail run [ACCOUNT]\n"
    "  mail outbox | mail outbox add NODE --account A --to LIST [--cc LIST] [--bcc LIST] [--subject S]\n"
    "       [--priority 1-5] [--direct] [--anonymous] | mail send NODE | mail run [ACCOUNT] --send-only\n"
    "       (unremembered passwords: ZEL_MAIL_PASSWORD; direct delivery: ZEL_DNS_SERVER=HOST:PORT,\n"
    "       ZEL_SMTP_DIRECT_PORT, ZEL_SMTP_CA_FILE, ZEL_MAIL_TIMEOUT)\n";

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
    if (!MainData().loadCatalogue() && MainData().catalogue.unreadable())
        throw CliError{QStringLiteral("cannot read the catalogue %1").arg(MainData().catalogue.filePath())};
    const OpenResult r = OpenKnowledgeBase(db, MainData().catalogue, kbName, userCode, true, true, false, password);
    if (r.status == OpenStatus::NoEntry) throw CliError{QStringLiteral("no knowledge base named \"%1\"").arg(kbName)};
    if (!r.ok()) {
        // The connection failure keeps the system's message; the reason follows it.
        QString message = OpenMessage(r, userCode);
        if (!r.detail.isEmpty()) message += QStringLiteral(": ") + r.detail;
        throw CliError{message};
    }
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
    if (fwrite(bytes.constData(), 1, size_t(bytes.size()), stdout) != size_t(bytes.size()) || !flushOutput())
        throw CliError{QStringLiteral("cannot write the output: %1").arg(QString::fromLocal8Bit(strerror(errno)))};
}

void Cli::write(Database& db, const std::function<void()>& work) {
    constexpr int kAttempts = 5;
    for (int attempt = 1;; ++attempt) {
        try {
            Transaction tx(db);
            if (!tx.ok()) throw CliError{QStringLiteral("cannot start a change: %1").arg(db.lastError())};
            work();
            if (!tx.commit()) throw CliError{QStringLiteral("cannot store the change: %1").arg(db.lastError())};
            return;
        } catch (const CliError&) {
            // The transaction is rolled back by now; the next attempt checks everything again.
            if (attempt >= kAttempts || !db.retryableFailure()) throw;
        }
        pauseBeforeRetry(attempt);
    }
}

int runCli(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("zel"));
    registerKbCommands();
    registerUserCommands();
    registerNodeCommands();
    registerBinCommands();
    registerSearchCommands();
    registerMailCommands();

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
        const int status = it->run(cli, CliArgs(words, options, flags));
        if (!flushOutput())
            throw CliError{QStringLiteral("cannot write the output: %1").arg(QString::fromLocal8Bit(strerror(errno)))};
        return status;
    } catch (const CliError& e) {
        writeErr(e.message);
        return e.status;
    }
}

} // namespace zel
