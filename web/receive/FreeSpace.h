#pragma once
#include <cstdint>
#include <string>

// Bytes that an ordinary user may still write on the file system holding `folder`, or -1 when the
// system cannot tell.
int64_t FreeSpace(const std::string& folder);
