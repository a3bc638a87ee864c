#include "web/GuessLimiter.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <mutex>

namespace {

// How many of the oldest records a full table looks at for one that is not blocked, so that a miss
// costs the same however many addresses are blocked.
constexpr size_t kEvictionLook = 64;

}  // namespace

void CGuessLimiter::Forgive(CAddressRecord& r, Clock::time_point now) const {
  const double elapsed = std::chrono::duration<double>(now - r.Updated).count();
  r.Score = std::max(0.0, r.Score - elapsed * m_limits.ForgivenPerSecond);
  r.Updated = now;
}

// Forgets one record: the oldest that is not blocked among the oldest few, else the oldest.
void CGuessLimiter::MakeRoom(Clock::time_point now) {
  auto victim = m_byAge.begin();
  size_t looked = 0;
  for (auto it = m_byAge.begin(); it != m_byAge.end() && looked < kEvictionLook; ++it, ++looked) {
    if (m_records.find(*it)->second.BlockedUntil <= now) {
      victim = it;
      break;
    }
  }
  if (victim == m_byAge.end()) return;
  m_records.erase(*victim);
  m_byAge.erase(victim);
}

bool CGuessLimiter::Admit(const std::string& address) {
  const Clock::time_point now = Clock::now();
  std::lock_guard<std::mutex> lock(m_lock);
  const auto it = m_records.find(address);
  return it == m_records.end() || it->second.BlockedUntil <= now;
}

std::chrono::milliseconds CGuessLimiter::RecordMiss(const std::string& address) {
  const Clock::time_point now = Clock::now();
  std::lock_guard<std::mutex> lock(m_lock);
  auto it = m_records.find(address);
  if (it == m_records.end()) {
    while (!m_records.empty() && m_records.size() >= std::max<size_t>(m_limits.MaxAddresses, 1)) MakeRoom(now);
    it = m_records.emplace(address, CAddressRecord{}).first;
    it->second.Updated = now;
    it->second.Age = m_byAge.insert(m_byAge.end(), address);
  } else {
    m_byAge.splice(m_byAge.end(), m_byAge, it->second.Age);
  }
  CAddressRecord& r = it->second;
  Forgive(r, now);
  r.Score += 1;
  const double excess = std::ceil(r.Score - m_limits.FreeMisses);
  if (excess >= 1) {
    const double seconds =
        std::min(m_limits.MaxBlockSeconds, m_limits.FirstBlockSeconds * std::pow(2.0, std::min(excess - 1, 60.0)));
    r.BlockedUntil = std::max(
        r.BlockedUntil, now + std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(seconds)));
  }
  return r.BlockedUntil > now ? std::chrono::ceil<std::chrono::milliseconds>(r.BlockedUntil - now)
                              : std::chrono::milliseconds{0};
}

size_t CGuessLimiter::Tracked() {
  std::lock_guard<std::mutex> lock(m_lock);
  return m_records.size();
}

void CGuessLimiter::SetLimits(const CGuessLimits& limits) {
  std::lock_guard<std::mutex> lock(m_lock);
  m_limits = limits;
}

void CGuessLimiter::Reset() {
  std::lock_guard<std::mutex> lock(m_lock);
  m_limits = CGuessLimits{};
  m_records.clear();
  m_byAge.clear();
}
