#include "app/UiLanguage.h"

#include <cstdlib>
#include <cstring>

namespace {

// Whole texts of the core, and their English.
struct CTextPair {
  const char* Chinese;
  const char* English;
};

constexpr CTextPair kWholeTexts[] = {
    {"无端口可用，程序无法运行！！！", "No free port (8081 to 8091): the program cannot run."},
    {"正在压缩...", "Compressing..."},
    {"目前不提供整个文件夹进行云端中转功能！", "Whole folders cannot be relayed through the cloud."},
    {"不好意思，由于服务器带宽问题，目前不提供整个文件夹进行云端中转功能！",
     "Sorry: whole folders cannot be relayed through the cloud."},
    {"4 GiB 及以上的文件不能云端中转！", "Files of 4 GiB or more cannot be relayed through the cloud."},
    {"不好意思，文件太大：云端中转只接受小于 4 GiB 的文件！",
     "Sorry, the file is too large: the cloud relay takes only files under 4 GiB."},
    {"有新版本，请下载新版本", "A new version is available: please download it."},
    {"外网直连方式不可用，可能路由器不支持端口映射",
     "Direct Internet mode unavailable: the router may not support port mapping."},
    {"未设置云中转服务器。请在右键菜单“设置…”中填写中转服务器地址。",
     "No relay is set: enter its address under \"Settings...\" in the right-click menu."},
    {"路由器处在另一层 NAT 之后，外网的手机无法这样连到本机；云中转方式可以",
     "The router sits behind another NAT, so phones outside cannot reach this PC this way; the cloud relay mode can."},
    {"无法连接云中转服务器", "cannot connect to the relay"},
    {"云中转服务器没有回应", "the relay did not answer"},
};

// Texts that the core completes with a path or a count, in the place of "%s".
constexpr CTextPair kPatterns[] = {
    {"正在上传: %s", "Uploading: %s"},
    {"下载:%s", "Download: %s"},
    {"有 %s 项无法读取，未打包", "%s entries could not be read and were left out of the archive"},
    {"云中转上传失败：%s", "The relay upload failed: %s"},
};

// The part of the text in the place of "%s", when the text has the pattern's two sides.
bool MatchPattern(const std::string& text, const std::string& pattern, std::string& filled) {
  const size_t at = pattern.find("%s");
  const std::string before = pattern.substr(0, at), after = pattern.substr(at + 2);
  if (text.size() < before.size() + after.size() || text.compare(0, before.size(), before) != 0 ||
      text.compare(text.size() - after.size(), after.size(), after) != 0)
    return false;
  filled = text.substr(before.size(), text.size() - before.size() - after.size());
  return true;
}

}  // namespace

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

std::string EnglishCoreText(const std::string& chinese) {
  for (const CTextPair& pair : kWholeTexts)
    if (chinese == pair.Chinese) return pair.English;
  std::string filled;
  for (const CTextPair& pair : kPatterns) {
    if (!MatchPattern(chinese, pair.Chinese, filled)) continue;
    // What fills the place may itself be a known text (a reason); anything else comes back unchanged.
    std::string english = pair.English;
    return english.replace(english.find("%s"), 2, EnglishCoreText(filled));
  }
  return chinese;
}

std::string ShownCoreText(const std::string& chinese) { return UiSpeaksChinese() ? chinese : EnglishCoreText(chinese); }
