#include "relay/RelayStore.h"

#include <limits>

bool CRelayStore::Reserve(uint64_t bytes) {
  std::lock_guard<std::mutex> lock(m_lock);
  if (m_capacity != 0 && bytes > m_capacity - m_used) return false;
  m_used += bytes;
  return true;
}

void CRelayStore::Release(uint64_t bytes) {
  std::lock_guard<std::mutex> lock(m_lock);
  m_used -= bytes <= m_used ? bytes : m_used;
}

uint64_t CRelayStore::Used() {
  std::lock_guard<std::mutex> lock(m_lock);
  return m_used;
}

uint64_t CRelayStore::Free() {
  std::lock_guard<std::mutex> lock(m_lock);
  return m_capacity == 0 ? std::numeric_limits<uint64_t>::max() : m_capacity - m_used;
}
