#include "app/StopSignalWaiter.h"

#include <pthread.h>

#include <system_error>

CStopSignalWaiter::CStopSignalWaiter(std::function<void()> reload) : m_reload(std::move(reload)) {
  sigemptyset(&m_signals);
  sigaddset(&m_signals, SIGINT);
  sigaddset(&m_signals, SIGTERM);
  if (m_reload) sigaddset(&m_signals, SIGHUP);
  pthread_sigmask(SIG_BLOCK, &m_signals, nullptr);
  signal(SIGPIPE, SIG_IGN);
}

CStopSignalWaiter::~CStopSignalWaiter() { Stop(); }

void CStopSignalWaiter::Stop() {
  if (!m_thread.joinable()) return;
  m_stopping = true;
  pthread_kill(m_thread.native_handle(), SIGTERM);  // pending in that thread only: its sigwait takes it
  m_thread.join();
}

void CStopSignalWaiter::Wait() {
  int sig = 0;
  while (sigwait(&m_signals, &sig) == 0 && sig == SIGHUP) m_reload();
}

bool CStopSignalWaiter::Start(std::function<void()> onStop) {
  try {
    m_thread = std::thread([this, onStop = std::move(onStop)] {
      Wait();
      if (!m_stopping) onStop();
    });
  } catch (const std::system_error&) {
    return false;
  }
  return true;
}
