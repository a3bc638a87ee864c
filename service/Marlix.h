#pragma once
// One running Marlix: its state (items, addresses, mode, secret, counts), its working directory, its
// web service and its relay uploads. A front end makes one and gives it to whatever needs it; nothing reaches it
// through a global, so several can run in one process on their own ports and working directories.
// Made, started and stopped on the front end's thread; the web service's threads read the state.

#include <memory>
#include <string>

#include "app/SharedState.h"
#include "service/CloudRelay.h"
#include "web/WebService.h"

class CMarlix {
 public:
  // `home` is the working directory, laid out already (PrepareWorkingDirectory); it is kept as an
  // absolute path.
  explicit CMarlix(const std::string& home);
  // Ends the relay uploads, stops the web service and deletes this run's folder archives.
  ~CMarlix();
  CMarlix(const CMarlix&) = delete;
  CMarlix& operator=(const CMarlix&) = delete;

  SharedState& State() { return m_state; }
  const std::string& Home() const { return m_state.Home; }

  // Starts the web service on the listen text (see CWebService::Start) with the front end's
  // callbacks; the state's PortText becomes the port it listens on. False when it cannot listen.
  bool StartWeb(const std::string& listen, CWebCallbacks callbacks = {});
  // Ends every connection and the web service, waiting for its handlers. Nothing when none runs.
  void StopWeb();
  // The running web service, or null.
  CWebService* Web() { return m_web.get(); }
  // The relay uploads; their threads end with this object.
  CCloudRelay& Relay() { return m_relay; }

 private:
  SharedState m_state;
  std::unique_ptr<CWebService> m_web;
  CCloudRelay m_relay{m_state};  // after the state, which its threads count in
};
