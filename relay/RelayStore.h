#pragma once
// The relay's storage budget: the bytes of the files it keeps (stored, or being received) against
// the most it may keep. An upload reserves its size before anything is written and gives it back
// when it fails, or when its file is downloaded or expires. Thread-safe: the request threads and the
// expiry sweep share one.

#include <cstdint>
#include <mutex>

class CRelayStore {
 public:
  // capacity 0: no limit.
  explicit CRelayStore(uint64_t capacity = 0) : m_capacity(capacity) {}

  // Takes bytes from the budget; false (nothing taken) when they do not fit in what is left.
  bool Reserve(uint64_t bytes);
  // Gives back bytes that Reserve took.
  void Release(uint64_t bytes);

  uint64_t Capacity() const { return m_capacity; }
  uint64_t Used();
  // What is left of the capacity; the largest 64-bit value when there is no limit.
  uint64_t Free();

 private:
  const uint64_t m_capacity;
  std::mutex m_lock;
  uint64_t m_used = 0;  // under m_lock
};
