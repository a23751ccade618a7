#pragma once

#include <QHash>
#include <QString>
#include <QStringList>
#include <functional>

namespace zel {

class Database;

// Exit statuses of zel-cli.
constexpr int kExitOk = 0;
constexpr int kExitError = 1;
constexpr int kExitUsage = 2;

// Thrown by command code for a failure the user must see: one line on stderr, exit status 1 (2 for usage).
struct CliError {
    QString message;
    int status = kExitError;
};

// Arguments of one command: positional words and "--name value" options.
class CliArgs {
public:
    CliArgs(QStringList words, QHash<QString, QString> options, QStringList flags)
        : words_(std::move(words)), options_(std::move(options)), flags_(std::move(flags)) {}
    qsizetype size() const { return words_.size(); }
    // The i-th positional word; a usage error when missing.
    QString at(qsizetype i, const char* what) const;
    QStringList rest(qsizetype from) const { return words_.mid(from); }
    bool has(const QString& option) const { return options_.contains(option); }
    QString option(const QString& option, const QString& fallback = {}) const {
        return options_.value(option, fallback);
    }
    QString required(const QString& option) const;
    bool flag(const QString& name) const { return flags_.contains(name); }

private:
    QStringList words_;
    QHash<QString, QString> options_;
    QStringList flags_;
};

// Shared state of one zel-cli run.
class Cli {
public:
    bool json = false;
    QString kbName, userCode, password;

    // Opens the session named by -k/-u/-p as the program does: login, upgrade, system folders,
    // user settings. Throws CliError with the system's message on failure.
    Database& session();

    // Prints rows: TAB-separated, or with --json an array of objects with the given keys.
    void printRows(const QStringList& keys, const QList<QStringList>& rows) const;
    // Prints one value per line (or a JSON object of key/value pairs).
    void printRecord(const QList<std::pair<QString, QString>>& fields) const;
    void println(const QString& line) const;
    // Bytes as they are (document content, attachment data).
    void writeRaw(const QByteArray& bytes) const;

    // Runs work (which throws CliError on failure) as one transaction. A transaction the server broke
    // off for a deadlock or a serialization failure is run again, a few times at most.
    void write(Database& db, const std::function<void()>& work);

private:
    bool open_ = false;
};

// A command group ("kb", "user", "node", ...): receives the words after its name. valueOptions lists
// the options that take a value ("--name"), or several ("--created=2": values joined by "\n").
using CliCommand = std::function<int(Cli&, const CliArgs&)>;
void registerCommand(const QString& name, CliCommand command, const QStringList& valueOptions,
                     const QStringList& flagOptions);

int runCli(int argc, char** argv);

// Command groups, each in its own source file.
void registerKbCommands();
void registerUserCommands();
void registerNodeCommands(); // node, content, attach
void registerBinCommands();  // bin, maintain
void registerSearchCommands();
void registerMailCommands(); // mail account|receive|import|run|...

// The sending subcommands of "mail": outbox [add], send NODE.
int mailOutboxCommand(Cli& cli, const CliArgs& args);
int mailSendCommand(Cli& cli, const CliArgs& args);

} // namespace zel
