#pragma once
// A fixed set of threads that run the handlers' work which may wait (for a request body, the disk at
// length, a folder walk). Threads are made as work comes, never more than the limit, and kept until
// Stop. Work beyond the threads waits in a queue of bounded length; past it, or when the system
// refuses a thread or memory, Submit says no and the caller answers "busy" at once.
// Submit from any thread; Stop from the owner's thread, once no more work is submitted.

#include <condition_variable>
#include <cstddef>
#include <deque>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

class CHandlerPool {
 public:
  CHandlerPool(size_t threads, size_t queueLimit);
  ~CHandlerPool();
  CHandlerPool(const CHandlerPool&) = delete;
  CHandlerPool& operator=(const CHandlerPool&) = delete;

  // Queues the work; false (the work dropped) when the queue is full, no thread runs and none can be
  // made, or the pool has stopped.
  bool Submit(std::function<void()> work);
  // Lets the queued and running work end (it sees the owner's stop flag) and joins every thread.
  void Stop();
  // Threads made so far (at most the limit).
  size_t Threads();

 private:
  void Run();

  const size_t m_limit;
  const size_t m_queueLimit;
  std::mutex m_lock;  // guards the members below
  std::condition_variable m_changed;
  std::deque<std::function<void()>> m_queue;
  std::vector<std::thread> m_threads;
  size_t m_idle = 0;  // threads waiting for work
  bool m_stopping = false;
};
