// The HTTP client's cookie learning: whatever header text a server sends, the jar keeps its slots and
// the Cookie line sent back is one header line, with no line break or other control character.

#include <map>
#include <string>

#include "FuzzCheck.h"
#include "service/CookieJar.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);
  std::map<std::string, std::string> jar;
  LearnSetCookieLines(text, jar);
  LearnSetCookieLines(text, jar);  // learning twice changes nothing
  std::map<std::string, std::string> once;
  LearnSetCookieLines(text, once);
  FUZZ_CHECK(jar == once);
  for (const auto& [name, value] : jar) {
    FUZZ_CHECK(!name.empty() && name.size() <= kCookiePartSlot && value.size() <= kCookiePartSlot);
    FUZZ_CHECK(name.find_first_of("=;") == std::string::npos && value.find(';') == std::string::npos);
  }
  const std::string line = CookieLine(jar);
  for (char c : line) FUZZ_CHECK(c == '\t' || (static_cast<unsigned char>(c) >= 0x20 && c != 0x7F));
  return 0;
}
