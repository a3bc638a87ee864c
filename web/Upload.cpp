#include "web/Upload.h"

#include <civetweb.h>
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cinttypes>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>

#include "app/SharedState.h"
#include "web/ContentType.h"
#include "web/FileSize.h"
#include "web/UploadName.h"
#include "web/WebServer.h"

namespace {

// A part's header block must end within the first 8192 bytes of the window. File data moves through
// a larger fixed block, so that a big upload takes few reads and writes; memory stays the same for
// uploads of any size.
constexpr size_t kWindowSize = 8192;
constexpr size_t kDataBlockSize = 256 * 1024;
constexpr int kMaxNumber = 1000000;

const char kUploadReplyHeader[] =
    "HTTP/1.1 200 OK\r\n"
    "Server: Marlix 1.0\r\n"
    "X-Powered-By: Dorvane\r\n"
    "Pragma: no-cache\r\n"
    "Cache-Control: no-store, no-cache, must-revalidate\r\n"
    "Content-Disposition: inline; filename=\"files.json\"\r\n"
    "X-Content-Type-Options: nosniff\r\n"
    "Access-Control-Allow-Origin: *\r\n"
    "Access-Control-Allow-Credentials: false\r\n"
    "Access-Control-Allow-Methods: OPTIONS, HEAD, GET, POST, PUT, PATCH, DELETE\r\n"
    "Access-Control-Allow-Headers: Content-Type, Content-Range, Content-Disposition\r\n"
    "Vary: Accept\r\n"
    "Content-Length: %zu\r\n"
    "Keep-Alive: timeout=15, max=100\r\n"
    "Connection: Keep-Alive\r\n"
    "Content-Type: application/json\r\n"
    "\r\n";

void WriteUploadReply(mg_connection* conn, const std::string& body) {
  mg_printf(conn, kUploadReplyHeader, body.size());
  if (!body.empty()) mg_write(conn, body.data(), body.size());
}

// The multipart boundary of the request's Content-Type, or empty.
std::string FindBoundary(mg_connection* conn) {
  const char* type = mg_get_header(conn, "Content-Type");
  if (!type) return {};
  const char* at = std::strstr(type, "boundary=");
  if (!at) return {};
  char boundary[100] = {};
  if (std::sscanf(at, "boundary=\"%99[^\"]\"", boundary) != 1 && std::sscanf(at, "boundary=%99s", boundary) != 1) {
    return {};
  }
  return boundary;
}

// The body's bytes pass through one fixed buffer: read at the end, consumed from the front.
struct CReceiveWindow {
  std::unique_ptr<char[]> buffer{new char[kDataBlockSize]};
  char* data = buffer.get();
  size_t length = 0;

  // One read into the free space; false at the end of the body or on an error.
  bool ReadOnce(mg_connection* conn) {
    if (length == kDataBlockSize) return true;
    const int got = mg_read(conn, data + length, kDataBlockSize - length);
    if (got <= 0) return false;
    length += static_cast<size_t>(got);
    return true;
  }
  // Reads until the window's first 8192 bytes are there or the body ends.
  void Fill(mg_connection* conn) {
    while (length < kWindowSize && ReadOnce(conn)) {
    }
  }
  void Drop(size_t count) {
    std::memmove(data, data + count, length - count);
    length -= count;
  }
};

// Length of the part header block at the window's front (up to and including its empty line),
// or 0 when the window holds no complete block or a control character comes before its end.
size_t HeaderBlockLength(const CReceiveWindow& w) {
  const size_t length = std::min(w.length, kWindowSize);
  for (size_t i = 0; i < length; ++i) {
    const auto c = static_cast<unsigned char>(w.data[i]);
    if (c == '\n') {
      if (i + 1 < length && w.data[i + 1] == '\n') return i + 2;
      if (i + 2 < length && w.data[i + 1] == '\r' && w.data[i + 2] == '\n') return i + 3;
    } else if ((c < 0x20 && c != '\r') || c == 0x7F) {
      return 0;
    }
  }
  return 0;
}

// The sent file name of a header block: the last "Content-Disposition" line that names a file.
bool FindSentName(const char* block, size_t length, std::string& name) {
  bool found = false;
  size_t start = 0;
  while (start < length) {
    const char* end = static_cast<const char*>(memmem(block + start, length - start, "\r\n", 2));
    const size_t lineEnd = end ? static_cast<size_t>(end - block) : length;
    const std::string line(block + start, lineEnd - start);
    char sent[1024];
    if (std::sscanf(line.c_str(), "Content-Disposition: %*s %*s filename=\"%1023[^\"]", sent) == 1) {
      name = sent;
      found = true;
    }
    start = lineEnd + 2;
  }
  return found;
}

// Creates a new file for the sent name in "tmp", never replacing one that exists: picking a free
// name and creating it is one step (O_EXCL), so concurrent uploads of one name each get their own.
int CreateSavedFile(const std::string& sent, std::string& path) {
  const std::string name = SafeUploadName(sent);
  if (name.empty()) return -1;
  for (int n = -1; n < kMaxNumber; ++n) {
    path = "tmp/" + NumberedUploadName(name, n);
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
    if (fd >= 0 || errno != EEXIST) return fd;
  }
  return -1;
}

bool WriteAll(int fd, const char* data, size_t count) {
  while (count > 0) {
    const ssize_t n = ::write(fd, data, count);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    data += n;
    count -= static_cast<size_t>(n);
  }
  return true;
}

// Position of the delimiter in the window, or npos.
size_t FindDelimiter(const CReceiveWindow& w, const std::string& delimiter) {
  const void* at = memmem(w.data, w.length, delimiter.data(), delimiter.size());
  return at ? static_cast<size_t>(static_cast<const char*>(at) - w.data) : std::string::npos;
}

}  // namespace

