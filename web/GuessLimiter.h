#pragma once
// Slows the guessing of tokens, per client address. Every "/f", "/d" and "/z" request asks Admit
// first; a token that names nothing is reported with RecordMiss. Hits never count.
//
// Each address has a miss score that is forgiven at a steady rate. While the score stays within the
// free misses, nothing slows. Each miss beyond them blocks the address for a time that doubles with
// every further miss (up to a cap); while blocked, its token requests are refused without a look-up
// and answered as unknown tokens are. Other addresses are not affected. Thread-safe; the web
// service owns one and its threads call it. Addresses are as ClientAddressKey gives them.

#include <chrono>
#include <cstddef>
#include <mutex>
#include <string>
#include <unordered_map>

struct CGuessLimits {
  double FreeMisses = 10;               // misses allowed at once before anything slows
  double ForgivenPerSecond = 1.0 / 30;  // misses forgiven per second: the long-run guess rate
  double FirstBlockSeconds = 1;         // block after the first miss beyond the free ones
  double MaxBlockSeconds = 3600;        // the doubling stops here
  size_t MaxAddresses = 4096;           // addresses tracked; beyond them one shared entry
};

class CGuessLimiter {
 public:
  // True when a token request from the address may be looked up.
  bool Admit(const std::string& address);
  // The address asked for a token that names nothing.
  void RecordMiss(const std::string& address);

  // Test hooks: other limits, and forgetting every address.
  void SetLimits(const CGuessLimits& limits);
  void Reset();

 private:
  using Clock = std::chrono::steady_clock;
  struct CAddressRecord {
    double Score = 0;  // misses not yet forgiven, as of Updated
    Clock::time_point Updated;
    Clock::time_point BlockedUntil;
  };
  void Forgive(CAddressRecord& r, Clock::time_point now) const;
  void Prune(Clock::time_point now);
  CAddressRecord& RecordOf(const std::string& address, Clock::time_point now);

  std::mutex m_lock;  // guards everything below
  CGuessLimits m_limits;
  std::unordered_map<std::string, CAddressRecord> m_records;
};
