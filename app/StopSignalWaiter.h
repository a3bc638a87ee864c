#pragma once
// The stop signals of a program without a window (SIGINT, SIGTERM): made first in main, before any
// other thread, it blocks them in every thread started from then on and ignores SIGPIPE (a peer that
// hangs up must not end the program). Wait waits on the calling thread; Start waits on a thread of
// its own and runs `onStop` there at the first signal, so that main can go on meanwhile.

#include <signal.h>

#include <atomic>
#include <functional>
#include <thread>

class CStopSignalWaiter {
 public:
  // `reload`: SIGHUP is blocked too, and Wait runs it at each SIGHUP (a service that reads its
  // files again) instead of returning.
  explicit CStopSignalWaiter(std::function<void()> reload = {});
  // Stop().
  ~CStopSignalWaiter();
  CStopSignalWaiter(const CStopSignalWaiter&) = delete;
  CStopSignalWaiter& operator=(const CStopSignalWaiter&) = delete;

  // Returns once a stop signal has arrived (at once if one is pending).
  void Wait();
  // Runs onStop on a thread of its own once a stop signal arrives. False when no thread could start.
  bool Start(std::function<void()> onStop);
  // Ends the waiting thread; when no signal came, onStop does not run. Before what onStop uses goes.
  void Stop();

 private:
  sigset_t m_signals{};
  std::function<void()> m_reload;
  std::thread m_thread;
  std::atomic<bool> m_stopping{false};
};
