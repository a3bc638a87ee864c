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
     "The direct Internet mode is not available: the router may not support port mapping."},
    {"未设置云中转服务器。请在右键菜单“设置…”中填写中转服务器地址。",
     "No relay is set. Right-click the window, choose \"Settings...\" and enter the relay address."},
};

// Texts that the core completes with a path or a count.
constexpr CTextPair kPrefixes[] = {
    {"正在上传: ", "Uploading: "},
    {"下载:", "Download: "},
};

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
  for (const CTextPair& pair : kPrefixes) {
    const size_t length = std::strlen(pair.Chinese);
    if (chinese.compare(0, length, pair.Chinese) == 0) return pair.English + chinese.substr(length);
  }
  return chinese;
}

std::string ShownCoreText(const std::string& chinese) { return UiSpeaksChinese() ? chinese : EnglishCoreText(chinese); }
