#include "shell/TcnResourceManager.h"

#include "platform/CodePage.h"
#include "shell/Resources.h"
#include "shell/Strings.h"
#include "store/FieldText.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QLocale>

namespace zel {

namespace {

// Only this many characters after a line's first TAB are read.
constexpr qsizetype kLineTail = 1000;

QString decodeTable(const QByteArray& data) {
    if (data.startsWith("\xEF\xBB\xBF") || data.startsWith("\xFF\xFE") || data.startsWith("\xFE\xFF"))
        return decodeWithBom(data);
    return FieldLooksLikeUtf8(data) ? QString::fromUtf8(data) : fromSystemCodePage(data);
}

QList<QStringView> splitLines(const QString& text) {
    QList<QStringView> lines;
    const QStringView all(text);
    qsizetype start = 0;
    for (qsizetype i = 0; i < all.size(); ++i) {
        if (all[i] == u'\r' || all[i] == u'\n') {
            lines << all.mid(start, i - start);
            if (all[i] == u'\r' && i + 1 < all.size() && all[i + 1] == u'\n') ++i;
            start = i + 1;
        }
    }
    if (start < all.size()) lines << all.mid(start);
    return lines;
}

const QList<TextTableColumn>& languageColumns() {
    static const QList<TextTableColumn> c{{QStringLiteral("ident"), true, 0},
                                          {QStringLiteral("caption"), false, 255},
                                          {QStringLiteral("memo"), false, 20}};
    return c;
}
const QList<TextTableColumn>& topicColumns() {
    static const QList<TextTableColumn> c{{QStringLiteral("ident"), true, 0},
                                          {QStringLiteral("caption"), false, 255},
                                          {QStringLiteral("memo"), false, 255}};
    return c;
}
const QList<TextTableColumn>& codeColumns() {
    static const QList<TextTableColumn> c{{QStringLiteral("code"), true, 0}, {QStringLiteral("filename"), false, 100}};
    return c;
}

// The first entry of an ident counts; an empty caption falls back to the built-in text.
QHash<int, QString> firstCaptions(const TextTable& t) {
    QHash<int, QString> map;
    for (const QStringList& row : t.rows) {
        bool ok = false;
        const int ident = row[0].toInt(&ok);
        if (!ok || map.contains(ident)) continue;
        map.insert(ident, row[1]);
    }
    for (auto it = map.begin(); it != map.end();) {
        if (it->isEmpty())
            it = map.erase(it);
        else
            ++it;
    }
    return map;
}

} // namespace

TextTable ParseTextTable(const QByteArray& data, const QList<TextTableColumn>& columns) {
    TextTable table;
    const QString text = decodeTable(data);
    const QList<QStringView> lines = splitLines(text);
    if (lines.isEmpty()) return table;
    // Position in the file -> requested column (-1: ignored).
    QList<int> target;
    for (const QStringView name : lines[0].split(u'\t')) {
        int found = -1;
        for (int c = 0; c < columns.size(); ++c)
            if (name.trimmed().compare(columns[c].name, Qt::CaseInsensitive) == 0) found = c;
        target << found;
    }
    for (qsizetype n = 1; n < lines.size(); ++n) {
        QStringView line = lines[n];
        if (line.isEmpty()) continue;
        const qsizetype tab = line.indexOf(u'\t');
        if (tab >= 0 && line.size() - tab - 1 > kLineTail) line = line.left(tab + 1 + kLineTail);
        const QList<QStringView> values = line.split(u'\t');
        if (values.size() > target.size()) {
            table.complete = false;
            table.stoppedAtLine = int(n + 1);
            return table;
        }
        QStringList row;
        for (qsizetype c = 0; c < columns.size(); ++c)
            row << QString();
        for (qsizetype v = 0; v < values.size(); ++v) {
            const int c = target[v];
            if (c < 0 || values[v].isEmpty()) continue;
            const TextTableColumn& col = columns[c];
            if (col.integer) {
                bool ok = false;
                (void)values[v].trimmed().toInt(&ok);
                if (!ok) {
                    table.complete = false;
                    table.stoppedAtLine = int(n + 1);
                    return table;
                }
                row[c] = values[v].trimmed().toString();
            } else {
                row[c] = values[v].left(col.width).toString();
            }
        }
        table.rows << row;
    }
    return table;
}

bool LoadTextTable(const QString& path, const QList<TextTableColumn>& columns, TextTable* out) {
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly)) return false;
    *out = ParseTextTable(f.readAll(), columns);
    return out->complete;
}

TcnResourceManager::TcnResourceManager() {
    ScanLanguageFiles();
    TextTable codes;
    if (LoadTextTable(languageFolder() + QStringLiteral("localCode.ini"), codeColumns(), &codes)) {
        codes_ = codes;
        codesActive_ = true;
    }
}

QString TcnResourceManager::languageFolder() {
    return programDirectory() + QStringLiteral("language/");
}

bool TcnResourceManager::LoadLanguage(const QString& path) {
    if (!QFileInfo(path).isFile()) return false;
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly)) return false;
    const TextTable table = ParseTextTable(f.readAll(), languageColumns());
    // What was read before a malformed line stays in force.
    SetLanguageStrings(firstCaptions(table));
    languageActive_ = true;
    if (!table.complete) return false;
    const QString topicPath = languageFolder() + GetString(20003);
    if (QFileInfo(topicPath).isFile()) {
        TextTable topics;
        if (!LoadTextTable(topicPath, topicColumns(), &topics)) return false;
        topics_ = topics;
        topicsActive_ = true;
    }
    return true;
}

