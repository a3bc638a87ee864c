#pragma once
#include <cstdint>
#include <string>

struct mg_connection;

// Sends the first `size` bytes of a file. With progress, the main dialog's progress bar follows the
// whole percent sent, as after each 4096-byte piece, and gets a position only when it changes.
void StreamFile(mg_connection* conn, const std::string& path, int64_t size, bool withProgress);
