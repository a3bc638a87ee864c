#include "web/send/AttachmentDisposition.h"

namespace {

// attr-char of RFC 5987: sent as it is in an extended parameter value.
bool IsAttrChar(unsigned char c) {
  if ((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9')) return true;
  switch (c) {
    case '!':
    case '#':
    case '$':
    case '&':
    case '+':
    case '-':
    case '.':
    case '^':
    case '_':
    case '`':
    case '|':
    case '~':
      return true;
    default:
      return false;
  }
}

}  // namespace

std::string AttachmentDisposition(const std::string& name) {
  std::string value = "attachment;filename=\"";
  for (unsigned char c : name) {
    if (c < 0x20 || c == 0x7F) {
      value += '_';
    } else {
      if (c == '"' || c == '\\') value += '\\';
      value += static_cast<char>(c);
    }
  }
  value += "\";filename*=UTF-8''";
  static const char kHex[] = "0123456789ABCDEF";
  for (unsigned char c : name) {
    if (IsAttrChar(c)) {
      value += static_cast<char>(c);
    } else {
      value += '%';
      value += kHex[c >> 4];
      value += kHex[c & 15];
    }
  }
  return value;
}
