#pragma once

#include <QByteArray>
#include <QList>
#include <QString>
#include <functional>

namespace zel {

// Declared widths in bytes of the text fields in datalink.dat: the server or folder 100, the others 50.
constexpr int kCatalogueTextWidth = 50;
constexpr int kCatalogueServerWidth = 100;

// One known knowledge base. Text fields keep their stored bytes: names, folders, databases and users
// UTF-8, the password in the system code page; read them through ReadFieldText.
struct CatalogueEntry {
    qint32 serverType = 0; // 0 SQLite file, 1 PostgreSQL server, 2 unsupported
    bool serverTypePresent = true;
    QByteArray name;
    QByteArray serverName;
    QByteArray database;
    QByteArray user;
    QByteArray password;

    QString nameText() const;
    QString serverNameText() const;
    QString databaseText() const;
    QString userText() const;
    QString passwordText() const;
    // Fills the fields the way the dialogs store them.
    static CatalogueEntry make(qint32 type, const QString& name, const QString& server, const QString& database,
                               const QString& user, const QString& password);
};

// The catalogue of knowledge bases, kept in datalink.dat in the home folder. Several processes may
// change it at once: every write takes the lock file beside it ("datalink.dat.lock") and replaces the
// file atomically, readable by its owner only.
class Catalogue {
public:
    // Reads the file; a missing file gives an empty catalogue. A file that cannot be read gives an
    // empty catalogue and false (unreadable() tells); before a write replaces it, it is kept as
    // "datalink.dat.unreadable.N" with the next free number.
    bool LoadCatalogue(const QString& filePath);
    // Writes the entries as they are (compressed). False when it could not be written.
    bool SaveCatalogue();
    // Under the lock: reads the file again, lets change edit its entries, and writes them when change
    // returns true. entries() holds the result afterwards. On failure error receives a message (change
    // may set its own).
    bool UpdateCatalogue(const std::function<bool(QList<CatalogueEntry>&, QString*)>& change, QString* error = nullptr);

    // Index of the entry whose name equals the given one exactly (letter case counts), or -1.
    int FindCatalogueEntry(const QString& name) const;

    QList<CatalogueEntry>& entries() { return entries_; }
    const QList<CatalogueEntry>& entries() const { return entries_; }
    QString filePath() const { return path_; }
    bool unreadable() const { return unreadable_; }
    // Where the last unreadable file was kept; empty when none was.
    QString unreadableCopyPath() const { return unreadableCopy_; }

    // The table stream before compression, and its reader.
    static QByteArray serialize(const QList<CatalogueEntry>& entries);
    static bool parse(const QByteArray& table, QList<CatalogueEntry>& out);

private:
    bool read();
    bool write(QString* error);
    QList<CatalogueEntry> entries_;
    QString path_;
    QString unreadableCopy_;
    bool unreadable_ = false;
};

// The connection string of a catalogue entry. Type 0: the folder gets a trailing "/".
QString BuildConnectionString(int serverType, const QString& serverName, const QString& database,
                              const QString& password, const QString& user);
QString BuildConnectionString(const CatalogueEntry& e);

} // namespace zel
