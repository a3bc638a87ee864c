#include "app/Token.h"

#include <sys/random.h>

#include <cstdint>

std::string MakeToken() {
  static constexpr char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789-_";
  uint8_t bytes[kTokenBits / 8];
  if (getrandom(bytes, sizeof bytes, 0) != static_cast<ssize_t>(sizeof bytes)) return {};
  std::string text;
  uint32_t acc = 0;
  int held = 0;  // bits in acc not yet written
  for (uint8_t b : bytes) {
    acc = (acc << 8) | b;
    held += 8;
    while (held >= 6) {
      held -= 6;
      text += kAlphabet[(acc >> held) & 0x3F];
    }
  }
  if (held > 0) text += kAlphabet[(acc << (6 - held)) & 0x3F];
  return text;
}
