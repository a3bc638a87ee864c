#include "web/receive/UploadName.h"

#include <cstdio>

#include "app/UrlHost.h"
#include "app/Utf8Cut.h"
#include "web/http/PercentCodec.h"

namespace {

// What a name may cost in the reply body (once JSON-escaped, twice URL- and JSON-escaped), so that
// the whole body stays within 1023 bytes with any content type, size, host and port.
constexpr size_t kMaxReplyNameCost = 720;
// An extension longer than this is not kept apart when a name is shortened.
constexpr size_t kMaxKeptExtension = 64;
const std::string kFolder = "tmp/";

// Length of the valid UTF-8 sequence starting at s[i], or 0 when there is none.
size_t Utf8SequenceLength(const std::string& s, size_t i) {
  const auto c = static_cast<unsigned char>(s[i]);
  size_t len = 0;
  unsigned min = 0;
  if (c < 0x80) return 1;
  if (c >= 0xC2 && c <= 0xDF) {
    len = 2, min = 0x80;
  } else if (c >= 0xE0 && c <= 0xEF) {
    len = 3, min = 0x800;
  } else if (c >= 0xF0 && c <= 0xF4) {
    len = 4, min = 0x10000;
  } else {
    return 0;
  }
  if (i + len > s.size()) return 0;
  unsigned cp = c & (0x7F >> len);
  for (size_t k = 1; k < len; ++k) {
    const auto cc = static_cast<unsigned char>(s[i + k]);
    if ((cc & 0xC0) != 0x80) return 0;
    cp = (cp << 6) | (cc & 0x3F);
  }
  if (cp < min || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return 0;
  return len;
}

// The marks that reorder or hide text without being seen (U+061C, U+200E/F, U+202A-U+202E,
// U+2066-U+2069): in a name they make "exe.pdf" of a name that ends in ".exe".
bool IsDirectionMark(const std::string& s, size_t i, size_t len) {
  const auto b = [&](size_t k) { return static_cast<unsigned char>(s[i + k]); };
  if (len == 2) return b(0) == 0xD8 && b(1) == 0x9C;
  if (len != 3 || b(0) != 0xE2) return false;
  if (b(1) == 0x80) return b(2) == 0x8E || b(2) == 0x8F || (b(2) >= 0xAA && b(2) <= 0xAE);
  return b(1) == 0x81 && b(2) >= 0xA6 && b(2) <= 0xA9;
}

size_t ReplyCost(const std::string& name) {
  return JsonEscape(name).size() + 2 * JsonEscape(UrlEscapeName(name)).size();
}

// Drops whole characters from the end of base until kFolder + base + tail fits the path limit and
// the reply. base holds valid UTF-8.
std::string Fit(std::string base, const std::string& tail, size_t pathLimit) {
  auto fits = [&] {
    const std::string name = base + tail;
    return kFolder.size() + name.size() <= pathLimit && ReplyCost(name) <= kMaxReplyNameCost;
  };
  while (!base.empty() && !fits()) base = CutUtf8(base, base.size() - 1);
  return base + tail;
}

// Splits at the last "." into base and extension (with its dot), keeping a long extension in base.
void SplitExtension(const std::string& name, std::string& base, std::string& ext) {
  const size_t dot = name.rfind('.');
  if (dot == std::string::npos || name.size() - dot > kMaxKeptExtension) {
    base = name, ext.clear();
  } else {
    base = name.substr(0, dot), ext = name.substr(dot);
  }
}

}  // namespace

std::string SafeUploadName(const std::string& sent) {
  const size_t slash = sent.find_last_of("/\\");
  const std::string last = slash == std::string::npos ? sent : sent.substr(slash + 1);
  std::string name;
  for (size_t i = 0; i < last.size();) {
    const auto c = static_cast<unsigned char>(last[i]);
    const size_t len = Utf8SequenceLength(last, i);
    if (len == 0 || c < 0x20 || c == 0x7F || IsDirectionMark(last, i, len)) {
      name += '_';
      i += len ? len : 1;
    } else {
      name.append(last, i, len);
      i += len;
    }
  }
  if (name.find_first_not_of('.') == std::string::npos) return {};
  // A dot-name would be hidden in the folder, and is never served from it.
  if (name[0] == '.') name.insert(0, 1, '_');
  std::string base, ext;
  SplitExtension(name, base, ext);
  return Fit(base, ext, kMaxSavedPath);
}

std::string NumberedUploadName(const std::string& name, int n) {
  if (n < 0) return name;
  char number[16];
  std::snprintf(number, sizeof number, "(%d)", n);
  std::string base, ext;
  SplitExtension(name, base, ext);
  return Fit(base, number + ext, kMaxNumberedPath);
}

std::string JsonEscape(const std::string& text) {
  std::string out;
  out.reserve(text.size());
  for (const char ch : text) {
    const auto c = static_cast<unsigned char>(ch);
    if (ch == '"' || ch == '\\') {
      out += '\\';
      out += ch;
    } else if (c < 0x20) {
      char esc[8];
      std::snprintf(esc, sizeof esc, "\\u%04x", c);
      out += esc;
    } else {
      out += ch;
    }
  }
  return out;
}

std::string UrlEscapeName(const std::string& name) {
  return PercentEncode(name, [](unsigned char c) { return c != '%' && c != '#' && c != '?'; });
}

std::string UploadReplyEntry(const std::string& name, int64_t size, const std::string& type, const std::string& host,
                             const std::string& port, const std::string& secret) {
  const std::string jsonName = JsonEscape(name);
  const std::string address = "http://" + JsonEscape(UrlHost(host)) + ":" + JsonEscape(port) + "/tmp/" +
                              JsonEscape(UrlEscapeName(name)) + (secret.empty() ? "" : "?k=" + JsonEscape(secret));
  return "{\"name\":\"" + jsonName + "\",\"size\":\"" + std::to_string(size) + "\",\"type\":\"" + JsonEscape(type) +
         "\",\"url\":\"" + address + "\",\"thumbnail_url\":\"\",\"delete_url\":\"" + address +
         "\",\"delete_type\":\"DELETE\"}";
}

std::string UploadReplyBody(const std::string& name, int64_t size, const std::string& type, const std::string& host,
                            const std::string& port, const std::string& secret) {
  return "{\"files\":[" + UploadReplyEntry(name, size, type, host, port, secret) + "]}";
}
