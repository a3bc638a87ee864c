#pragma once
// The language the programs speak to the user: Chinese when the system language asks for it,
// English otherwise. The Chinese texts are the program's own; English is their translation.

#include <string>

// True when the first language named by LANGUAGE (a colon-separated list), else LC_ALL, else
// LC_MESSAGES, else LANG, is Chinese ("zh", "zh_CN.UTF-8", "zh-TW"...). Read from the environment
// at each call; cheap.
bool UiSpeaksChinese();

// The English for a Chinese text that the core shows (caption line, status line, message boxes,
// the terminal): known whole texts, and known prefixes followed by a path or a count. A text that is
// not known comes back unchanged.
std::string EnglishCoreText(const std::string& chinese);

// The core text as the user should see it: unchanged when the user speaks Chinese, else its English.
std::string ShownCoreText(const std::string& chinese);
