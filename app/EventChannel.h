#pragma once
// The one way from the core to a front end: every thread of a running Marlix (web handlers, relay
// uploads, the start-up worker) reports its events here, and the channel hands them to the front end
// that is attached. Before Attach and after Detach, events go nowhere. Owned by the running Marlix's
// state, so it outlives every thread that reports to it.

#include <mutex>

#include "app/MainDialogView.h"

class CEventChannel : public CMainDialogView {
 public:
  // Any thread. Reaches the attached front end, or nobody.
  void Report(const CViewEvent& event) override;
  // The front end that is told from now on (it must stay until Detach). Front end's thread.
  void Attach(CMainDialogView* view);
  // No event reaches the front end once this has returned; it waits for a report in progress (a
  // front end's Report never blocks, so the wait is short).
  void Detach();

 private:
  std::mutex m_lock;
  CMainDialogView* m_pView = nullptr;
};
