#include "web/http/ByteRange.h"

#include <cstring>
#include <limits>

namespace {

bool IsSpace(char c) { return c == ' ' || c == '\t'; }
bool IsDigit(char c) { return c >= '0' && c <= '9'; }

// Reads a run of digits at p into value; false when there are none or the value would overflow.
bool ReadNumber(const char*& p, int64_t& value) {
  if (!IsDigit(*p)) return false;
  value = 0;
  for (; IsDigit(*p); ++p) {
    const int digit = *p - '0';
    if (value > (std::numeric_limits<int64_t>::max() - digit) / 10) return false;
    value = value * 10 + digit;
  }
  return true;
}

void SkipSpaces(const char*& p) {
  while (IsSpace(*p)) ++p;
}

}  // namespace

ByteRange ParseByteRange(const char* header, int64_t size) {
  ByteRange whole;
  if (!header || size < 0) return whole;
  const char* p = header;
  SkipSpaces(p);
  if (::strncasecmp(p, "bytes", 5) != 0) return whole;
  p += 5;
  SkipSpaces(p);
  if (*p++ != '=') return whole;
  SkipSpaces(p);

  ByteRange range;
  range.kind = ByteRange::Part;
  if (*p == '-') {
    ++p;
    SkipSpaces(p);
    int64_t suffix = 0;
    if (!ReadNumber(p, suffix)) return whole;
    if (suffix == 0 || size == 0) {
      range.kind = ByteRange::Unsatisfiable;
    } else {
      range.first = suffix >= size ? 0 : size - suffix;
      range.last = size - 1;
    }
  } else {
    if (!ReadNumber(p, range.first)) return whole;
    SkipSpaces(p);
    if (*p++ != '-') return whole;
    SkipSpaces(p);
    range.last = size - 1;
    if (IsDigit(*p)) {
      int64_t last = 0;
      if (!ReadNumber(p, last) || last < range.first) return whole;
      if (last < range.last) range.last = last;
    }
    if (range.first >= size) range.kind = ByteRange::Unsatisfiable;
  }
  SkipSpaces(p);
  // Several ranges (a comma) or trailing text: the whole file.
  if (*p != '\0') return whole;
  if (range.kind == ByteRange::Unsatisfiable) range.first = 0, range.last = -1;
  return range;
}
