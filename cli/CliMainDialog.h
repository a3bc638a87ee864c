#pragma once
// The terminal front end's stand-in for the main window: progress and captions go to stderr.

#include <chrono>
#include <mutex>
#include <string>

#include "app/MainDialogView.h"

class CCliMainDialog : public CMainDialogView {
 public:
  void ShowProgress() override;
  void SetProgressPos(int pos) override;
  void ShowCaption() override {}
  void SetCaption(const std::string& text) override;
  std::string GetCaption() override;
  void SetReceivedCount(int count) override;
  void SetStatus(const std::string& text) override;
  void ShowMessage(const std::string& text, const std::string& openAfter) override;
  // Prints the text and counts the failure; main shows no address for such an item.
  void RelayUploadFailed(const std::string& token, const std::string& text) override;
  int RelayFailures();

 private:
  std::mutex m_lock;
  std::string m_caption;
  int m_lastPos = -1;
  int m_relayFailures = 0;
  std::chrono::steady_clock::time_point m_lastShown{};
};
