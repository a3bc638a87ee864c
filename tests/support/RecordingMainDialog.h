#pragma once
// A main dialog that records every call, for tests of the core. Thread-safe.

#include <mutex>
#include <string>
#include <vector>

#include "app/MainDialogView.h"

class CRecordingMainDialog : public CMainDialogView {
 public:
  void ShowProgress() override { Record("ShowProgress"); }
  void SetProgressPos(int pos) override {
    std::lock_guard<std::mutex> lock(m_lock);
    m_progress.push_back(pos);
    m_events.push_back("SetProgressPos " + std::to_string(pos));
  }
  void ShowCaption() override { Record("ShowCaption"); }
  void SetCaption(const std::string& text) override {
    std::lock_guard<std::mutex> lock(m_lock);
    m_caption = text;
    m_captions.push_back(text);
    m_events.push_back("SetCaption " + text);
  }
  std::string GetCaption() override {
    std::lock_guard<std::mutex> lock(m_lock);
    return m_caption;
  }
  void SetReceivedCount(int count) override {
    std::lock_guard<std::mutex> lock(m_lock);
    m_receivedCounts.push_back(count);
    m_events.push_back("SetReceivedCount " + std::to_string(count));
  }
  void SetStatus(const std::string& text) override {
    std::lock_guard<std::mutex> lock(m_lock);
    m_statuses.push_back(text);
    m_events.push_back("SetStatus " + text);
  }
  void RelayUploadFailed(const std::string& token, const std::string& text) override {
    Record("RelayUploadFailed " + token + " " + text);
  }
  void ShowMessage(const std::string& text, const std::string& openAfter) override {
    std::lock_guard<std::mutex> lock(m_lock);
    m_messages.push_back(text);
    m_opened.push_back(openAfter);
    m_events.push_back("ShowMessage " + text);
  }

  void SetCaptionText(const std::string& text) {
    std::lock_guard<std::mutex> lock(m_lock);
    m_caption = text;
  }
  std::vector<int> Progress() { return Copy(m_progress); }
  std::vector<std::string> Captions() { return Copy(m_captions); }
  std::vector<int> ReceivedCounts() { return Copy(m_receivedCounts); }
  std::vector<std::string> Statuses() { return Copy(m_statuses); }
  std::vector<std::string> Messages() { return Copy(m_messages); }
  std::vector<std::string> Opened() { return Copy(m_opened); }
  std::vector<std::string> Events() { return Copy(m_events); }

 private:
  void Record(const std::string& event) {
    std::lock_guard<std::mutex> lock(m_lock);
    m_events.push_back(event);
  }
  template <class T>
  T Copy(const T& v) {
    std::lock_guard<std::mutex> lock(m_lock);
    return v;
  }

  std::mutex m_lock;
  std::string m_caption;
  std::vector<int> m_progress;
  std::vector<std::string> m_captions;
  std::vector<int> m_receivedCounts;
  std::vector<std::string> m_statuses;
  std::vector<std::string> m_messages;
  std::vector<std::string> m_opened;
  std::vector<std::string> m_events;
};
