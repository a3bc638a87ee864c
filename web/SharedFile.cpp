#include "web/SharedFile.h"

#include <civetweb.h>

#include "app/SharedState.h"
#include "web/AttachmentDisposition.h"
#include "web/ContentType.h"
#include "web/ItemLookup.h"
#include "web/StreamFile.h"

void ServeSharedFile(mg_connection* conn, const char* query) {
  const std::string path = LookupItem(query);
  if (path.empty()) return;

  const size_t slash = path.rfind('/');
  const std::string name = slash == std::string::npos ? std::string() : path.substr(slash + 1);
  const char* type = name.empty() ? nullptr : LookupContentType(name);
  CFileReply reply(conn, path);
  reply.SendHead(std::string("Content-Type: ") + (type ? type : "application/octet-stream") +
                 "\r\nContent-Disposition: " + AttachmentDisposition(name) + "\r\n");
  // A resumed download or a player's seek is the same download: only the one from byte 0 counts.
  if (reply.StartsAtFirstByte()) ++g_State.DownloadCount;
  if (g_State.MainDialog && (reply.StartsAtFirstByte() || reply.HasBody())) g_State.MainDialog->ShowProgress();
  reply.SendBody(true);
}
