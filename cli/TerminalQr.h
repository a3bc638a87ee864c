#pragma once
#include <cstdio>
#include <string>

// Draws the QR code of a text with its four-module quiet zone, two modules per character cell
// (upper and lower half blocks), dark modules as the terminal's background colour forced to black
// on white, so it reads the same on dark and light themes. The error correction is the highest level
// whose drawing fits kTerminalQrRows lines (an 80 x 24 terminal), level L when none does.
// False when the text cannot be encoded.
constexpr int kTerminalQrRows = 23;

bool DrawTerminalQr(const std::string& text, std::FILE* out);
