#pragma once
// The one QR encoding of the program: libqrencode, version chosen by the library, 8-bit mode,
// case-sensitive. "1.bmp" and the terminal drawing both come from it: the picture at level H, the
// terminal at the highest level that still fits its screen.

#include <cstdint>
#include <string>
#include <vector>

struct CQrMatrix {
  int width = 0;              // modules a side, without quiet zone
  std::vector<uint8_t> dark;  // width * width, row by row from the top; 1 = dark module
  bool At(int x, int y) const { return dark[static_cast<size_t>(y) * width + x] != 0; }
};

// Error-correction levels, lowest first.
enum class QrLevel { L, M, Q, H };

// False when the text cannot be encoded (libqrencode failed); errno then tells why.
bool EncodeQr(const std::string& text, CQrMatrix& out, QrLevel level = QrLevel::H);
