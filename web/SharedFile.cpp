#include "web/SharedFile.h"

#include "app/SharedState.h"
#include "web/AttachmentDisposition.h"
#include "web/ContentType.h"
#include "web/ItemLookup.h"
#include "web/StreamFile.h"
#include "web/WebService.h"

CHttpReply ServeSharedFile(CWebService& service, const CHttpRequest& request, const char* query) {
  SharedState& state = service.State();
  const std::string path = LookupItem(state, query);
  if (path.empty()) return CHttpReply::Dropped();

  const size_t slash = path.rfind('/');
  const std::string name = slash == std::string::npos ? std::string() : path.substr(slash + 1);
  const char* type = name.empty() ? nullptr : LookupContentType(name);
  CFileReply file(request, path);
  // A resumed download or a player's seek is the same download: only the one from byte 0 counts.
  if (file.StartsAtFirstByte()) ++state.DownloadCount;
  if (state.MainDialog && (file.StartsAtFirstByte() || file.HasBody())) state.MainDialog->ShowProgress();
  return file.Reply({{"Content-Type", type ? type : "application/octet-stream"},
                     {"Content-Disposition", AttachmentDisposition(name)}},
                    state.MainDialog);
}
