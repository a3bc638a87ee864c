#pragma once
// Writes the terminal front end's lines to stderr on a thread of its own, so that a thread that
// reports an event (a server thread, a handler) never waits for a slow terminal or a full pipe.
// Lines keep their order. While the terminal is far behind, droppable lines (the bar's moves) are
// left out; the others are always written. Write from any thread; the destructor writes what is
// queued and joins the thread.

#include <condition_variable>
#include <deque>
#include <mutex>
#include <string>
#include <thread>

class CTerminalWriter {
 public:
  CTerminalWriter();
  ~CTerminalWriter();
  CTerminalWriter(const CTerminalWriter&) = delete;
  CTerminalWriter& operator=(const CTerminalWriter&) = delete;

  void Write(std::string text, bool droppable = false);

 private:
  void Run();

  std::mutex m_lock;  // guards the members below
  std::condition_variable m_changed;
  std::deque<std::string> m_queue;
  bool m_stop = false;
  std::thread m_thread;  // last: started once the rest is ready
};
