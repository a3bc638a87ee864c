#include "app/EventChannel.h"

void CEventChannel::Report(const CViewEvent& event) {
  std::lock_guard<std::mutex> lock(m_lock);
  if (m_pView) m_pView->Report(event);
}

void CEventChannel::Attach(CMainDialogView* view) {
  std::lock_guard<std::mutex> lock(m_lock);
  m_pView = view;
}

void CEventChannel::Detach() { Attach(nullptr); }
