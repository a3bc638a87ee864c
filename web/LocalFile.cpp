#include "web/LocalFile.h"

// Filled in with the download delivery.
void ServeLocalFile(mg_connection*, const std::string&) {}
