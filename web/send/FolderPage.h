#pragma once
#include <string>
#include <utility>
#include <vector>

#include "web/http/HttpReply.h"
#include "web/http/HttpRequest.h"

struct SharedState;

// "/d?t=TOKEN": the phone page of the shared folder at `folder` (the item the token names) with its
// files (FolderPageHtml), each under a token of the state's, sandboxed as received files are.
CHttpReply ServeFolderPage(SharedState& state, const CHttpRequest& request, const std::string& folder);

// Full paths of all files in a folder tree, depth first in the system's order.
std::vector<std::string> ListFolderFiles(const std::string& folder);
