#pragma once
// Shared by the fuzz targets: an invariant check that stops the run with the input kept, a strict
// JSON checker, and a deterministic way to cut the input into reads.

#include <cctype>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#define FUZZ_CHECK(cond)                                                                  \
  do {                                                                                    \
    if (!(cond)) {                                                                        \
      std::fprintf(stderr, "invariant broken at %s:%d: %s\n", __FILE__, __LINE__, #cond); \
      std::abort();                                                                       \
    }                                                                                     \
  } while (0)

namespace fuzz {

// Whether the text is one complete JSON value (RFC 8259), with nothing after it but white space.
class CJsonChecker {
 public:
  explicit CJsonChecker(const std::string& text) : m_s(text) {}
  bool Valid() {
    Blank();
    if (!Value(0)) return false;
    Blank();
    return m_i == m_s.size();
  }

 private:
  bool Value(int depth) {
    if (depth > 64 || m_i >= m_s.size()) return false;
    const char c = m_s[m_i];
    if (c == '{') return Object(depth);
    if (c == '[') return Array(depth);
    if (c == '"') return String();
    if (c == '-' || (c >= '0' && c <= '9')) return Number();
    return Word("true") || Word("false") || Word("null");
  }
  bool Object(int depth) {
    ++m_i;
    Blank();
    if (Take('}')) return true;
    for (;;) {
      Blank();
      if (!String()) return false;
      Blank();
      if (!Take(':')) return false;
      Blank();
      if (!Value(depth + 1)) return false;
      Blank();
      if (Take('}')) return true;
      if (!Take(',')) return false;
    }
  }
  bool Array(int depth) {
    ++m_i;
    Blank();
    if (Take(']')) return true;
    for (;;) {
      Blank();
      if (!Value(depth + 1)) return false;
      Blank();
      if (Take(']')) return true;
      if (!Take(',')) return false;
    }
  }
  bool String() {
    if (!Take('"')) return false;
    while (m_i < m_s.size()) {
      const auto c = static_cast<unsigned char>(m_s[m_i++]);
      if (c == '"') return true;
      if (c < 0x20) return false;
      if (c == '\\') {
        if (m_i >= m_s.size()) return false;
        const char e = m_s[m_i++];
        if (e == 'u') {
          for (int k = 0; k < 4; ++k)
            if (m_i >= m_s.size() || !std::isxdigit(static_cast<unsigned char>(m_s[m_i++]))) return false;
        } else if (std::string("\"\\/bfnrt").find(e) == std::string::npos) {
          return false;
        }
      }
    }
    return false;
  }
  bool Number() {
    Take('-');
    if (Take('0')) {
    } else if (!Digits()) {
      return false;
    }
    if (Take('.') && !Digits()) return false;
    if (Take('e') || Take('E')) {
      if (!Take('+')) Take('-');
      if (!Digits()) return false;
    }
    return true;
  }
  bool Digits() {
    const size_t start = m_i;
    while (m_i < m_s.size() && m_s[m_i] >= '0' && m_s[m_i] <= '9') ++m_i;
    return m_i > start;
  }
  bool Word(const char* w) {
    const std::string word = w;
    if (m_s.compare(m_i, word.size(), word) != 0) return false;
    m_i += word.size();
    return true;
  }
  bool Take(char c) {
    if (m_i < m_s.size() && m_s[m_i] == c) {
      ++m_i;
      return true;
    }
    return false;
  }
  void Blank() {
    while (m_i < m_s.size() && std::string(" \t\r\n").find(m_s[m_i]) != std::string::npos) ++m_i;
  }
  const std::string& m_s;
  size_t m_i = 0;
};

inline bool IsJson(const std::string& text) { return CJsonChecker(text).Valid(); }

// Whether the text is well-formed UTF-8 (no overlong forms, no surrogates, nothing past U+10FFFF).
inline bool IsUtf8(const std::string& s) {
  for (size_t i = 0; i < s.size();) {
    const auto c = static_cast<unsigned char>(s[i]);
    size_t len = c < 0x80                 ? 1
                 : c >= 0xC2 && c <= 0xDF ? 2
                 : c >= 0xE0 && c <= 0xEF ? 3
                 : c >= 0xF0 && c <= 0xF4 ? 4
                                          : 0;
    if (len == 0 || i + len > s.size()) return false;
    uint32_t cp = len == 1 ? c : c & (0x7F >> len);
    for (size_t k = 1; k < len; ++k) {
      const auto cc = static_cast<unsigned char>(s[i + k]);
      if ((cc & 0xC0) != 0x80) return false;
      cp = (cp << 6) | (cc & 0x3F);
    }
    if ((len == 3 && cp < 0x800) || (len == 4 && cp < 0x10000) || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF))
      return false;
    i += len;
  }
  return true;
}

inline bool HasControl(const std::string& s) {
  for (char ch : s) {
    const auto c = static_cast<unsigned char>(ch);
    if (c < 0x20 || c == 0x7F) return true;
  }
  return false;
}

// Read sizes drawn from a seed: a small generator so that one input always gives the same splits.
class CSplits {
 public:
  explicit CSplits(uint32_t seed) : m_x(seed | 1) {}
  size_t Next(size_t room) {
    m_x ^= m_x << 13;
    m_x ^= m_x >> 17;
    m_x ^= m_x << 5;
    const uint32_t pick = m_x % 8;
    const size_t n = pick < 3 ? 1 + m_x % 7 : pick < 6 ? 1 + m_x % 300 : 1 + m_x % 70000;
    return n < room ? n : room;
  }

 private:
  uint32_t m_x;
};

}  // namespace fuzz
