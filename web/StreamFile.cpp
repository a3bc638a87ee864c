#include "web/StreamFile.h"

// Filled in with the download delivery.
void StreamFile(mg_connection*, const std::string&, int64_t, bool) {}
