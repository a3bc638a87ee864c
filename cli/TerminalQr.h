#pragma once
#include <cstdio>
#include <string>

// Draws the QR code of a text with its four-module quiet zone, two modules per character cell
// (upper and lower half blocks), dark modules as the terminal's background colour forced to black
// on white, so it reads the same on dark and light themes. False when the text cannot be encoded.
bool DrawTerminalQr(const std::string& text, std::FILE* out);
