#pragma once
#include <string>

// The content type for a file name by its extension (case-insensitive), or null when none is known.
const char* LookupContentType(const std::string& name);
