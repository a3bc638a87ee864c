#include "relay/TokenAndName.h"

bool IsSafeToken(const std::string& token) {
  if (token.size() < kMinTokenBytes || token.size() > kMaxTokenBytes) return false;
  for (const char c : token) {
    const bool letterOrDigit = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9');
    if (!letterOrDigit && c != '-' && c != '_') return false;
  }
  return true;
}

bool IsSafeName(const std::string& name) {
  if (name.empty() || name.size() > kMaxNameBytes || name == "." || name == "..") return false;
  for (const unsigned char c : name) {
    if (c < 0x20 || c == 0x7F || c == '/' || c == '\\') return false;
  }
  return true;
}
