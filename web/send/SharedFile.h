#pragma once
#include <string>

#include "web/http/HttpReply.h"
#include "web/http/HttpRequest.h"

struct SharedState;

// "/f?t=TOKEN": the shared file at `path` (the item the token names) as an attachment, counted as a
// download of the state's and reported to its event channel. `folder` is the shared folder whose page
// listed the file, which it is opened from (OpenBeneath); "" for a file shared itself.
CHttpReply ServeSharedFile(SharedState& state, const CHttpRequest& request, const std::string& path,
                           const std::string& folder);
