#include "app/StopFlag.h"

#include <algorithm>

void CStopFlag::Set() {
  std::lock_guard<std::mutex> lock(m_lock);
  m_set = true;
  for (const std::function<void()>* wake : m_wakers) (*wake)();
}

CStopFlag::CWaking::CWaking(const CStopFlag& flag, std::function<void()> wake) : m_flag(flag), m_wake(std::move(wake)) {
  std::lock_guard<std::mutex> lock(m_flag.m_lock);
  m_flag.m_wakers.push_back(&m_wake);
}

CStopFlag::CWaking::~CWaking() {
  std::lock_guard<std::mutex> lock(m_flag.m_lock);
  auto& wakers = m_flag.m_wakers;
  wakers.erase(std::remove(wakers.begin(), wakers.end(), &m_wake), wakers.end());
}
