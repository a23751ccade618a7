#pragma once

#include <QString>
#include <QStringList>

namespace zel {

// The colour list of the document settings: 0 "default", 1..20 the named colours, 21 "Custom".
inline constexpr int kColourDefault = 0;
inline constexpr int kColourCustom = 21;
int ColourCount();                                 // 22
QString ColourName(int index);                     // from idents 40340..40361, English when the language has none
QString NamedColour(int index);                    // "#RRGGBB"; empty for default and custom
QString ColourValue(int red, int green, int blue); // "#RRGGBB", upper-case hex
// The list position a document's colour value ("#RRGGBB" in any case, or a colour's English name) reads
// as: default when empty, custom when unnamed.
int ColourIndexOf(const QString& value);

// The 19 character sets by list position; -1 for a name not in the list.
QStringList CharsetNames();
int CharsetIndex(const QString& name);

// A margin counts as specified when a value is there and differs from the engine's default (15 top,
// 10 left).
inline constexpr int kDefaultTopMargin = 15;
inline constexpr int kDefaultLeftMargin = 10;
bool MarginSpecified(const QString& value, int defaultValue);

// The settings as read from, and written to, a document's body.
struct DocumentSettings {
    QString background; // body attribute, id form as stored
    QString bgColor, text, link, alink, vlink;
    QString topMargin, leftMargin; // empty: attribute absent
    QString charset;
};

} // namespace zel
