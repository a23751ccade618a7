#pragma once

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>

namespace zel {

// One column of a text table: its name, whether it holds integers, and its width in characters.
struct TextTableColumn {
    QString name;
    bool integer = false;
    int width = 255;
};

// A loaded text table: one row per entry, each row one value per requested column (empty when the file
// has no such column or left the value empty).
struct TextTable {
    QList<QStringList> rows;
    bool complete = true;  // false when a malformed line stopped the loading
    int stoppedAtLine = 0; // 1-based line number of that malformed line
};

// Reads the text-table format of language, topic and code files: the first line names the columns
// (TAB separated, matched without regard to case), every further line is one entry. Only the first
// 1000 characters after the first TAB of a line are read; longer texts are cut to the column width.
// An integer column that is not a number, or more values than names, stops the loading there.
// UTF-8 text (with or without a byte-order mark) is read as UTF-8, anything else in the system code page.
TextTable ParseTextTable(const QByteArray& data, const QList<TextTableColumn>& columns);
bool LoadTextTable(const QString& path, const QList<TextTableColumn>& columns, TextTable* out);

struct Topic {
    bool found = false;
    QString caption;
    QString text;
};

// The localisation manager: the language table behind GetString, the topic table of the welcome
// window, the language code table and the list of language files. One per process.
class TcnResourceManager {
public:
    // Lists the language files and loads "localCode.ini"; a missing file leaves that table inactive.
    TcnResourceManager();

    // Loads a language file into the language table (GetString) and its topic file. False when the
    // file is missing or malformed; entries before a malformed line stay in force.
    bool LoadLanguage(const QString& path);
    // The language file (file name with ".lng") for the system's language, or empty.
    QString ChooseLanguageBySystem() const;
    QString ChooseLanguageBySystem(quint16 languageId) const;
    void ScanLanguageFiles();
    QStringList languageFiles() const { return files_; }
    // Ident 20002 of the file, empty when the file or the ident is missing.
    QString GetLanguageName(const QString& path) const;
    Topic GetTopic(int ident) const;
    int TopicCount() const { return int(topics_.rows.size()); }
    bool languageActive() const { return languageActive_; }
    bool codeTableActive() const { return codesActive_; }

    static QString languageFolder(); // program directory + "language/"

private:
    QStringList files_;
    TextTable codes_;
    bool codesActive_ = false;
    TextTable topics_;
    bool topicsActive_ = false;
    bool languageActive_ = false;
};

TcnResourceManager& ResourceManager();

// The 16-bit language identifier (primary language and sublanguage) of a locale name such as "de_DE",
// "pt_BR" or "zh_CN.UTF-8"; 0 when unknown.
quint16 LanguageIdOfLocale(const QString& localeName);
// The identifier of the system's default language (LC_ALL, LC_MESSAGES, LANG, then QLocale::system()).
quint16 SystemLanguageId();

} // namespace zel
