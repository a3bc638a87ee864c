#pragma once
// The progress events of one transfer, thinned out: an event only when the transfer reaches a new
// whole percent of its total (and for its first position), so that a transfer queues at most about a
// hundred of them however small its pieces. Owned by the thread that moves the transfer.

#include <cstdint>
#include <string>
#include <utility>

#include "app/ViewEvent.h"

class CTransferProgress {
 public:
  // `event` names the transfer (its Id, and Name or Token); total is its length in bytes. With no
  // known total (0 or less) nothing is reported.
  CTransferProgress(CViewEvent event, int64_t total) : m_event(std::move(event)) { m_event.Total = total; }

  // A new transfer under the same reporter (the next file part): its name, and its first position
  // is reported again.
  void Restart(const std::string& name) {
    m_event.Name = name;
    m_lastPercent = -1;
  }

  // The event to report now that `done` bytes are through, or null when its whole percent is the
  // one reported last.
  const CViewEvent* Advance(int64_t done) {
    if (m_event.Total <= 0) return nullptr;
    m_event.Done = done;
    const int percent = PercentDone(m_event);
    if (percent == m_lastPercent) return nullptr;
    m_lastPercent = percent;
    return &m_event;
  }

 private:
  CViewEvent m_event;
  int m_lastPercent = -1;
};
