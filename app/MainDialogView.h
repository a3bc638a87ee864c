#pragma once
// What a front end is told by the core: events, and only events (ViewEvent.h). The window implements
// it by queueing each event to its interface thread, so no call ever blocks a worker; the terminal
// front end and the tests implement it too. Report is safe from any thread.

#include "app/ViewEvent.h"

class CMainDialogView {
 public:
  virtual ~CMainDialogView() = default;

  // An event to word and show. In the order reported.
  virtual void Report(const CViewEvent& event) = 0;

  // The progress bar's two events, for the places that move it.
  void ShowProgress() { Report({ViewEventId::ProgressShown}); }
  void HideProgress() { Report({ViewEventId::ProgressReset}); }
};
