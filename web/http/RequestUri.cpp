#include "web/http/RequestUri.h"

std::string CleanRequestUri(const std::string& decodedPath) {
  std::string out;
  out.reserve(decodedPath.size());
  size_t i = 0;
  while (i < decodedPath.size()) {
    const char c = decodedPath[i++];
    out += c;
    if (c != '/' && c != '\\') continue;
    while (i < decodedPath.size()) {
      if (decodedPath[i] == '/' || decodedPath[i] == '\\') {
        ++i;
      } else if (decodedPath[i] == '.' && i + 1 < decodedPath.size() && decodedPath[i + 1] == '.') {
        i += 2;
      } else {
        break;
      }
    }
  }
  return out;
}
