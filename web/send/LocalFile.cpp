#include "web/send/LocalFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>

#include "app/WorkingDirectory.h"
#include "web/http/ContentType.h"
#include "web/send/StreamFile.h"

namespace {

constexpr char kReceivedPrefix[] = "tmp/";

// A name that may be served from "tmp/": one path element, not a dot-name.
bool IsReceivedName(const std::string& name) {
  return !name.empty() && name[0] != '.' && name.find('/') == std::string::npos;
}

// Opens a regular file without following a symbolic link at any step: the name relative to the
// folder descriptor, with O_NOFOLLOW. Returns the descriptor and the size, or -1.
int OpenRegular(int folder, const std::string& name, int64_t& size) {
  const int fd = ::openat(folder, name.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return -1;
  struct stat st {};
  if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    ::close(fd);
    return -1;
  }
  size = st.st_size;
  return fd;
}

// The servable file for a local path, opened: a page file directly in the working directory, or a
// regular file directly inside "tmp/" (a real folder, not a link). -1 for anything else.
int OpenServable(const std::string& home, const std::string& path, int64_t& size) {
  const bool received = path.compare(0, sizeof kReceivedPrefix - 1, kReceivedPrefix) == 0;
  if (!IsPageFile(path) && !received) return -1;
  const std::string name = received ? path.substr(sizeof kReceivedPrefix - 1) : path;
  if (received && !IsReceivedName(name)) return -1;
  const int homeFolder = ::open(home.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (homeFolder < 0) return -1;
  if (!received) {
    const int fd = OpenRegular(homeFolder, name, size);
    ::close(homeFolder);
    return fd;
  }
  const int folder = ::openat(homeFolder, "tmp", O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
  ::close(homeFolder);
  if (folder < 0) return -1;
  const int fd = OpenRegular(folder, name, size);
  ::close(folder);
  return fd;
}

}  // namespace

CHttpReply ServeLocalFile(const std::string& home, const CHttpRequest& request, const std::string& uri, bool admitted) {
  if (!LookupContentType(uri)) {
    CHttpReply bad;
    bad.Memory = "<html><body>Bad Request</body></html>";
    bad.AddHeader("Content-Length", std::to_string(bad.Memory.size()));
    bad.AddHeader("Content-Type", "text/html");
    return bad;
  }
  const std::string path = uri.empty() ? uri : uri.substr(1);
  int64_t size = 0;
  // Refused: answered exactly as a missing file is.
  const int fd = admitted ? OpenServable(home, path, size) : -1;
  // Received files come from phones: the browser must neither run them in the page's origin nor
  // guess another type for them.
  const bool received = path.compare(0, sizeof kReceivedPrefix - 1, kReceivedPrefix) == 0;
  const char* type = LookupContentType(path);
  // The reply sends from the checked descriptor itself, so a link put in its place meanwhile is
  // never followed.
  CFileReply file(request, fd);
  std::vector<std::pair<std::string, std::string>> headers{{"Content-Type", type ? type : "text/plain"}};
  if (received) {
    headers.emplace_back("Content-Security-Policy", "sandbox");
    headers.emplace_back("X-Content-Type-Options", "nosniff");
  }
  return file.Reply(std::move(headers), nullptr);
}

CHttpReply MissingFileReply(const std::string& home, const CHttpRequest& request, const std::string& uri) {
  return ServeLocalFile(home, request, LookupContentType(uri) ? uri : "/missing.txt", false);
}
