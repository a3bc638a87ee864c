#include "web/SharedFile.h"

#include <civetweb.h>

#include <cinttypes>

#include "app/SharedState.h"
#include "web/AttachmentDisposition.h"
#include "web/ContentType.h"
#include "web/FileSize.h"
#include "web/ItemLookup.h"
#include "web/StreamFile.h"

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
