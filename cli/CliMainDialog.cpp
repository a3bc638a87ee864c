#include "cli/CliMainDialog.h"

#include <unistd.h>

#include <cstdio>

#include "app/UiLanguage.h"

namespace {

// One line per event when stderr is not a terminal, so that logs and tests read it line by line.
bool StderrIsTerminal() {
  static const bool tty = ::isatty(STDERR_FILENO) != 0;
  return tty;
}

}  // namespace

// A transfer starts: its first position is shown whatever came before.
void CCliMainDialog::ShowProgress() {
  std::lock_guard<std::mutex> lock(m_lock);
  m_lastPos = -1;
}

void CCliMainDialog::SetProgressPos(int pos) {
  // At most five updates a second, and always the end: a terminal line need not follow every
  // percent, and many small downloads at once must not queue up behind stderr.
  const auto now = std::chrono::steady_clock::now();
  std::lock_guard<std::mutex> lock(m_lock);
  if (pos == m_lastPos) return;
  if (pos < 100 && m_lastPos >= 0 && now - m_lastShown < std::chrono::milliseconds(200)) return;
  m_lastPos = pos;
  m_lastShown = now;
  if (StderrIsTerminal()) {
    const int filled = pos * 30 / 100;
    std::fprintf(stderr, "\r[%-30.*s] %3d%%%s", filled, "##############################", pos, pos >= 100 ? "\n" : "");
  } else {
    std::fprintf(stderr, "progress %d\n", pos);
  }
  std::fflush(stderr);
}

void CCliMainDialog::SetCaption(const std::string& text) {
  std::lock_guard<std::mutex> lock(m_lock);
  m_caption = text;
  m_lastPos = -1;
  std::fprintf(stderr, "%s%s\n", StderrIsTerminal() ? "\r" : "", ShownCoreText(text).c_str());
  std::fflush(stderr);
}

std::string CCliMainDialog::GetCaption() {
  std::lock_guard<std::mutex> lock(m_lock);
  return m_caption;
}

void CCliMainDialog::SetReceivedCount(int count) {
  std::lock_guard<std::mutex> lock(m_lock);
  std::fprintf(stderr, "received %d\n", count);
  std::fflush(stderr);
}

void CCliMainDialog::SetStatus(const std::string& text) {
  std::lock_guard<std::mutex> lock(m_lock);
  std::fprintf(stderr, "%s\n", ShownCoreText(text).c_str());
  std::fflush(stderr);
}

void CCliMainDialog::ShowMessage(const std::string& text, const std::string& openAfter) {
  std::lock_guard<std::mutex> lock(m_lock);
  const std::string shown = ShownCoreText(text);
  if (openAfter.empty()) {
    std::fprintf(stderr, "%s\n", shown.c_str());
  } else {
    std::fprintf(stderr, "%s %s\n", shown.c_str(), openAfter.c_str());
  }
  std::fflush(stderr);
}

void CCliMainDialog::RelayUploadFailed(const std::string&, const std::string& text) {
  std::lock_guard<std::mutex> lock(m_lock);
  ++m_relayFailures;
  std::fprintf(stderr, "%s%s\n", StderrIsTerminal() ? "\r" : "", ShownCoreText(text).c_str());
  std::fflush(stderr);
}

int CCliMainDialog::RelayFailures() {
  std::lock_guard<std::mutex> lock(m_lock);
  return m_relayFailures;
}
