#include "cli/TerminalQr.h"

#include "qr/QrCode.h"

bool DrawTerminalQr(const std::string& text, std::FILE* out) {
  const int quiet = 4;
  CQrMatrix qr;
  for (QrLevel level : {QrLevel::H, QrLevel::Q, QrLevel::M, QrLevel::L}) {
    if (!EncodeQr(text, qr, level)) return false;
    if ((qr.width + 2 * quiet + 1) / 2 <= kTerminalQrRows) break;
  }
  const int size = qr.width + 2 * quiet;
  auto dark = [&](int x, int y) {
    x -= quiet;
    y -= quiet;
    return x >= 0 && y >= 0 && x < qr.width && y < qr.width && qr.At(x, y);
  };
  // Black foreground on white background; each cell shows the top module as the foreground of an
  // upper half block, the bottom module as the background.
  for (int y = 0; y < size; y += 2) {
    std::string line;
    for (int x = 0; x < size; ++x) {
      const bool top = dark(x, y);
      const bool bottom = y + 1 < size && dark(x, y + 1);
      line += "\x1b[";
      line += top ? "30" : "97";
      line += ";";
      line += bottom ? "40" : "107";
      line += "m\u2580";
    }
    line += "\x1b[0m\n";
    std::fputs(line.c_str(), out);
  }
  std::fflush(out);
  return true;
}
