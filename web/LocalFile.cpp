#include "web/LocalFile.h"

#include <civetweb.h>

#include "web/ContentType.h"
#include "web/StreamFile.h"

namespace {

// A local path stays inside the working directory: no absolute path, no ".." segment, no backslash.
bool IsInsideWorkingDirectory(const std::string& path) {
  if (path.empty() || path[0] == '/' || path.find('\\') != std::string::npos) return false;
  size_t start = 0;
  while (start <= path.size()) {
    size_t end = path.find('/', start);
    if (end == std::string::npos) end = path.size();
    if (path.compare(start, end - start, "..") == 0) return false;
    start = end + 1;
  }
  return true;
}

}  // namespace

void ServeLocalFile(mg_connection* conn, const std::string& uri) {
  if (!LookupContentType(uri)) {
    static const char kBadRequest[] = "<html><body>Bad Request</body></html>";
    mg_printf(conn, "HTTP/1.0 200 OK\r\nContent-Length: %d\r\nContent-Type: text/html\r\n\r\n%s",
              static_cast<int>(sizeof kBadRequest - 1), kBadRequest);
    return;
  }
  const std::string path = uri.empty() ? uri : uri.substr(1);
  const char* type = LookupContentType(path);
  CFileReply reply(conn, IsInsideWorkingDirectory(path) ? path : std::string());
  reply.SendHead(std::string("Content-Type: ") + (type ? type : "text/plain") + "\r\n");
  reply.SendBody(false);
}
