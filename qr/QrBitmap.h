#pragma once
#include <string>

// Writes the QR code of the address as the picture at `path` ("1.bmp" in the working directory;
// 24-bit, 8 pixels a module, no quiet zone, rows top to bottom) and returns 0. Its failures end the
// process with status -1.
int GenerateQrBitmap(const std::string& address, const std::string& path);
