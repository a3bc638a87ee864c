#include "web/SharedFile.h"

// Filled in with the download delivery.
void ServeSharedFile(mg_connection*, const char*) {}
