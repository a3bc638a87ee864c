#pragma once
#include <string>
#include <utility>
#include <vector>

#include "web/HttpReply.h"
#include "web/HttpRequest.h"

// "/d?t=TOKEN": the phone page of a shared folder's files (FolderPageHtml), each under a new token,
// sandboxed as received files are.
class CWebService;
CHttpReply ServeFolderPage(CWebService& service, const CHttpRequest& request, const char* query);

// Full paths of all files in a folder tree, depth first in the system's order.
std::vector<std::string> ListFolderFiles(const std::string& folder);
