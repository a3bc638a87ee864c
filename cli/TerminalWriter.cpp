#include "cli/TerminalWriter.h"

#include <cstdio>
#include <utility>

namespace {

// Queued text past which droppable lines are left out.
constexpr size_t kBehind = 256;

}  // namespace

CTerminalWriter::CTerminalWriter() : m_thread([this] { Run(); }) {}

CTerminalWriter::~CTerminalWriter() {
  {
    std::lock_guard<std::mutex> hold(m_lock);
    m_stop = true;
  }
  m_changed.notify_one();
  m_thread.join();
}

void CTerminalWriter::Write(std::string text, bool droppable) {
  bool first = false;
  {
    std::lock_guard<std::mutex> hold(m_lock);
    if (droppable && m_queue.size() >= kBehind) return;
    first = m_queue.empty();
    m_queue.push_back(std::move(text));
  }
  // The thread waits only for an empty queue; while it writes, it takes the rest when it is done.
  if (first) m_changed.notify_one();
}

void CTerminalWriter::Run() {
  std::unique_lock<std::mutex> hold(m_lock);
  for (;;) {
    m_changed.wait(hold, [&] { return m_stop || !m_queue.empty(); });
    if (m_queue.empty()) return;  // stopping, all written
    std::deque<std::string> batch;
    batch.swap(m_queue);
    hold.unlock();
    for (const std::string& text : batch) std::fputs(text.c_str(), stderr);
    std::fflush(stderr);
    hold.lock();
  }
}
