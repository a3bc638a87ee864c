#pragma once
// Slows the guessing of tokens and of the upload secret, per client address. A request that names
// nothing (an unknown token, a missing or wrong secret) is reported with RecordMiss, and its answer
// is held back while the address is blocked (the connection waits without a thread, and an address
// holds few connections); hits never count, and a request with a live token or the right secret is
// served at once whatever its address's record says.
//
// Each address has a miss score that is forgiven at a steady rate. While the score stays within the
// free misses, nothing slows. Each miss beyond them blocks the address for a time that doubles with
// every further miss (up to a cap); Admit tells whether an address is blocked. Other addresses are
// never affected: the table is bounded, and when it is full the oldest record that is not blocked is
// forgotten (the oldest of all when every record it looks at is blocked), so that a new address always
// gets a record of its own. Thread-safe; the web service owns one and its threads call it. Addresses
// are as ClientAddressKey gives them.

#include <chrono>
#include <cstddef>
#include <list>
#include <mutex>
#include <string>
#include <unordered_map>

struct CGuessLimits {
  double FreeMisses = 10;               // misses allowed at once before anything slows
  double ForgivenPerSecond = 1.0 / 30;  // misses forgiven per second: the long-run guess rate
  double FirstBlockSeconds = 1;         // block after the first miss beyond the free ones
  double MaxBlockSeconds = 3600;        // the doubling stops here
  size_t MaxAddresses = 4096;           // records kept; the oldest go first when the table is full
};

class CGuessLimiter {
 public:
  // False while the address is blocked by its own misses. An address without a record is never blocked.
  bool Admit(const std::string& address);
  // The address asked for something that is not there. Returns how long the address stays blocked
  // (0 while its misses are free): the time its answer to this miss is held back.
  std::chrono::milliseconds RecordMiss(const std::string& address);
  // Records kept at the moment (at most MaxAddresses).
  size_t Tracked();

  // Test hooks: other limits, and forgetting every address.
  void SetLimits(const CGuessLimits& limits);
  void Reset();

 private:
  using Clock = std::chrono::steady_clock;
  struct CAddressRecord {
    double Score = 0;  // misses not yet forgiven, as of Updated
    Clock::time_point Updated;
    Clock::time_point BlockedUntil;
    std::list<std::string>::iterator Age;  // its place in m_byAge
  };
  void Forgive(CAddressRecord& r, Clock::time_point now) const;
  void MakeRoom(Clock::time_point now);

  std::mutex m_lock;  // guards everything below
  CGuessLimits m_limits;
  std::unordered_map<std::string, CAddressRecord> m_records;
  std::list<std::string> m_byAge;  // addresses by their last miss, the oldest first
};
