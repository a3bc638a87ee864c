#pragma once
// What the core may do to the main window: tell it what happened (Report), and the few changes that
// carry no words. The window implements it by queueing each call to its interface thread, so no call
// ever blocks a worker; the terminal front end and the tests implement it too. Every call is safe
// from any thread.

#include <string>

#include "app/ViewEvent.h"

class CMainDialogView {
 public:
  virtual ~CMainDialogView() = default;

  // An event to word and show (ViewEvent.h). Queued, in the order reported.
  virtual void Report(const CViewEvent& event) = 0;

  // The progress bar: shown (a transfer starts), or hidden and set back to its start until the next
  // ShowProgress (the relay upload, before it connects). The bar itself follows the progress events.
  virtual void ShowProgress() = 0;
  virtual void HideProgress() {}

  // Received-files button: shows the count of files the latest upload request stored.
  virtual void SetReceivedCount(int count) = 0;

  // A text a phone sent (UTF-8, at most 64 KiB): shown with a way to copy it.
  virtual void ShowReceivedText(const std::string& text) { (void)text; }
};
