#pragma once
// A stop that reaches whoever waits for something outside the program: once Set (from any thread),
// it reads as set, and every call blocked meanwhile is woken at once by the waker it registered
// (an HTTP request wakes its transfer loop), so that nothing has to look at the flag now and then.
// Owned by whoever may stop the work (the share session, the relay uploads); it must outlive the
// calls that watch it.

#include <atomic>
#include <functional>
#include <mutex>
#include <vector>

class CStopFlag {
 public:
  CStopFlag() = default;
  CStopFlag(const CStopFlag&) = delete;
  CStopFlag& operator=(const CStopFlag&) = delete;

  bool IsSet() const { return m_set.load(); }
  explicit operator bool() const { return IsSet(); }
  // Sets the flag and runs every registered waker, on the calling thread. Any thread.
  void Set();
  // Unsets it: work started from now on runs again. Any thread.
  void Clear() { m_set = false; }

  // While it lives, `wake` runs at each Set. A waker runs under the flag's lock: it must be quick and
  // never block (curl_multi_wakeup is). Once the registration is gone, its waker never runs again.
  class CWaking {
   public:
    CWaking(const CStopFlag& flag, std::function<void()> wake);
    ~CWaking();
    CWaking(const CWaking&) = delete;
    CWaking& operator=(const CWaking&) = delete;

   private:
    const CStopFlag& m_flag;
    std::function<void()> m_wake;
  };

 private:
  std::atomic<bool> m_set{false};
  mutable std::mutex m_lock;
  mutable std::vector<const std::function<void()>*> m_wakers;
};
