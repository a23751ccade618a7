#pragma once

#include <QString>

namespace zel {

// Per-machine settings; one per process.
struct TRuntimeReg {
    QString catalogueName;
    bool rememberLogin = false;
    QString password;
    QString userCode;
    QString skinFile;
    QString language;
    qint32 windowState = 0;
    qint32 left = 0, top = 0, width = 0, height = 0;
    qint32 indexWidth = 0;
    bool editMode = false;
    bool newDocumentMessage = false;
    qint32 outboxNode = 0, sendboxNode = 0;
    bool showProperty = false;
    bool mailRoll = false;
};

TRuntimeReg& RuntimeSettings();

// The settings file in the home folder ("zel.ini"), readable by its owner only.
QString settingsFilePath();
// Reads the file into RuntimeSettings(). Reading stops at the first missing or unreadable number or
// flag; that value and every later one keep their defaults. languageExists decides whether a saved
// language file is still there (nullptr: accept any). While the language is still "default.lng",
// systemLanguage names the file for the system's language; blank (or no chooser) gives "english.lng".
void LoadSettings(bool (*languageExists)(const QString&) = nullptr, QString (*systemLanguage)() = nullptr);
// Writes RuntimeSettings() in the fixed order of value names. False when the file cannot be written.
bool SaveSettings();

} // namespace zel
