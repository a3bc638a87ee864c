#pragma once
// The window's language: Chinese (the texts as written) when the system language is Chinese
// (UiSpeaksChinese), English otherwise, from the English translation that ships in the data folder
// ("translations/marlix_en.qm"). The core's events are worded in the same language (CMarlixDlg::Words).

#include <QString>

// Loads and installs the English translation unless the user speaks Chinese; true when the window
// then speaks English. Without the translation file the window stays Chinese. Call once, after the
// QApplication exists and before any window is made.
bool InstallUiTranslation(const QString& dataDir);

// Takes the translation away again (the window's tests switch languages within one run).
void RemoveUiTranslation();
