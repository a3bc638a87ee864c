#include "web/send/SharedFile.h"

#include <fcntl.h>

#include "app/SharedState.h"
#include "web/http/ContentType.h"
#include "web/send/AttachmentDisposition.h"
#include "web/send/OpenBeneath.h"
#include "web/send/StreamFile.h"

CHttpReply ServeSharedFile(SharedState& state, const CHttpRequest& request, const std::string& path,
                           const std::string& folder) {
  const size_t slash = path.rfind('/');
  const std::string name = slash == std::string::npos ? std::string() : path.substr(slash + 1);
  const char* type = name.empty() ? nullptr : LookupContentType(name);
  // A shared folder's file is opened from its folder, through no link put in place of the file or
  // of a folder on its way since the page was listed.
  CFileReply file(request, folder.empty() ? ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK)
                                          : OpenBeneath(folder, path, O_RDONLY | O_NONBLOCK));
  // A resumed download or a player's seek is the same download: only the one from byte 0 counts.
  if (file.StartsAtFirstByte()) ++state.DownloadCount;
  if (file.StartsAtFirstByte() || file.HasBody()) state.Events.ShowProgress();
  return file.Reply({{"Content-Type", type ? type : "application/octet-stream"},
                     {"Content-Disposition", AttachmentDisposition(name)}},
                    &state.Events);
}
