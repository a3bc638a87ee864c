#pragma once
// The relay uploads' reference to the sink they report to (the running Marlix's event channel, or a
// test's), which Stop revokes. Upload threads reach it only through Call: once Revoke has returned, no call reaches the
// sink, and Revoke waits for a call in progress (a sink's Report never blocks, so the wait is short).

#include <mutex>

#include "app/MainDialogView.h"

class CRevocableDialog {
 public:
  explicit CRevocableDialog(CMainDialogView* dialog) : m_pDialog(dialog) {}

  template <class F>
  void Call(F&& f) {
    std::lock_guard<std::mutex> lock(m_lock);
    if (m_pDialog) f(*m_pDialog);
  }

  void Revoke() {
    std::lock_guard<std::mutex> lock(m_lock);
    m_pDialog = nullptr;
  }

  bool Refers(const CMainDialogView* dialog) {
    std::lock_guard<std::mutex> lock(m_lock);
    return m_pDialog == dialog;
  }

 private:
  std::mutex m_lock;
  CMainDialogView* m_pDialog;
};