QString TcnResourceManager::ChooseLanguageBySystem() const {
    return ChooseLanguageBySystem(SystemLanguageId());
}

QString TcnResourceManager::ChooseLanguageBySystem(quint16 languageId) const {
    if (!codesActive_) return {};
    for (const QStringList& row : codes_.rows) {
        bool ok = false;
        if (row[0].toInt(&ok) != languageId || !ok) continue;
        const QString name = row[1].trimmed();
        return name.isEmpty() ? QString() : name + QStringLiteral(".lng");
    }
    return {};
}

void TcnResourceManager::ScanLanguageFiles() {
    files_.clear();
    const QDir dir(languageFolder());
    // Sorted by name, so the language menu keeps one order between runs.
    for (const QString& name :
         dir.entryList({QStringLiteral("*.lng")}, QDir::Files | QDir::Hidden | QDir::System, QDir::Name))
        files_ << dir.filePath(name);
}

QString TcnResourceManager::GetLanguageName(const QString& path) const {
    if (!QFileInfo(path).isFile()) return {};
    TextTable scratch;
    LoadTextTable(path, languageColumns(), &scratch);
    for (const QStringList& row : scratch.rows)
        if (row[0] == QStringLiteral("20002")) return row[1];
    return {};
}

Topic TcnResourceManager::GetTopic(int ident) const {
    Topic t;
    t.caption = QStringLiteral("Welcome");
    if (!topicsActive_) {
        t.text = QStringLiteral("The topic file not fount");
        return t;
    }
    const QString key = QString::number(ident);
    for (const QStringList& row : topics_.rows) {
        if (row[0] != key) continue;
        t.found = true;
        t.caption = row[1];
        t.text = row[2];
        return t;
    }
    t.text = QStringLiteral("The topic not fount");
    return t;
}

TcnResourceManager& ResourceManager() {
    static TcnResourceManager manager;
    return manager;
}

quint16 LanguageIdOfLocale(const QString& localeName) {
    // language -> (primary id, {territory -> sublanguage}); sublanguage 1 is each language's default.
    struct Lang {
        const char* code;
        quint16 primary;
        const char* territories; // "CC:n,CC:n"
    };
    static const Lang langs[] = {
        {"ar", 0x01, "SA:1,IQ:2,EG:3,LY:4,DZ:5,MA:6,TN:7"},
        {"bg", 0x02, ""},
        {"ca", 0x03, ""},
        {"zh", 0x04, "TW:1,CN:2,HK:3,SG:4,MO:5"},
        {"cs", 0x05, ""},
        {"da", 0x06, ""},
        {"de", 0x07, "DE:1,CH:2,AT:3,LU:4,LI:5"},
        {"el", 0x08, ""},
        {"en", 0x09, "US:1,GB:2,AU:3,CA:4,NZ:5,IE:6,ZA:7,JM:8,BZ:10,TT:11,ZW:12,PH:13,IN:16,MY:17,SG:18"},
        {"es", 0x0A, "ES:3,MX:2,GT:4,CR:5,PA:6,DO:7,VE:8,CO:9,PE:10,AR:11,EC:12,CL:13,UY:14,PY:15,BO:16"},
        {"fi", 0x0B, ""},
        {"fr", 0x0C, "FR:1,BE:2,CA:3,CH:4,LU:5,MC:6"},
        {"he", 0x0D, ""},
        {"hu", 0x0E, ""},
        {"is", 0x0F, ""},
        {"it", 0x10, "IT:1,CH:2"},
        {"ja", 0x11, ""},
        {"ko", 0x12, ""},
        {"nl", 0x13, "NL:1,BE:2"},
        {"nb", 0x14, "NO:1"},
        {"no", 0x14, "NO:1"},
        {"nn", 0x14, "NO:2"},
        {"pl", 0x15, ""},
        {"pt", 0x16, "BR:1,PT:2"},
        {"ro", 0x18, ""},
        {"ru", 0x19, ""},
        {"hr", 0x1A, "HR:1"},
        {"sk", 0x1B, ""},
        {"sq", 0x1C, ""},
        {"sv", 0x1D, "SE:1,FI:2"},
        {"th", 0x1E, ""},
        {"tr", 0x1F, ""},
        {"id", 0x21, ""},
        {"uk", 0x22, ""},
        {"sl", 0x24, ""},
        {"et", 0x25, ""},
        {"lv", 0x26, ""},
        {"lt", 0x27, ""},
        {"vi", 0x2A, ""},
    };
    QString name = localeName;
    name = name.section(u'.', 0, 0).section(u'@', 0, 0);
    const QString language = name.section(u'_', 0, 0).toLower();
    const QString territory = name.section(u'_', 1, 1).toUpper();
    for (const Lang& l : langs) {
        if (language != QLatin1StringView(l.code)) continue;
        quint16 sub = 1;
        for (const QString& pair : QString::fromLatin1(l.territories).split(u',', Qt::SkipEmptyParts))
            if (pair.section(u':', 0, 0) == territory) sub = quint16(pair.section(u':', 1, 1).toUInt());
        return quint16((sub << 10) | l.primary);
    }
    return 0;
}

quint16 SystemLanguageId() {
    for (const char* var : {"LC_ALL", "LC_MESSAGES", "LANG"}) {
        const QString v = qEnvironmentVariable(var);
        if (v.isEmpty()) continue;
        if (v == QStringLiteral("C") || v == QStringLiteral("POSIX") || v.startsWith(QStringLiteral("C.")))
            return LanguageIdOfLocale(QStringLiteral("en_US"));
        return LanguageIdOfLocale(v);
    }
    return LanguageIdOfLocale(QLocale::system().name());
}

} // namespace zel
