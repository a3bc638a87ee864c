#include "web/FolderPage.h"

#include <civetweb.h>
#include <dirent.h>
#include <sys/stat.h>

#include <cinttypes>
#include <set>
#include <utility>

#include "app/SharedState.h"
#include "web/AcceptLanguage.h"
#include "web/FileSize.h"
#include "web/FolderPageHtml.h"
#include "web/ItemLookup.h"
#include "web/Thumbnail.h"
#include "web/Token.h"

namespace {

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

std::vector<std::string> ListFolderFiles(const std::string& folder) {
  std::vector<std::string> files;
  struct stat st {};
  if (::stat(folder.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) return files;
  std::set<DirId> open{{st.st_dev, st.st_ino}};
  ListInto(folder, open, files);
  return files;
}

void ServeFolderPage(mg_connection* conn, const char* query) {
  const std::string folder = LookupItem(query);
  if (folder.empty()) return;
  // The token that named this folder; the archive link names the folder by it, never by the raw query.
  const std::string token = std::string(query).substr(std::string(query).find('=') + 1);

  const std::vector<std::string> files = ListFolderFiles(folder);
  CFolderPage model;
  const size_t slash = folder.rfind('/');
  model.folderName = slash == std::string::npos ? folder : folder.substr(slash + 1);
  model.archiveToken = token;
  model.chinese = AcceptsChinese(mg_get_header(conn, "Accept-Language"));
  for (const std::string& file : files) {
    CFolderPageFile entry;
    entry.token = MakeToken();
    if (file.size() > folder.size() + 1) entry.relativePath = file.substr(folder.size() + 1);
    entry.size = FileSize(file);
    entry.picture = IsPictureName(file);
    if (!entry.token.empty()) InsertItemIfAbsent(entry.token, file);
    model.files.push_back(std::move(entry));
  }
  const std::string page = FolderPageHtml(model);

  // Sandboxed as received files are, and no script may run; the sandbox keeps scripting on only
  // because browsers load <img loading=lazy> lazily only where scripting is on.
  mg_printf(conn,
            "HTTP/1.0 200 OK\r\nContent-Type: text/html; charset=utf-8\r\nContent-Security-Policy: sandbox "
            "allow-scripts; script-src 'none'\r\n"
            "X-Content-Type-Options: nosniff\r\nContent-Length: %" PRId64 "\r\n\r\n",
            static_cast<int64_t>(page.size()));
  mg_write(conn, page.data(), page.size());
}
