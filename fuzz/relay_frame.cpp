// The relay's upload framing: a head that is accepted names a safe token and a safe name, was read to
// exactly its own length, and is the head that the client would send for them.

#include <cstring>
#include <string>

#include "FuzzCheck.h"
#include "relay/TokenAndName.h"
#include "relay/UploadFrame.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string body(reinterpret_cast<const char*>(data), size);
  size_t at = 0;
  auto read = [&](char* into, size_t count) {
    if (body.size() - at < count) return false;
    std::memcpy(into, body.data() + at, count);
    at += count;
    return true;
  };
  CUploadFrame frame;
  const std::string refused = ReadUploadFrameHead(read, frame);
  if (!refused.empty()) return 0;
  FUZZ_CHECK(IsSafeToken(frame.token) && IsSafeName(frame.name));
  FUZZ_CHECK(at == 12 + frame.token.size() + frame.name.size());
  FUZZ_CHECK(UploadFrameHead(frame) == body.substr(0, at));
  return 0;
}
