#include "web/send/FolderPage.h"

#include <dirent.h>
#include <sys/stat.h>

#include <set>
#include <utility>

#include "app/SharedState.h"
#include "web/send/AcceptLanguage.h"
#include "web/send/FileSize.h"
#include "web/send/FolderPageHtml.h"
#include "web/send/Thumbnail.h"

namespace {

using DirId = std::pair<dev_t, ino_t>;

// Depth first in the order readdir delivers the entries. Symbolic links are left out (one could lead
// out of the shared folder), and a folder already open higher up the walk is not entered again.
void ListInto(const std::string& folder, std::set<DirId>& open, std::vector<std::string>& out) {
  DIR* dir = ::opendir(folder.c_str());
  if (!dir) return;
  while (const dirent* entry = ::readdir(dir)) {
    const std::string name = entry->d_name;
    if (name == "." || name == "..") continue;
    const std::string path = folder + "/" + name;
    struct stat st {};
    if (::lstat(path.c_str(), &st) != 0) {
      // An entry that vanished: listed as a file, as the system named it.
      out.push_back(path);
      continue;
    }
    if (S_ISLNK(st.st_mode)) continue;
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

CHttpReply ServeFolderPage(SharedState& state, const CHttpRequest& request, const std::string& folder) {
  // The token that named this folder; the archive link names the folder by it, never by the raw query.
  const std::string token = request.Query.substr(request.Query.find('=') + 1);

  const std::vector<std::string> files = ListFolderFiles(folder);
  CFolderPage model;
  const size_t slash = folder.rfind('/');
  model.folderName = slash == std::string::npos ? folder : folder.substr(slash + 1);
  model.archiveToken = token;
  model.chinese = AcceptsChinese(request.Header("Accept-Language"));
  for (const std::string& file : files) {
    CFolderPageFile entry;
    entry.token = state.FolderFileToken(folder, file);
    if (file.size() > folder.size() + 1) entry.relativePath = file.substr(folder.size() + 1);
    entry.size = FileSize(file);
    entry.picture = IsPictureName(file);
    model.files.push_back(std::move(entry));
  }
  CHttpReply reply;
  reply.Memory = FolderPageHtml(model);
  reply.AddHeader("Content-Type", "text/html; charset=utf-8");
  // Sandboxed as received files are, and no script may run; the sandbox keeps scripting on only
  // because browsers load <img loading=lazy> lazily only where scripting is on.
  reply.AddHeader("Content-Security-Policy", "sandbox allow-scripts; script-src 'none'");
  reply.AddHeader("X-Content-Type-Options", "nosniff");
  reply.AddHeader("Content-Length", std::to_string(reply.Memory.size()));
  return reply;
}
