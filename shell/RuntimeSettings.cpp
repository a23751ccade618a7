#include "shell/RuntimeSettings.h"

#include "platform/Paths.h"
#include "store/PasswordHash.h"

#include <QFile>
#include <QHash>
#include <QSaveFile>
#include <optional>

namespace zel {

namespace {

// Values are single lines: control characters, "\" and line ends are written as escapes.
QString escape(const QString& s) {
    QString out;
    for (const QChar c : s) {
        if (c == u'\\')
            out += QStringLiteral("\\\\");
        else if (c.unicode() < 0x20 || c.unicode() == 0x7F)
            out += QStringLiteral("\\x%1").arg(int(c.unicode()), 2, 16, QLatin1Char('0'));
        else
            out += c;
    }
    return out;
}

QString unescape(const QString& s) {
    QString out;
    for (qsizetype i = 0; i < s.size(); ++i) {
        if (s[i] == u'\\' && i + 1 < s.size()) {
            if (s[i + 1] == u'\\') {
                out += u'\\';
                ++i;
                continue;
            }
            if (s[i + 1] == u'x' && i + 3 < s.size()) {
                bool ok = false;
                const int v = s.mid(i + 2, 2).toInt(&ok, 16);
                if (ok) {
                    out += QChar(char16_t(v));
                    i += 3;
                    continue;
                }
            }
        }
        out += s[i];
    }
    return out;
}

class Values {
public:
    explicit Values(const QString& path) {
        QFile f(path);
        if (!f.open(QIODevice::ReadOnly)) return;
        const auto lines = QString::fromUtf8(f.readAll()).split(u'\n');
        for (QString line : lines) {
            if (line.endsWith(u'\r')) line.chop(1);
            if (line.isEmpty() || line.startsWith(u'[') || line.startsWith(u';')) continue;
            const qsizetype eq = line.indexOf(u'=');
            if (eq > 0) map_.insert(line.left(eq), unescape(line.mid(eq + 1)));
        }
    }
    QString string(const QString& name) const { return map_.value(name); }
    bool has(const QString& name) const { return map_.contains(name); }
    std::optional<qint32> integer(const QString& name) const {
        if (!map_.contains(name)) return std::nullopt;
        bool ok = false;
        const qint32 v = map_.value(name).trimmed().toInt(&ok);
        return ok ? std::optional<qint32>(v) : std::nullopt;
    }
    std::optional<bool> flag(const QString& name) const {
        if (!map_.contains(name)) return std::nullopt;
        const QString v = map_.value(name).trimmed().toLower();
        if (v == QStringLiteral("true") || v == QStringLiteral("1")) return true;
        if (v == QStringLiteral("false") || v == QStringLiteral("0")) return false;
        return std::nullopt;
    }

private:
    QHash<QString, QString> map_;
};

} // namespace

TRuntimeReg& RuntimeSettings() {
    static TRuntimeReg reg;
    return reg;
}

QString settingsFilePath() {
    return homeFolder() + QStringLiteral("zel.ini");
}

namespace {
void readSettings(bool (*languageExists)(const QString&)) {
    TRuntimeReg& r = RuntimeSettings();
    r = TRuntimeReg{};
    r.language = QStringLiteral("default.lng");
    const Values v(settingsFilePath());
    r.catalogueName = v.string(QStringLiteral("1004"));

    // Reading stops at the first missing or unreadable number or flag.
    const auto remember = v.flag(QStringLiteral("1003"));
    if (!remember) return;
    r.rememberLogin = *remember;
    if (r.rememberLogin) {
        QString code, password;
        if (UnscramblePassword(v.string(QStringLiteral("1001")), &code)) {
            r.userCode = code;
            r.rememberLogin = UnscramblePassword(v.string(QStringLiteral("1002")), &password);
            if (r.rememberLogin) r.password = password;
        } else {
            r.rememberLogin = false;
        }
    }
    const QString language = v.string(QStringLiteral("language"));
    if (!language.isEmpty()) r.language = language;
    if (languageExists && !languageExists(r.language)) r.language = QStringLiteral("default.lng");

    const auto showProperty = v.flag(QStringLiteral("ShowProperty"));
    r.showProperty = showProperty.value_or(true);
    r.skinFile = v.string(QStringLiteral("skinfile")).trimmed();

    struct IntField {
        const char16_t* name;
        qint32* target;
    };
    const IntField ints[] = {{u"Windowstate", &r.windowState},
                             {u"Left", &r.left},
                             {u"Top", &r.top},
                             {u"Width", &r.width},
                             {u"Height", &r.height},
                             {u"pnlindexWidth", &r.indexWidth}};
    for (const IntField& f : ints) {
        const auto x = v.integer(QString::fromUtf16(f.name));
        if (!x) return;
        *f.target = *x;
    }
    struct FlagField {
        const char16_t* name;
        bool* target;
    };
    const FlagField flags[] = {
        {u"EditModal", &r.editMode}, {u"NewMsg", &r.newDocumentMessage}, {u"SHowMailRoll", &r.mailRoll}};
    for (const FlagField& f : flags) {
        const auto x = v.flag(QString::fromUtf16(f.name));
        if (!x) return;
        *f.target = *x;
    }
}

} // namespace

void LoadSettings(bool (*languageExists)(const QString&), QString (*systemLanguage)()) {
    readSettings(languageExists);
    // "default.lng" is never loaded: it stands for the system's language.
    TRuntimeReg& r = RuntimeSettings();
    if (r.language == QStringLiteral("default.lng")) {
        r.language = systemLanguage ? systemLanguage().trimmed() : QString();
        if (r.language.isEmpty()) r.language = QStringLiteral("english.lng");
    }
}

bool SaveSettings() {
    if (!ensureHomeFolder()) return false;
    const TRuntimeReg& r = RuntimeSettings();
    auto b = [](bool x) { return x ? QStringLiteral("true") : QStringLiteral("false"); };
    const std::pair<QString, QString> values[] = {
        {QStringLiteral("1004"), r.catalogueName},
        {QStringLiteral("1001"), ScramblePassword(r.userCode)},
        {QStringLiteral("1002"), ScramblePassword(r.rememberLogin ? r.password : QString())},
        {QStringLiteral("1003"), b(r.rememberLogin)},
        {QStringLiteral("EditModal"), b(r.editMode)},
        {QStringLiteral("NewMsg"), b(r.newDocumentMessage)},
        {QStringLiteral("ShowProperty"), b(r.showProperty)},
        {QStringLiteral("SHowMailRoll"), b(r.mailRoll)},
        {QStringLiteral("skinfile"), r.skinFile},
        {QStringLiteral("language"), r.language},
        {QStringLiteral("Windowstate"), QString::number(r.windowState)},
        {QStringLiteral("Left"), QString::number(r.left)},
        {QStringLiteral("Top"), QString::number(r.top)},
        {QStringLiteral("Width"), QString::number(r.width)},
        {QStringLiteral("Height"), QString::number(r.height)},
        {QStringLiteral("pnlindexWidth"), QString::number(r.indexWidth)},
    };
    QString text = QStringLiteral("[ZEL]\n");
    for (const auto& [name, value] : values)
        text += name + u'=' + escape(value) + u'\n';
    const QString path = settingsFilePath();
    QSaveFile f(path);
    if (!f.open(QIODevice::WriteOnly)) return false;
    // The file holds the remembered login: owner only, before anything is written to it.
    f.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner);
    f.write(text.toUtf8());
    if (!f.commit()) return false;
    return QFile::setPermissions(path, QFileDevice::ReadOwner | QFileDevice::WriteOwner);
}

} // namespace zel
