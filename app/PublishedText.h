#pragma once
// A text that one thread replaces whole while others read it: a reader sees the old or the new
// value, never a mix.

#include <mutex>
#include <string>

class CPublishedText {
 public:
  std::string Get() const {
    std::lock_guard<std::mutex> lock(m_lock);
    return m_text;
  }
  void Set(std::string text) {
    std::lock_guard<std::mutex> lock(m_lock);
    m_text = std::move(text);
  }
  bool Empty() const {
    std::lock_guard<std::mutex> lock(m_lock);
    return m_text.empty();
  }

 private:
  mutable std::mutex m_lock;
  std::string m_text;
};
