#include "web/GuessLimiter.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <mutex>

namespace {

// The shared entry for addresses beyond MaxAddresses: they slow each other, never escape.
const std::string kOverflow = "*";

}  // namespace

void CGuessLimiter::Forgive(CAddressRecord& r, Clock::time_point now) const {
  const double elapsed = std::chrono::duration<double>(now - r.Updated).count();
  r.Score = std::max(0.0, r.Score - elapsed * m_limits.ForgivenPerSecond);
  r.Updated = now;
}

// Drops the addresses that have nothing left against them.
void CGuessLimiter::Prune(Clock::time_point now) {
  for (auto it = m_records.begin(); it != m_records.end();) {
    Forgive(it->second, now);
    if (it->second.Score <= 0 && it->second.BlockedUntil <= now) {
      it = m_records.erase(it);
    } else {
      ++it;
    }
  }
}

// The address's record, made when missing; the shared one when the table is full.
CGuessLimiter::CAddressRecord& CGuessLimiter::RecordOf(const std::string& address, Clock::time_point now) {
  auto it = m_records.find(address);
  if (it != m_records.end()) return it->second;
  if (m_records.size() >= m_limits.MaxAddresses) Prune(now);
  const std::string& key = m_records.size() >= m_limits.MaxAddresses ? kOverflow : address;
  CAddressRecord& r = m_records[key];
  if (r.Updated == Clock::time_point{}) r.Updated = now;
  return r;
}

bool CGuessLimiter::Admit(const std::string& address) {
  const Clock::time_point now = Clock::now();
  std::lock_guard<std::mutex> lock(m_lock);
  auto it = m_records.find(address);
  // An address without a record of its own is judged by the shared one while the table is full.
  if (it == m_records.end() && m_records.size() >= m_limits.MaxAddresses) it = m_records.find(kOverflow);
  return it == m_records.end() || it->second.BlockedUntil <= now;
}

void CGuessLimiter::RecordMiss(const std::string& address) {
  const Clock::time_point now = Clock::now();
  std::lock_guard<std::mutex> lock(m_lock);
  CAddressRecord& r = RecordOf(address, now);
  Forgive(r, now);
  r.Score += 1;
  const double excess = std::ceil(r.Score - m_limits.FreeMisses);
  if (excess < 1) return;
  const double seconds =
      std::min(m_limits.MaxBlockSeconds, m_limits.FirstBlockSeconds * std::pow(2.0, std::min(excess - 1, 60.0)));
  r.BlockedUntil = std::max(r.BlockedUntil,
                            now + std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(seconds)));
}

void CGuessLimiter::SetLimits(const CGuessLimits& limits) {
  std::lock_guard<std::mutex> lock(m_lock);
  m_limits = limits;
}

void CGuessLimiter::Reset() {
  std::lock_guard<std::mutex> lock(m_lock);
  m_limits = CGuessLimits{};
  m_records.clear();
}
