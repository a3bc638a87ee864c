#include "net/PublicAddress.h"

#include <arpa/inet.h>

#include <cstdint>

bool IsPublicIpv4(const std::string& address) {
  in_addr parsed{};
  if (inet_pton(AF_INET, address.c_str(), &parsed) != 1) return false;
  const uint32_t a = ntohl(parsed.s_addr);
  struct Block {
    uint32_t Base;
    int Bits;
  };
  static constexpr Block kNotPublic[] = {
      {0x00000000, 8},  {0x0A000000, 8},  {0x64400000, 10}, {0x7F000000, 8},
      {0xA9FE0000, 16}, {0xAC100000, 12}, {0xC0A80000, 16}, {0xE0000000, 3},
  };
  for (const Block& b : kNotPublic) {
    if ((a >> (32 - b.Bits)) == (b.Base >> (32 - b.Bits))) return false;
  }
  return true;
}
