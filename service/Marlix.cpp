#include "service/Marlix.h"

#include "app/WorkingDirectory.h"

CMarlix::CMarlix(const CMarlixConfig& config) : m_config(config) {
  m_state.Home = AbsolutePath(config.Home);
  m_state.ConfiguredRelay.Set(config.Relay);
  m_state.ConfiguredUploadHost.Set(config.UploadHost);
  m_state.HttpDiagnostics = config.HttpDiagnostics;
  m_state.TrustedCertificateFile = config.TrustedCertificateFile;
  m_state.TrustedCertificateFolder = config.TrustedCertificateFolder;
}

CMarlix::CMarlix(const std::string& home) : CMarlix(CMarlixConfig{.Home = home}) {}

CMarlix::~CMarlix() { m_session.End(); }

bool CMarlix::StartWeb(const std::string& listen) {
  StopWeb();
  auto web = std::make_unique<CWebService>(m_state);
  if (!web->Start(listen)) return false;
  m_state.PortText = std::to_string(web->Port());
  m_web = std::move(web);
  return true;
}

bool CMarlix::StartWebOnFreePort(PortRange range) {
  for (int i = 0; i < range.Count; ++i) {
    const int port = range.First + i;
    if (ProbePort(port) && StartWeb(std::to_string(port))) return true;
  }
  return false;
}

void CMarlix::StopWeb() {
  if (!m_web) return;
  m_web->Stop();
  m_web.reset();
}
