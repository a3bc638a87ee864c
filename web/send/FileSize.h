#pragma once
#include <cstdint>
#include <string>

// The size of a regular file in bytes; 0 when it is missing, a folder, or cannot be opened.
// 64-bit, so that files of 2 GiB and more are sent whole.
int64_t FileSize(const std::string& path);
