#include "web/receive/MultipartBoundary.h"

#include <strings.h>

#include <cstring>

namespace {

constexpr size_t kMaxBoundary = 70;

bool IsBoundaryChar(char c) {
  return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') ||
         std::strchr("'()+_,-./:=? ", c) != nullptr;
}

bool IsBlank(char c) { return c == ' ' || c == '\t'; }

bool IsValid(const std::string& b) {
  if (b.empty() || b.size() > kMaxBoundary || b.back() == ' ') return false;
  for (char c : b)
    if (!IsBoundaryChar(c)) return false;
  return true;
}

}  // namespace

BoundaryResult ParseBoundary(const char* contentType, std::string& boundary) {
  boundary.clear();
  if (!contentType) return BoundaryResult::Missing;
  const std::string text = contentType;
  size_t at = text.find(';');
  while (at != std::string::npos) {
    ++at;  // past the ";"
    while (at < text.size() && IsBlank(text[at])) ++at;
    const size_t eq = text.find('=', at);
    const size_t semi = text.find(';', at);
    if (eq == std::string::npos || (semi != std::string::npos && semi < eq)) {
      at = semi;
      continue;
    }
    size_t nameEnd = eq;
    while (nameEnd > at && IsBlank(text[nameEnd - 1])) --nameEnd;
    const bool isBoundary = nameEnd - at == 8 && strncasecmp(text.c_str() + at, "boundary", 8) == 0;
    size_t v = eq + 1;
    while (v < text.size() && IsBlank(text[v])) ++v;
    std::string value;
    size_t next;
    if (v < text.size() && text[v] == '"') {
      const size_t close = text.find('"', v + 1);
      if (close == std::string::npos) return isBoundary ? BoundaryResult::Malformed : BoundaryResult::Missing;
      value = text.substr(v + 1, close - v - 1);
      next = close + 1;
      while (next < text.size() && IsBlank(text[next])) ++next;
      if (next < text.size() && text[next] != ';') {
        if (isBoundary) return BoundaryResult::Malformed;
      }
      next = text.find(';', next);
    } else {
      size_t end = v;
      while (end < text.size() && text[end] != ';' && !IsBlank(text[end]) && text[end] != '\r' && text[end] != '\n')
        ++end;
      value = text.substr(v, end - v);
      next = text.find(';', end);
    }
    if (isBoundary) {
      if (!IsValid(value)) return BoundaryResult::Malformed;
      boundary = value;
      return BoundaryResult::Found;
    }
    at = next;
  }
  return BoundaryResult::Missing;
}
