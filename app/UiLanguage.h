#pragma once
// The language the programs speak to the user: Chinese when the system language asks for it,
// English otherwise. The Chinese texts are the program's own; English is their translation, which
// each front end holds (the window's translation file, the terminal's table).

// True when the first language named by LANGUAGE (a colon-separated list), else LC_ALL, else
// LC_MESSAGES, else LANG, is Chinese ("zh", "zh_CN.UTF-8", "zh-TW"...). Read from the environment
// at each call; cheap.
bool UiSpeaksChinese();
