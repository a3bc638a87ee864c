// The upload-name rules and the JSON reply: any sent name gives a stored name that stays directly in
// tmp/ within the path limits, whole UTF-8 without control characters, never hidden and without the
// marks that reorder text, and a reply that is valid
// JSON of at most 1023 bytes whose address decodes back to the stored name.

#include <string>

#include "FuzzCheck.h"
#include "web/receive/UploadName.h"

namespace {

std::string PercentDecode(const std::string& s) {
  std::string out;
  for (size_t i = 0; i < s.size(); ++i) {
    if (s[i] == '%' && i + 2 < s.size()) {
      out += static_cast<char>(std::stoi(s.substr(i + 1, 2), nullptr, 16));
      i += 2;
    } else {
      out += s[i];
    }
  }
  return out;
}

void CheckStored(const std::string& name, size_t pathLimit) {
  FUZZ_CHECK(!name.empty());
  FUZZ_CHECK(name.find_first_of("/\\") == std::string::npos);
  FUZZ_CHECK(name.find_first_not_of('.') != std::string::npos);
  FUZZ_CHECK(name[0] != '.');  // never a hidden name
  for (const char* mark : {"\u202E", "\u202A", "\u2066", "\u2069", "\u200E", "\u200F"})
    FUZZ_CHECK(name.find(mark) == std::string::npos);
  FUZZ_CHECK(4 + name.size() <= pathLimit);
  FUZZ_CHECK(fuzz::IsUtf8(name) && !fuzz::HasControl(name));
  const std::string body = UploadReplyBody(name, 123456789, "image/jpeg", "192.168.1.5", "8081");
  FUZZ_CHECK(body.size() <= 1023);
  FUZZ_CHECK(fuzz::IsJson(body));
  const std::string url = UrlEscapeName(name);
  FUZZ_CHECK(url.find_first_of("#?") == std::string::npos);
  FUZZ_CHECK(PercentDecode(url) == name);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string sent(reinterpret_cast<const char*>(data), size);
  FUZZ_CHECK(fuzz::IsJson("\"" + JsonEscape(sent) + "\""));
  const std::string name = SafeUploadName(sent);
  if (name.empty()) return 0;
  CheckStored(name, kMaxSavedPath);
  for (int n : {0, 7, 999999}) {
    const std::string numbered = NumberedUploadName(name, n);
    CheckStored(numbered, kMaxNumberedPath);
    FUZZ_CHECK(numbered.find("(" + std::to_string(n) + ")") != std::string::npos);
  }
  return 0;
}
