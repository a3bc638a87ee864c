#include "service/CookieJar.h"

#include <vector>

namespace {

bool IsBlank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

std::string Strip(const std::string& s) {
  size_t b = 0, e = s.size();
  while (b < e && IsBlank(s[b])) ++b;
  while (e > b && IsBlank(s[e - 1])) --e;
  return s.substr(b, e - b);
}

// The text up to its first control character other than a tab.
std::string UpToControl(const std::string& s) {
  for (size_t i = 0; i < s.size(); ++i) {
    const auto c = static_cast<unsigned char>(s[i]);
    if ((c < 0x20 && c != '\t') || c == 0x7F) return s.substr(0, i);
  }
  return s;
}

}  // namespace

void LearnSetCookieLines(const std::string& text, std::map<std::string, std::string>& jar) {
  if (text.empty()) return;
  const std::string word = text.find("set-Cookie") != std::string::npos ? "set-Cookie" : "Set-Cookie";

  std::vector<std::string> lines;
  for (size_t at = text.find(word); at != std::string::npos && lines.size() < kMaxCookieLines;
       at = text.find(word, at + word.size())) {
    const size_t start = at + word.size() + 1;  // skips the colon
    if (start > text.size()) continue;
    const size_t lf = text.find('\n', start);
    if (lf == std::string::npos) continue;
    std::string line = Strip(UpToControl(text.substr(start, lf - start)));
    if (line.size() > kCookieLineSlot) line.resize(kCookieLineSlot);
    lines.push_back(std::move(line));
  }

  for (const std::string& line : lines) {
    size_t begin = 0;
    while (begin <= line.size()) {
      size_t end = line.find(';', begin);
      if (end == std::string::npos) end = line.size();
      const std::string piece = line.substr(begin, end - begin);
      begin = end + 1;
      const size_t eq = piece.find('=');
      if (eq == std::string::npos || eq == 0) continue;
      std::string name = piece.substr(0, eq);
      std::string value = piece.substr(eq + 1);
      if (name.size() > kCookiePartSlot) name.resize(kCookiePartSlot);
      if (value.size() > kCookiePartSlot) value.resize(kCookiePartSlot);
      jar[name] = value;
    }
  }
}

std::string CookieLine(const std::map<std::string, std::string>& jar) {
  std::string line = "Cookie:";
  for (const auto& [name, value] : jar) line += name + "=" + value + "; ";
  return line;
}
