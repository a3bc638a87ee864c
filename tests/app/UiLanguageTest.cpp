// The language choice from the environment.

#include <gtest/gtest.h>

#include <cstdlib>

#include "app/UiLanguage.h"

namespace {

// Sets the four variables for one case ("" leaves one unset) and puts them back afterwards.
class CLanguageEnv {
 public:
  CLanguageEnv(const char* language, const char* all, const char* messages, const char* lang) {
    const char* values[] = {language, all, messages, lang};
    for (int i = 0; i < 4; ++i) {
      const char* old = std::getenv(kNames[i]);
      m_saved[i] = old ? old : "";
      m_had[i] = old != nullptr;
      if (*values[i])
        ::setenv(kNames[i], values[i], 1);
      else
        ::unsetenv(kNames[i]);
    }
  }
  ~CLanguageEnv() {
    for (int i = 0; i < 4; ++i) {
      if (m_had[i])
        ::setenv(kNames[i], m_saved[i].c_str(), 1);
      else
        ::unsetenv(kNames[i]);
    }
  }

 private:
  static constexpr const char* kNames[4] = {"LANGUAGE", "LC_ALL", "LC_MESSAGES", "LANG"};
  std::string m_saved[4];
  bool m_had[4] = {};
};

}  // namespace

TEST(UiLanguage, TheFirstVariableSetChoosesAndOnlyChineseIsChinese) {
  struct Case {
    const char *language, *all, *messages, *lang;
    bool chinese;
  } cases[] = {
      {"", "", "", "zh_CN.UTF-8", true}, {"", "", "", "de_DE.UTF-8", false},
      {"", "", "", "", false},           {"en_US:zh_CN", "", "", "zh_CN.UTF-8", false},
      {"zh_TW:en", "", "", "C", true},   {"", "C.UTF-8", "", "zh_CN.UTF-8", false},
      {"", "", "zh_CN", "en_GB", true},  {"", "", "", "zh", true},
      {"", "", "", "zha_XX", false},     {"", "", "", "C.UTF-8", false},
  };
  for (const Case& c : cases) {
    CLanguageEnv env(c.language, c.all, c.messages, c.lang);
    EXPECT_EQ(UiSpeaksChinese(), c.chinese) << c.language << "|" << c.all << "|" << c.messages << "|" << c.lang;
  }
}
