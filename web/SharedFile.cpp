#include "web/SharedFile.h"

#include <civetweb.h>

#include <cinttypes>

#include "app/SharedState.h"
#include "web/ContentType.h"
#include "web/FileSize.h"
#include "web/ItemLookup.h"
#include "web/StreamFile.h"

namespace {

// attr-char of RFC 5987: sent as it is in an extended parameter value.
bool IsAttrChar(unsigned char c) {
  if ((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9')) return true;
  switch (c) {
    case '!':
    case '#':
    case '$':
    case '&':
    case '+':
    case '-':
    case '.':
    case '^':
    case '_':
    case '`':
    case '|':
    case '~':
      return true;
    default:
      return false;
  }
}

}  // namespace

std::string AttachmentDisposition(const std::string& name) {
  std::string value = "attachment;filename=\"";
  for (unsigned char c : name) {
    if (c < 0x20 || c == 0x7F) {
      value += '_';
    } else {
      if (c == '"' || c == '\\') value += '\\';
      value += static_cast<char>(c);
    }
  }
  value += "\";filename*=UTF-8''";
  static const char kHex[] = "0123456789ABCDEF";
  for (unsigned char c : name) {
    if (IsAttrChar(c)) {
      value += static_cast<char>(c);
    } else {
      value += '%';
      value += kHex[c >> 4];
      value += kHex[c & 15];
    }
  }
  return value;
}

void ServeSharedFile(mg_connection* conn, const char* query) {
  const std::string path = LookupItem(query);
  if (path.empty()) return;

  const size_t slash = path.rfind('/');
  const std::string name = slash == std::string::npos ? std::string() : path.substr(slash + 1);
  const char* type = name.empty() ? nullptr : LookupContentType(name);
  const int64_t size = FileSize(path);

  mg_printf(conn,
            "HTTP/1.0 200 OK\r\nContent-Type: %s\r\nContent-Disposition: %s\r\nContent-Length: %" PRId64 "\r\n\r\n",
            type ? type : "application/octet-stream", AttachmentDisposition(name).c_str(), size);
  ++g_State.DownloadCount;
  if (g_State.MainDialog) g_State.MainDialog->ShowProgress();
  StreamFile(conn, path, size, true);
}
