#include "web/FolderPage.h"

#include <dirent.h>
#include <sys/stat.h>

#include <set>
#include <utility>

#include "app/SharedState.h"
#include "web/AcceptLanguage.h"
#include "web/ItemLookup.h"

namespace {

const char kPageHead[] =
    "<HTML lang=en><HEAD><TITLE>Marlix</TITLE><meta name=\"viewport\" content=\"width=device-width, "
    "initial-scale=1, minimum-scale=1, maximum-scale=1, user-scalable=0\"><META name=description "
    "content=\"Marlix\"><META content=\"text/html; charset=UTF-8\" http-equiv=Content-type></HEAD><BODY><center><DIV "
    " align= \"left \">";

// Text placed into the page, inside elements or attribute values.
std::string EscapeHtml(const std::string& text) {
  std::string out;
  out.reserve(text.size());
  for (char c : text) {
    switch (c) {
      case '&':
        out += "&amp;";
        break;
      case '<':
        out += "&lt;";
        break;
      case '>':
        out += "&gt;";
        break;
      case '"':
        out += "&quot;";
        break;
      case '\'':
        out += "&#39;";
        break;
      default:
        out += c;
    }
  }
  return out;
}

using DirId = std::pair<dev_t, ino_t>;

// Depth first in the order readdir delivers the entries. Folders reached through links are followed,
// but a folder already open higher up the walk is not entered again, so a link loop ends.
void ListInto(const std::string& folder, std::set<DirId>& open, std::vector<std::string>& out) {
  DIR* dir = ::opendir(folder.c_str());
  if (!dir) return;
  while (const dirent* entry = ::readdir(dir)) {
    const std::string name = entry->d_name;
    if (name == "." || name == "..") continue;
    const std::string path = folder + "/" + name;
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0) {
      // A dangling link or an entry that vanished: listed as a file, as the system named it.
      out.push_back(path);
      continue;
    }
    if (!S_ISDIR(st.st_mode)) {
      out.push_back(path);
      continue;
    }
    const DirId id{st.st_dev, st.st_ino};
    if (!open.insert(id).second) continue;
    ListInto(path, open, out);
    open.erase(id);
  }
  ::closedir(dir);
}

}  // namespace

std::string FolderPageHtml(const std::string& token, const std::vector<std::pair<std::string, std::string>>& links,
                           bool chinese) {
  std::string page = kPageHead;
  page += "<DIV align=\"center\"><h3><a href=\"/z?t=";
  page += EscapeHtml(token);
  page += chinese ? "\">打包下载</a></h3></DIV><ul>" : "\">Download all as ZIP</a></h3></DIV><ul>";
  for (const auto& [fileToken, linkText] : links) {
    page += "<li><a href=\"/f?t=";
    page += EscapeHtml(fileToken);
    page += "\">";
    page += EscapeHtml(linkText);
    page += "</a></li>";
  }
  page += "</ul></DIV></center></BODY></HTML>";
  return page;
}

std::vector<std::string> ListFolderFiles(const std::string& folder) {
  std::vector<std::string> files;
  struct stat st {};
  if (::stat(folder.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) return files;
  std::set<DirId> open{{st.st_dev, st.st_ino}};
  ListInto(folder, open, files);
  return files;
}

CHttpReply ServeFolderPage(const CHttpRequest& request, const char* query) {
  const std::string folder = LookupItem(query);
  if (folder.empty()) return CHttpReply::Dropped();
  // The token that named this folder; the archive link names the folder by it, never by the raw query.
  const std::string token = std::string(query).substr(std::string(query).find('=') + 1);

  const std::vector<std::string> files = ListFolderFiles(folder);
  std::vector<std::pair<std::string, std::string>> links;
  const size_t slash = folder.rfind('/');
  for (const std::string& file : files) {
    const std::string fileToken = FolderFileToken(file);
    std::string linkText;
    if (slash != std::string::npos && slash + 1 < file.size()) linkText = file.substr(slash + 1);
    links.emplace_back(fileToken, linkText);
  }
  CHttpReply reply;
  reply.Memory = FolderPageHtml(token, links, AcceptsChinese(request.Header("Accept-Language")));
  reply.AddHeader("Content-Type", "text/html; charset=utf-8");
  reply.AddHeader("Content-Length", std::to_string(reply.Memory.size()));
  return reply;
}
