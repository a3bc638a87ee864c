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

 private:
  std::mutex m_lock;
  std::string m_caption;
  int m_lastPos = -1;
  std::chrono::steady_clock::time_point m_lastShown{};
};
