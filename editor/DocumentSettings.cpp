#include "editor/DocumentSettings.h"

#include "shell/Strings.h"

namespace zel {

namespace {

struct Named {
    const char16_t* english;
    const char* hex;
};
constexpr Named kColours[] = {
    {u"default", nullptr},  {u"Black", "000000"},      {u"Maroon", "800000"},  {u"Green", "008000"},
    {u"Olive", "808000"},   {u"Navy", "000080"},       {u"Purple", "800080"},  {u"Teal", "008080"},
    {u"Gray", "808080"},    {u"Silver", "C0C0C0"},     {u"Red", "FF0000"},     {u"Lime", "00FF00"},
    {u"Yellow", "FFFF00"},  {u"Blue", "0000FF"},       {u"Fuchsia", "FF00FF"}, {u"Aqua", "00FFFF"},
    {u"White", "FFFFFF"},   {u"MoneyGreen", "C0DCC0"}, {u"SkyBlue", "A6CAF0"}, {u"Cream", "FFFBF0"},
    {u"MedGray", "A0A0A4"}, {u"Custom", nullptr},
};

constexpr const char* kCharsets[] = {
    "windows-1256", "windows-1257", "ks_c_5601-1987", "utf-8",        "big5",        "gb2312",       "windows-1252",
    "euc-jp",       "iso-2022-jp",  "shift_jis",      "windows-1251", "windows-874", "windows-1254", "koi8-r",
    "windows-1255", "windows-1253", "windows-1258",   "windows-1250", "iso-8859-2",
};

} // namespace

int ColourCount() {
    return int(std::size(kColours));
}

QString ColourName(int index) {
    if (index < 0 || index >= ColourCount()) return {};
    const QString text = GetString(40340 + index);
    return text.isEmpty() ? QString::fromUtf16(kColours[index].english) : text;
}

QString NamedColour(int index) {
    if (index <= kColourDefault || index >= kColourCustom) return {};
    return QStringLiteral("#") + QString::fromLatin1(kColours[index].hex);
}

QString ColourValue(int red, int green, int blue) {
    return QStringLiteral("#%1%2%3")
        .arg(red & 0xFF, 2, 16, QLatin1Char('0'))
        .arg(green & 0xFF, 2, 16, QLatin1Char('0'))
        .arg(blue & 0xFF, 2, 16, QLatin1Char('0'))
        .toUpper();
}

int ColourIndexOf(const QString& value) {
    const QString v = value.trimmed();
    if (v.isEmpty()) return kColourDefault;
    for (int i = 1; i < kColourCustom; ++i)
        if (v.compare(NamedColour(i), Qt::CaseInsensitive) == 0 ||
            v.compare(QString::fromUtf16(kColours[i].english), Qt::CaseInsensitive) == 0)
            return i;
    return kColourCustom;
}

QStringList CharsetNames() {
    QStringList out;
    for (const char* c : kCharsets)
        out << QString::fromLatin1(c);
    return out;
}

int CharsetIndex(const QString& name) {
    return int(CharsetNames().indexOf(name.trimmed().toLower()));
}

bool MarginSpecified(const QString& value, int defaultValue) {
    bool ok = false;
    const int v = value.trimmed().toInt(&ok);
    return ok && v != defaultValue;
}

} // namespace zel
