#pragma once
#include <string>
#include <vector>

struct mg_connection;

// "/d?t=TOKEN": the phone page of a shared folder's files (FolderPageHtml), each under a new token,
// sandboxed as received files are.
void ServeFolderPage(mg_connection* conn, const char* query);

// Full paths of all files in a folder tree, depth first in the system's order.
std::vector<std::string> ListFolderFiles(const std::string& folder);
