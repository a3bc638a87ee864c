#include "cli/CliMainDialog.h"

#include <unistd.h>

#include <algorithm>
#include <cstdio>

#include "cli/TerminalWords.h"

namespace {

// One line per event when stderr is not a terminal, so that logs and tests read it line by line.
bool StderrIsTerminal() {
  static const bool tty = ::isatty(STDERR_FILENO) != 0;
  return tty;
}

}  // namespace

void CCliMainDialog::Report(const CViewEvent& event) {
  if (OnReceived && (event.Id == ViewEventId::FileStored || event.Id == ViewEventId::TextReceived)) OnReceived(event);
  if (event.Id == ViewEventId::ProgressShown) {
    // A transfer starts: its first position is shown even when it equals the last one shown (within
    // the bar's five updates a second).
    m_lastPos = -1;
    return;
  }
  int bar = -1;
  switch (event.Id) {
    case ViewEventId::DownloadProgress:
    case ViewEventId::RelayProgress:
      bar = PercentDone(event);
      break;
    case ViewEventId::UploadProgress:  // 100 is for the stored file
      bar = std::clamp(PercentDone(event), 1, 99);
      break;
    default:
      break;
  }
  if (bar >= 0) {
    // Progress comes in bursts from many transfers at once: what the bar would not show is dropped
    // before the lock.
    if (!BarWouldMove(bar, std::chrono::steady_clock::now())) return;
    std::lock_guard<std::mutex> lock(m_lock);
    MoveBar(bar);
    return;
  }
  const CTerminalWords words = TerminalWords(event, m_chinese);
  std::lock_guard<std::mutex> lock(m_lock);
  switch (event.Id) {
    case ViewEventId::DownloadProgress:  // the bar, above
    case ViewEventId::UploadProgress:
    case ViewEventId::RelayProgress:
      break;
    case ViewEventId::FileReceived:
      PrintCaption(words.Line);
      break;
    case ViewEventId::FileStored:
      MoveBar(100);
      break;
    case ViewEventId::PackingStarted:
      if (m_packings == 0) m_savedCaption = m_caption;
      m_packings = event.Packings;
      PrintCaption(words.Line);
      MoveBar(1);
      break;
    case ViewEventId::PackingFinished: {
      const bool last = m_packings > 0 && event.Packings == 0;
      m_packings = event.Packings;
      if (event.Count > 0) {
        PrintCaption(words.Line);
      } else if (last) {
        PrintCaption(m_savedCaption);
      }
      break;
    }
    case ViewEventId::RelayFailed:  // over the bar's line, which it leaves as it is
      ++m_relayFailures;
      m_out.Write((StderrIsTerminal() ? "\r" : "") + words.Line + "\n");
      break;
    case ViewEventId::WanFailed:
    case ViewEventId::WanBehindNat:
    case ViewEventId::NoRelaySet:
    case ViewEventId::RelayUnencrypted:
    case ViewEventId::RelayFolderRefused:
    case ViewEventId::RelayFileTooLarge:
      PrintStatus(words.Line);
      if (!words.Message.empty()) PrintMessage(words.Message, {});
      break;
    case ViewEventId::NoFreePort:
      PrintMessage(words.Message, {});
      break;
    case ViewEventId::NewVersion:
      PrintMessage(words.Message, event.Name);
      break;
    case ViewEventId::ProgressShown:  // above
    case ViewEventId::TextReceived:   // OnReceived
      break;
    case ViewEventId::ProgressReset:
      MoveBar(0);
      break;
    case ViewEventId::ReceivedCount:
      m_out.Write("received " + std::to_string(event.Count) + "\n");
      break;
  }
}

int CCliMainDialog::RelayFailures() {
  std::lock_guard<std::mutex> lock(m_lock);
  return m_relayFailures;
}

void CCliMainDialog::PrintCaption(const std::string& text) {
  m_caption = text;
  m_lastPos = -1;
  m_out.Write((StderrIsTerminal() ? "\r" : "") + text + "\n");
}

void CCliMainDialog::PrintStatus(const std::string& text) { m_out.Write(text + "\n"); }

void CCliMainDialog::PrintMessage(const std::string& text, const std::string& openAfter) {
  if (openAfter.empty()) {
    m_out.Write(text + "\n");
  } else {
    m_out.Write(text + " " + openAfter + "\n");
  }
}

bool CCliMainDialog::BarWouldMove(int pos, std::chrono::steady_clock::time_point now) const {
  // At most five updates a second, and always the end, unless the last line shown was an end too:
  // a terminal line need not follow every percent, nor every one of many small downloads at once.
  const bool due = now.time_since_epoch() - m_lastShown.load() >= std::chrono::milliseconds(200);
  if (pos >= 100) return !m_endShown || due;
  return pos != m_lastPos && due;
}

void CCliMainDialog::MoveBar(int pos) {
  const auto now = std::chrono::steady_clock::now();
  if (!BarWouldMove(pos, now)) return;
  m_lastPos = pos;
  m_lastShown = now.time_since_epoch();
  m_endShown = pos >= 100;
  if (StderrIsTerminal()) {
    const int filled = pos * 30 / 100;
    char line[64];
    std::snprintf(line, sizeof line, "\r[%-30.*s] %3d%%%s", filled, "##############################", pos,
                  pos >= 100 ? "\n" : "");
    m_out.Write(line, pos < 100);
  } else {
    m_out.Write("progress " + std::to_string(pos) + "\n", pos < 100);
  }
}
