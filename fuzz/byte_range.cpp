// The Range header rule: any header text and any file size give the whole file, one part that lies
// inside the file, or "unsatisfiable"; a part is never empty and never reaches past the end.

#include <cstring>
#include <string>

#include "FuzzCheck.h"
#include "web/http/ByteRange.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  // The first eight bytes choose the file's size (small sizes often), the rest is the header.
  int64_t fileSize = 0;
  if (size >= 8) {
    uint64_t raw = 0;
    std::memcpy(&raw, data, 8);
    fileSize = static_cast<int64_t>((raw & 1) ? raw % 100000 : raw >> 1);
    data += 8;
    size -= 8;
  }
  std::string header(reinterpret_cast<const char*>(data), size);
  header = header.substr(0, header.find('\0'));  // the server hands over C text
  const ByteRange r = ParseByteRange(header.c_str(), fileSize);
  switch (r.kind) {
    case ByteRange::Part:
      FUZZ_CHECK(0 <= r.first && r.first <= r.last && r.last < fileSize);
      break;
    case ByteRange::Whole:
    case ByteRange::Unsatisfiable:
      FUZZ_CHECK(r.first == 0 && r.last == -1);
      break;
    default:
      FUZZ_CHECK(false);
  }
  // Without "bytes" there is never a part.
  if (header.find_first_not_of(" \t") == std::string::npos) FUZZ_CHECK(r.kind == ByteRange::Whole);
  FUZZ_CHECK(ParseByteRange(nullptr, fileSize).kind == ByteRange::Whole);
  return 0;
}
