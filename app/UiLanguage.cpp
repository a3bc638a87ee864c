#include "app/UiLanguage.h"

#include <cstdlib>
#include <cstring>
#include <initializer_list>

bool UiSpeaksChinese() {
  const char* chosen = nullptr;
  for (const char* variable : {"LANGUAGE", "LC_ALL", "LC_MESSAGES", "LANG"}) {
    const char* value = std::getenv(variable);
    if (value && *value) {
      chosen = value;
      break;
    }
  }
  if (!chosen) return false;
  return std::strncmp(chosen, "zh", 2) == 0 && (chosen[2] == '\0' || std::strchr("_-.:@", chosen[2]));
}
