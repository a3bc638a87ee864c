#pragma once
#include <string>

#include "web/http/HttpReply.h"
#include "web/http/HttpRequest.h"

struct SharedState;

// "/f?t=TOKEN": the shared file at `path` (the item the token names) as an attachment, counted as a
// download of the state's and reported to its event channel.
CHttpReply ServeSharedFile(SharedState& state, const CHttpRequest& request, const std::string& path);
