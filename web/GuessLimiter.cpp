#include "web/GuessLimiter.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <mutex>
#include <unordered_map>

namespace {

using Clock = std::chrono::steady_clock;

struct CAddressRecord {
  double Score = 0;  // misses not yet forgiven, as of Updated
  Clock::time_point Updated;
  Clock::time_point BlockedUntil;
};

// The shared entry for addresses beyond MaxAddresses: they slow each other, never escape.
const std::string kOverflow = "*";

std::mutex g_lock;  // guards everything below
CGuessLimits g_limits;
std::unordered_map<std::string, CAddressRecord> g_records;

void Forgive(CAddressRecord& r, Clock::time_point now) {
  const double elapsed = std::chrono::duration<double>(now - r.Updated).count();
  r.Score = std::max(0.0, r.Score - elapsed * g_limits.ForgivenPerSecond);
  r.Updated = now;
}

// Drops the addresses that have nothing left against them.
void Prune(Clock::time_point now) {
  for (auto it = g_records.begin(); it != g_records.end();) {
    Forgive(it->second, now);
    if (it->second.Score <= 0 && it->second.BlockedUntil <= now) {
      it = g_records.erase(it);
    } else {
      ++it;
    }
  }
}

// The address's record, made when missing; the shared one when the table is full.
CAddressRecord& RecordOf(const std::string& address, Clock::time_point now) {
  auto it = g_records.find(address);
  if (it != g_records.end()) return it->second;
  if (g_records.size() >= g_limits.MaxAddresses) Prune(now);
  const std::string& key = g_records.size() >= g_limits.MaxAddresses ? kOverflow : address;
  CAddressRecord& r = g_records[key];
  if (r.Updated == Clock::time_point{}) r.Updated = now;
  return r;
}

}  // namespace

bool CGuessLimiter::Admit(const std::string& address) {
  const Clock::time_point now = Clock::now();
  std::lock_guard<std::mutex> lock(g_lock);
  auto it = g_records.find(address);
  // An address without a record of its own is judged by the shared one while the table is full.
  if (it == g_records.end() && g_records.size() >= g_limits.MaxAddresses) it = g_records.find(kOverflow);
  return it == g_records.end() || it->second.BlockedUntil <= now;
}

void CGuessLimiter::RecordMiss(const std::string& address) {
  const Clock::time_point now = Clock::now();
  std::lock_guard<std::mutex> lock(g_lock);
  CAddressRecord& r = RecordOf(address, now);
  Forgive(r, now);
  r.Score += 1;
  const double excess = std::ceil(r.Score - g_limits.FreeMisses);
  if (excess < 1) return;
  const double seconds =
      std::min(g_limits.MaxBlockSeconds, g_limits.FirstBlockSeconds * std::pow(2.0, std::min(excess - 1, 60.0)));
  r.BlockedUntil = std::max(r.BlockedUntil,
                            now + std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(seconds)));
}

void CGuessLimiter::SetLimits(const CGuessLimits& limits) {
  std::lock_guard<std::mutex> lock(g_lock);
  g_limits = limits;
}

void CGuessLimiter::Reset() {
  std::lock_guard<std::mutex> lock(g_lock);
  g_limits = CGuessLimits{};
  g_records.clear();
}

CGuessLimiter& GuessLimiter() {
  static CGuessLimiter limiter;
  return limiter;
}
