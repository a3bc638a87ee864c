#pragma once
#include <string>
#include <utility>
#include <vector>

#include "web/HttpReply.h"
#include "web/HttpRequest.h"

// "/d?t=TOKEN": the HTML page of a shared folder's files, each under a new token.
CHttpReply ServeFolderPage(const CHttpRequest& request, const char* query);

// The folder page: the archive link for the folder's token, then one link per file, each a pair of
// the file's token and its link text; the archive link in Chinese or in English. Names are escaped,
// so no name can add markup.
std::string FolderPageHtml(const std::string& token, const std::vector<std::pair<std::string, std::string>>& links,
                           bool chinese = true);

// Full paths of all files in a folder tree, depth first in the system's order.
std::vector<std::string> ListFolderFiles(const std::string& folder);
