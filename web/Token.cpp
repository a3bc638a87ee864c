#include "web/Token.h"

#include <sys/random.h>

#include <cstdint>
#include <cstdio>

std::string MakeToken() {
  uint32_t value = 0;
  if (getrandom(&value, sizeof value, 0) != static_cast<ssize_t>(sizeof value)) return {};
  char text[16];
  std::snprintf(text, sizeof text, "%08X", static_cast<unsigned>(value));
  return text;
}
