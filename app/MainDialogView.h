#pragma once
// What the core may do to the main window. The window implements it by queueing each change to its
// interface thread and mirroring what workers read under a lock, so no call ever blocks a worker.
// The terminal front end and the tests implement it too.

#include <string>

class CMainDialogView {
 public:
  virtual ~CMainDialogView() = default;

  // Progress bar (range 0 to 100).
  virtual void ShowProgress() = 0;
  virtual void SetProgressPos(int pos) = 0;
  // Hides the bar until the next ShowProgress (the relay upload hides it before it connects).
  virtual void HideProgress() {}

  // Caption line under the drop area; text is UTF-8.
  virtual void ShowCaption() = 0;
  virtual void SetCaption(const std::string& text) = 0;
  virtual std::string GetCaption() = 0;

  // Received-files button: shows the count of files the latest upload request stored.
  virtual void SetReceivedCount(int count) = 0;

  // Status line at the top of the window.
  virtual void SetStatus(const std::string& text) = 0;

  // The relay upload of the item with this token stored nothing; text says why (the relay's reason).
  // The front end shows it in the place of that item's address and QR code, and stops offering them.
  virtual void RelayUploadFailed(const std::string& token, const std::string& text) {
    (void)token;
    SetStatus(text);
  }

  // A text a phone sent (UTF-8, at most 64 KiB): shown with a way to copy it. Queued like the rest.
  virtual void ShowReceivedText(const std::string& text) { (void)text; }

  // A message box with an OK button. Called on the interface thread it is modal; called from a
  // worker it is queued and the worker goes on. When openAfter is not empty, that address is opened
  // in the desktop's browser once the user has closed the box.
  virtual void ShowMessage(const std::string& text, const std::string& openAfter = {}) = 0;
};
