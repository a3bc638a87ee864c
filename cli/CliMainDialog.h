#pragma once
// The terminal front end's stand-in for the main window: the core's events, worded from the
// terminal's table (TerminalWords), and the progress bar go to stderr, written by a thread of the
// terminal's own (TerminalWriter): a reporting thread never waits for the terminal. Any thread.

#include <atomic>
#include <chrono>
#include <functional>
#include <mutex>
#include <string>

#include "app/MainDialogView.h"
#include "app/UiLanguage.h"
#include "cli/TerminalWriter.h"

class CCliMainDialog : public CMainDialogView {
 public:
  // ProgressReset sets the bar back to 0 (a terminal line cannot be hidden).
  void Report(const CViewEvent& event) override;
  // Relay failures reported so far; main shows no address for such an item.
  int RelayFailures();
  // When set, told of each file stored (FileStored) and text received (TextReceived), on the
  // reporting thread, before the bar moves.
  std::function<void(const CViewEvent& event)> OnReceived;

 private:
  // Each with m_lock held. A caption line starts the bar afresh; a status line does not.
  void PrintCaption(const std::string& text);
  void PrintStatus(const std::string& text);
  void PrintMessage(const std::string& text, const std::string& openAfter);
  void MoveBar(int pos);
  // Whether MoveBar(pos) would draw; callable without m_lock.
  bool BarWouldMove(int pos, std::chrono::steady_clock::time_point now) const;

  const bool m_chinese = UiSpeaksChinese();  // the language, chosen once at start
  std::mutex m_lock;
  std::string m_caption;       // the caption line's text, as shown
  std::string m_savedCaption;  // shown again when the last packing under way ends
  int m_packings = 0;          // packings under way as the core last reported them
  // Read without m_lock; written with it held (ShowProgress only forgets the position).
  std::atomic<int> m_lastPos{-1};
  std::atomic<std::chrono::steady_clock::duration> m_lastShown{};
  std::atomic<bool> m_endShown{false};  // the last line shown was an end (100)
  int m_relayFailures = 0;
  CTerminalWriter m_out;  // last: its thread writes what is queued before the rest goes
};
