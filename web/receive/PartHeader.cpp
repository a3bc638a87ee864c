#include "web/receive/PartHeader.h"

#include <strings.h>

#include <string>

#include "web/http/PercentCodec.h"

namespace {

bool IsBlank(char c) { return c == ' ' || c == '\t'; }

std::string Trim(const std::string& s) {
  size_t a = 0, b = s.size();
  while (a < b && IsBlank(s[a])) ++a;
  while (b > a && IsBlank(s[b - 1])) --b;
  return s.substr(a, b - a);
}

bool SameWord(const std::string& a, const char* b) { return strcasecmp(a.c_str(), b) == 0; }

// The value of an extended parameter (charset'language'percent-encoded) as UTF-8; false when it
// cannot be decoded or holds a NUL.
bool DecodeExtended(const std::string& value, std::string& out) {
  const size_t q1 = value.find('\'');
  const size_t q2 = q1 == std::string::npos ? q1 : value.find('\'', q1 + 1);
  if (q2 == std::string::npos) return false;
  const std::string charset = value.substr(0, q1);
  const bool latin1 = SameWord(charset, "ISO-8859-1");
  if (!latin1 && !SameWord(charset, "UTF-8")) return false;
  std::string bytes;
  if (!PercentDecode(std::string_view(value).substr(q2 + 1), bytes, PlusSign::Itself, BadEscape::Refuse)) return false;
  out.clear();
  for (const char ch : bytes) {
    const auto c = static_cast<unsigned char>(ch);
    if (c == 0) return false;
    if (latin1 && c >= 0x80) {
      out += static_cast<char>(0xC0 | (c >> 6));
      out += static_cast<char>(0x80 | (c & 0x3F));
    } else {
      out += ch;
    }
  }
  return true;
}

// Reads the parameters after the disposition type: "; name=value" with value a token or a quoted
// string. False when one is malformed.
bool ReadDisposition(const std::string& value, CPartHeader& header) {
  size_t at = value.find(';');
  if (Trim(value.substr(0, at)).empty()) return false;  // no disposition type
  bool haveExtended = false;
  while (at != std::string::npos) {
    ++at;  // past ";"
    while (at < value.size() && IsBlank(value[at])) ++at;
    if (at == value.size()) break;  // a trailing ";"
    const size_t eq = value.find('=', at);
    if (eq == std::string::npos) return false;
    const std::string name = Trim(value.substr(at, eq - at));
    if (name.empty() || name.find_first_of("\";") != std::string::npos) return false;
    size_t v = eq + 1;
    while (v < value.size() && IsBlank(value[v])) ++v;
    std::string text;
    if (v < value.size() && value[v] == '"') {
      size_t i = v + 1;
      for (; i < value.size() && value[i] != '"'; ++i) {
        // A backslash escapes a quote or a backslash; before anything else it is itself (a
        // Windows path as some browsers send it).
        if (value[i] == '\\' && i + 1 < value.size() && (value[i + 1] == '"' || value[i + 1] == '\\')) ++i;
        text += value[i];
      }
      if (i == value.size()) return false;  // the quoted string does not end
      at = i + 1;
      while (at < value.size() && IsBlank(value[at])) ++at;
      if (at < value.size() && value[at] != ';') return false;
      if (at == value.size()) at = std::string::npos;
    } else {
      at = value.find(';', v);
      text = Trim(value.substr(v, at == std::string::npos ? std::string::npos : at - v));
    }
    if (SameWord(name, "name")) {
      header.field = text;
    } else if (SameWord(name, "filename*")) {
      if (!DecodeExtended(text, header.fileName)) return false;
      header.isFile = haveExtended = true;
    } else if (SameWord(name, "filename")) {
      if (!haveExtended) header.fileName = text;
      header.isFile = true;
    }
  }
  return true;
}

}  // namespace

bool ParsePartHeader(const char* block, size_t length, CPartHeader& header) {
  header = CPartHeader{};
  bool disposition = false;
  size_t start = 0;
  while (start < length) {
    size_t end = start;
    while (end < length && block[end] != '\n') ++end;
    std::string line(block + start, end - start);
    if (!line.empty() && line.back() == '\r') line.pop_back();
    start = end + 1;
    if (line.empty()) break;  // the block's empty line
    const size_t colon = line.find(':');
    if (colon == std::string::npos || colon == 0 || IsBlank(line[0])) return false;
    if (!SameWord(Trim(line.substr(0, colon)), "Content-Disposition")) continue;
    if (!ReadDisposition(line.substr(colon + 1), header)) return false;
    disposition = true;
  }
  return disposition;
}
