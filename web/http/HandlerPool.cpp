#include "web/http/HandlerPool.h"

#include <new>
#include <system_error>
#include <utility>

CHandlerPool::CHandlerPool(size_t threads, size_t queueLimit)
    : m_limit(threads > 0 ? threads : 1), m_queueLimit(queueLimit) {}

CHandlerPool::~CHandlerPool() { Stop(); }

bool CHandlerPool::Submit(std::function<void()> work) {
  std::unique_lock<std::mutex> hold(m_lock);
  if (m_stopping || m_queue.size() >= m_queueLimit + m_idle) return false;
  try {
    m_queue.push_back(std::move(work));
  } catch (const std::bad_alloc&) {
    return false;
  }
  if (m_idle > 0 || m_threads.size() >= m_limit) {
    hold.unlock();
    m_changed.notify_one();
    return true;
  }
  // Every thread is busy and the limit is not reached: one more. A refused thread leaves the work
  // to the threads there are, or refuses it when there are none.
  try {
    m_threads.emplace_back([this] { Run(); });
  } catch (const std::system_error&) {
    if (!m_threads.empty()) return true;
    m_queue.pop_back();
    return false;
  } catch (const std::bad_alloc&) {
    if (!m_threads.empty()) return true;
    m_queue.pop_back();
    return false;
  }
  return true;
}

void CHandlerPool::Run() {
  std::unique_lock<std::mutex> hold(m_lock);
  for (;;) {
    ++m_idle;
    m_changed.wait(hold, [&] { return m_stopping || !m_queue.empty(); });
    --m_idle;
    if (m_queue.empty()) return;  // stopping, and nothing left to end
    std::function<void()> work = std::move(m_queue.front());
    m_queue.pop_front();
    hold.unlock();
    work();
    work = nullptr;  // what the work holds goes before the lock is taken again
    hold.lock();
  }
}

void CHandlerPool::Stop() {
  std::vector<std::thread> threads;
  {
    std::lock_guard<std::mutex> hold(m_lock);
    m_stopping = true;
    threads.swap(m_threads);
  }
  m_changed.notify_all();
  for (std::thread& t : threads) t.join();
  std::lock_guard<std::mutex> hold(m_lock);
  m_queue.clear();
}

size_t CHandlerPool::Threads() {
  std::lock_guard<std::mutex> hold(m_lock);
  return m_threads.size();
}