int ReceiveUpload(mg_connection* conn) {
  const std::string boundary = FindBoundary(conn);
  if (boundary.empty()) return 0;
  const std::string delimiter = "\r\n--" + boundary;
  const size_t d = delimiter.size();
  const ServerCallbacks& cb = g_ServerCallbacks;

  int count = 0;
  CReceiveWindow w;
  for (;;) {
    w.Fill(conn);
    const size_t block = HeaderBlockLength(w);
    if (block == 0) break;
    std::string sent;
    if (!FindSentName(w.data, block, sent)) break;
    w.Drop(block);

    std::string path;
    const int fd = CreateSavedFile(sent, path);
    if (fd < 0) break;

    bool done = false;
    bool failed = false;
    for (;;) {
      const size_t at = FindDelimiter(w, delimiter);
      if (at != std::string::npos) {
        failed = !WriteAll(fd, w.data, at);
        if (failed) break;
        if (cb.OnUploadBytes) cb.OnUploadBytes(conn, at);
        done = true;
        if (cb.OnUploadFileDone) cb.OnUploadFileDone(conn, path.c_str(), 0);
        w.Drop(at + d);
        break;
      }
      if (w.length > d) {
        const size_t chunk = w.length - d;
        failed = !WriteAll(fd, w.data, chunk);
        if (failed) break;
        if (cb.OnUploadBytes) cb.OnUploadBytes(conn, chunk);
        w.Drop(chunk);
      }
      if (!w.ReadOnce(conn)) break;
    }
    ::close(fd);
    if (!done) break;
    ++count;
    if (cb.OnUploadSaved) cb.OnUploadSaved(conn, path.c_str());
  }
  return count;
}

void OnUploadFileDone(mg_connection*, const char* path, int) {
  CMainDialogView* dialog = g_State.MainDialog;
  if (!dialog) return;
  dialog->SetCaption(std::string("正在上传: ") + path);
  dialog->ShowProgress();
  dialog->SetProgressPos(1);
}

void OnUploadSaved(mg_connection* conn, const char* path) {
  const std::string saved = path;
  const int64_t size = FileSize(saved);
  size_t slash = saved.rfind('/');
  if (slash == std::string::npos) slash = saved.rfind('\\');
  const std::string name = slash == std::string::npos ? saved : saved.substr(slash + 1);
  const char* type = LookupContentType(saved);
  if (!type) type = "application/octet-stream";

  CMainDialogView* dialog = g_State.MainDialog;
  const int radio = dialog ? dialog->CheckedReachRadio() : IDC_RADIO_LAN;
  std::string host;
  bool answer = true;
  if (radio == IDC_RADIO_LAN) {
    host = g_State.LocalAddress.Get();
  } else if (radio == IDC_RADIO_WAN) {
    host = g_State.ExternalAddress.Get();
  } else {
    answer = false;
  }

  std::string body;
  if (answer) {
    const std::string jsonName = JsonEscape(name);
    const std::string address =
        "http://" + JsonEscape(host) + ":" + JsonEscape(g_State.PortText) + "/tmp/" + JsonEscape(UrlEscapeName(name));
    char sizeText[24];
    std::snprintf(sizeText, sizeof sizeText, "%" PRId64, size);
    body = "{\"files\":[{\"name\":\"" + jsonName + "\",\"size\":\"" + sizeText + "\",\"type\":\"" + type +
           "\",\"url\":\"" + address + "\",\"thumbnail_url\":\"\",\"delete_url\":\"" + address +
           "\",\"delete_type\":\"DELETE\"}]}";
  }
  WriteUploadReply(conn, body);

  if (dialog) {
    dialog->ShowProgress();
    dialog->SetProgressPos(100);
  }
}

void DeleteLocalFile(mg_connection* conn, const std::string& uri) {
  // Only a file directly inside "tmp": the one name after "/tmp/", without separators, not "." or "..",
  // removed relative to "tmp" opened as a real folder, so that no link leads the removal elsewhere.
  static const std::string kPrefix = "/tmp/";
  if (uri.compare(0, kPrefix.size(), kPrefix) == 0) {
    const std::string name = uri.substr(kPrefix.size());
    if (!name.empty() && name != "." && name != ".." && name.find_first_of("/\\") == std::string::npos) {
      const int folder = ::open("tmp", O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
      if (folder >= 0) {
        ::unlinkat(folder, name.c_str(), 0);
        ::close(folder);
      }
    }
  }
  WriteUploadReply(conn, "{\"success\":true}");
}
