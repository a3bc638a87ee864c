#pragma once
// A main dialog that records every call and every event reported, for tests of the core. Thread-safe.

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

#include "app/MainDialogView.h"

// The event's id as written in the code ("DownloadProgress").
inline const char* EventName(ViewEventId id) {
  static const char* const kNames[] = {
      "DownloadProgress", "UploadProgress",     "RelayProgress",     "FileReceived",  "FileStored",
      "PackingStarted",   "PackingFinished",    "NoFreePort",        "WanFailed",     "WanBehindNat",
      "NoRelaySet",       "RelayFolderRefused", "RelayFileTooLarge", "RelayFailed",   "RelayUnencrypted",
      "NewVersion",       "ProgressShown",      "ProgressReset",     "ReceivedCount", "TextReceived",
  };
  static_assert(sizeof kNames / sizeof kNames[0] == static_cast<size_t>(kLastViewEventId) + 1);
  return kNames[static_cast<int>(id)];
}

class CRecordingMainDialog : public CMainDialogView {
 public:
  void Report(const CViewEvent& event) override {
    std::lock_guard<std::mutex> lock(m_lock);
    m_reports.push_back(event);
    m_events.push_back(Describe(event));
    if (event.Id == ViewEventId::ReceivedCount) m_receivedCounts.push_back(event.Count);
    m_changed.notify_all();
  }

  // Every call, in order: the method's name, or the event as Describe writes it.
  std::vector<std::string> Events() { return Copy(m_events); }
  std::vector<CViewEvent> Reports() { return Copy(m_reports); }
  // The events of one id.
  std::vector<CViewEvent> Reports(ViewEventId id) {
    std::vector<CViewEvent> found;
    for (const CViewEvent& e : Reports())
      if (e.Id == id) found.push_back(e);
    return found;
  }
  // The bytes done of one id's progress events, in order.
  std::vector<int64_t> Progress(ViewEventId id) {
    std::vector<int64_t> done;
    for (const CViewEvent& e : Reports(id)) done.push_back(e.Done);
    return done;
  }
  std::vector<int> ReceivedCounts() { return Copy(m_receivedCounts); }
  // Waits up to 10 s for an event of that id with that many bytes done: a download's last progress
  // is told as the socket delivers it, which may be just after the client has seen the reply end.
  bool WaitFor(ViewEventId id, int64_t done) {
    return WaitUntil(id, [done](int64_t d) { return d == done; });
  }
  // The same for bytes done that pass the test.
  template <class Test>
  bool WaitUntil(ViewEventId id, Test doneTest) {
    std::unique_lock<std::mutex> lock(m_lock);
    return m_changed.wait_for(lock, std::chrono::seconds(10), [&] {
      for (const CViewEvent& e : m_reports)
        if (e.Id == id && doneTest(e.Done)) return true;
      return false;
    });
  }

  // "DownloadProgress 4096/10000", "FileReceived tmp/a.jpg", "PackingFinished 2",
  // "RelayFailed 0000000A 3 reason": the id, then the values it carries.
  static std::string Describe(const CViewEvent& e) {
    std::string text = EventName(e.Id);
    if (!e.Token.empty()) text += " " + e.Token;
    switch (e.Id) {
      case ViewEventId::DownloadProgress:
      case ViewEventId::UploadProgress:
      case ViewEventId::RelayProgress:
        if (!e.Name.empty()) text += " " + e.Name;
        return text + " " + std::to_string(e.Done) + "/" + std::to_string(e.Total);
      case ViewEventId::PackingFinished:
      case ViewEventId::ReceivedCount:
        return text + " " + std::to_string(e.Count);
      case ViewEventId::RelayFailed:
        text += " " + std::to_string(e.Code);
        break;
      default:
        break;
    }
    return e.Name.empty() ? text : text + " " + e.Name;
  }

 private:
  template <class T>
  T Copy(const T& v) {
    std::lock_guard<std::mutex> lock(m_lock);
    return v;
  }

  std::mutex m_lock;
  std::condition_variable m_changed;
  std::vector<CViewEvent> m_reports;
  std::vector<int> m_receivedCounts;
  std::vector<std::string> m_events;
};
