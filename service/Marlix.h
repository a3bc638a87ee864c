#pragma once
// One running Marlix: its state (items, addresses, mode, secret, counts, the event channel), its
// working directory, its web service, its relay uploads and its share session, made from its
// configuration. A front end makes one and gives it to whatever needs it; nothing reaches it
// through a global, so several can run in one process on their own ports and working directories.
// Made, started and stopped on the front end's thread; the web service's threads read the state.

#include <memory>
#include <string>

#include "app/MarlixConfig.h"
#include "app/PortChoice.h"
#include "app/SharedState.h"
#include "service/CloudRelay.h"
#include "service/ShareSession.h"
#include "web/WebService.h"

class CMarlix {
 public:
  // The configuration's working directory is laid out already (PrepareWorkingDirectory); it is kept
  // as an absolute path.
  explicit CMarlix(const CMarlixConfig& config);
  // A Marlix with the configuration's defaults in that working directory.
  explicit CMarlix(const std::string& home);
  // Ends the share session (CShareSession::End), if the front end has not.
  ~CMarlix();
  CMarlix(const CMarlix&) = delete;
  CMarlix& operator=(const CMarlix&) = delete;

  SharedState& State() { return m_state; }
  // The configuration it was made with.
  const CMarlixConfig& Config() const { return m_config; }
  const std::string& Home() const { return m_state.Home; }

  // Starts the web service on the listen text (see CWebService::Start); the state's PortText becomes
  // the port it listens on. False when it cannot listen.
  bool StartWeb(const std::string& listen);
  // Starts the web service on the first port of the range that it can listen on, passing over a port
  // that looked free but was taken in between (another program starting at the same moment). False
  // when it can listen on none.
  bool StartWebOnFreePort(PortRange range = kServerPorts);
  // Ends every connection and the web service, waiting for its handlers. Nothing when none runs.
  void StopWeb();
  // The running web service, or null.
  CWebService* Web() { return m_web.get(); }
  // The relay uploads; their threads end with this object.
  CCloudRelay& Relay() { return m_relay; }
  // The share session: what the front end shows, and the shutdown order.
  CShareSession& Session() { return m_session; }

 private:
  const CMarlixConfig m_config;
  SharedState m_state;
  std::unique_ptr<CWebService> m_web;
  CCloudRelay m_relay{m_state};  // after the state, which its threads count in
  CShareSession m_session{*this};
};
