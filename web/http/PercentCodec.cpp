#include "web/http/PercentCodec.h"

namespace {

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

}  // namespace

bool PercentDecode(std::string_view text, std::string& out, PlusSign plus, BadEscape bad) {
  out.clear();
  out.reserve(text.size());
  for (size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    if (c == '%') {
      const int hi = i + 2 < text.size() ? HexDigit(text[i + 1]) : -1;
      const int lo = hi >= 0 ? HexDigit(text[i + 2]) : -1;
      if (lo >= 0) {
        out += static_cast<char>(hi * 16 + lo);
        i += 2;
        continue;
      }
      if (bad == BadEscape::Refuse) return false;
    }
    out += c == '+' && plus == PlusSign::Blank ? ' ' : c;
  }
  return true;
}

std::string PercentDecoded(std::string_view text, PlusSign plus) {
  std::string out;
  PercentDecode(text, out, plus, BadEscape::Keep);
  return out;
}

std::string PercentEncode(std::string_view text, bool (*keep)(unsigned char)) {
  static const char kHex[] = "0123456789ABCDEF";
  std::string out;
  out.reserve(text.size());
  for (const char ch : text) {
    const auto c = static_cast<unsigned char>(ch);
    if (keep(c)) {
      out += ch;
    } else {
      out += '%';
      out += kHex[c >> 4];
      out += kHex[c & 15];
    }
  }
  return out;
}

bool IsUnreservedByte(unsigned char c) {
  return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-' || c == '.' ||
         c == '_' || c == '~';
}

bool IsAttrCharByte(unsigned char c) {
  if (IsUnreservedByte(c)) return true;
  switch (c) {
    case '!':
    case '#':
    case '$':
    case '&':
    case '+':
    case '^':
    case '`':
    case '|':
      return true;
    default:
      return false;
  }
}
