#include "web/FolderPage.h"

// Filled in with the download delivery.
void ServeFolderPage(mg_connection*, const char*) {}
std::vector<std::string> ListFolderFiles(const std::string&) { return {}; }
