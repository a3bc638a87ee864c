#include "web/FolderArchive.h"

// Filled in with the folder archive download.
void ServeFolderArchive(mg_connection*, const char*) {}
