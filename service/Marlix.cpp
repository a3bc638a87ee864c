#include "service/Marlix.h"

#include "app/WorkingDirectory.h"

CMarlix::CMarlix(const std::string& home) { m_state.Home = AbsolutePath(home); }

CMarlix::~CMarlix() {
  m_relay.Stop();
  StopWeb();
  m_state.DeleteTempArchives();
}

bool CMarlix::StartWeb(const std::string& listen, CWebCallbacks callbacks) {
  StopWeb();
  auto web = std::make_unique<CWebService>(m_state, std::move(callbacks));
  if (!web->Start(listen)) return false;
  m_state.PortText = std::to_string(web->Port());
  m_web = std::move(web);
  return true;
}

void CMarlix::StopWeb() {
  if (!m_web) return;
  m_web->Stop();
  m_web.reset();
}
