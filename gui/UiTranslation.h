#pragma once
// The window's language: Chinese (the texts as written) when the system language is Chinese
// (UiSpeaksChinese), English otherwise, from the English translation that ships in the data folder
// ("translations/marlix_en.qm"). Core texts that reach the window (caption line, status line,
// message boxes) are shown in the same language.

#include <QString>
#include <string>

// Loads and installs the English translation unless the user speaks Chinese; true when the window
// then speaks English. Without the translation file the window stays Chinese. Call once, after the
// QApplication exists and before any window is made.
bool InstallUiTranslation(const QString& dataDir);

// Takes the translation away again (the window's tests switch languages within one run).
void RemoveUiTranslation();

// A core text (UTF-8 Chinese) as the window shows it: its English once InstallUiTranslation chose
// English, else unchanged. Any thread.
QString CoreTextForUi(const std::string& text);
