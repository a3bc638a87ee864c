#include "service/ShareSession.h"

#include <system_error>

#include "app/SharedState.h"
#include "net/LocalAddress.h"
#include "service/Marlix.h"
#include "service/ServiceConfig.h"
#include "service/ServiceSession.h"

CSessionOperations RealSessionOperations() {
  CSessionOperations operations;
  operations.FindAddress = [](SharedState& state) { DiscoverLocalAddress(state); };
  operations.RelayUpload = [](CMarlix& marlix, const CSharedItem& item) { return marlix.Relay().Upload(item); };
  operations.StartupWork = [](SharedState& state, CMainDialogView& events, const CStopFlag& stop) {
    ServiceSignIn(state, events, &stop);
    if (!stop) DiscoverLocalAddress(state);
  };
  operations.SignOut = [](const SharedState& state) { ServiceSignOut(state); };
  return operations;
}

CShareSession::CShareSession(CMarlix& marlix) : m_marlix(marlix), m_state(marlix.State()) {}

CShareSession::~CShareSession() { End(); }

bool CShareSession::StartWorker() {
  if (m_worker.joinable() || m_ended) return false;
  try {
    m_worker = std::thread(
        [work = m_operations.StartupWork, state = &m_state, stop = &m_stop] { work(*state, state->Events, *stop); });
  } catch (const std::system_error&) {
    return false;
  }
  return true;
}

CSharedItem CShareSession::Share(const std::string& path) {
  const CSharedItem item = ShareItem(m_state, path);
  m_items.push_back(item);
  ShowItem(m_items.size() - 1);
  return item;
}

CSharedItem CShareSession::ShareText(const std::string& text, int& error) {
  const CSharedItem item = ::ShareText(m_state, text, error);
  if (item.Token.empty()) return item;
  m_items.push_back(item);
  ShowItem(m_items.size() - 1);
  return item;
}

bool CShareSession::ShowItem(size_t index) {
  if (index >= m_items.size()) return false;
  m_current = m_items[index];
  // Something handed over on the upload page is meant for the phone: the download page shows it.
  m_page = PageMode::Share;
  return true;
}

void CShareSession::SelectMode(ReachMode mode) { m_state.SelectedMode = mode; }

CShareViewState CShareSession::Code(ShareView view, const std::string& address) {
  m_address = address;
  ShowAddress(m_state, address);
  return {view, address};
}

CShareViewState CShareSession::NoCode(ShareView view) {
  ClearAddress();
  return {view, {}};
}

void CShareSession::ClearAddress() {
  m_address.clear();
  ShowAddress(m_state, {});
}

CShareViewState CShareSession::ShowSharePage(ReachMode mode) {
  m_page = PageMode::Share;
  m_mode = mode;
  if (mode == ReachMode::None) return {};
  if (m_current.Token.empty()) return NoCode(ShareView::DropPrompt);
  if (mode == ReachMode::Cloud) {
    if (!RelayConfigured(m_state)) return NoCode(ShareView::NoRelaySet);
    if (!m_relayTried.count(m_current.Token) && m_operations.RelayUpload(m_marlix, m_current))
      m_relayTried.insert(m_current.Token);
  }
  if (mode == ReachMode::Lan && m_state.LocalAddress.Empty()) m_operations.FindAddress(m_state);
  const std::string address = ItemAddress(m_state, mode, m_current);
  if (!address.empty()) return Code(ShareView::ItemCode, address);
  return NoCode(mode == ReachMode::Wan ? ShareView::NoExternalAddress : ShareView::NoNetwork);
}

CShareViewState CShareSession::ShowUploadPage(ReachMode mode) {
  m_page = PageMode::Upload;
  m_mode = mode;
  if (mode == ReachMode::None) return {};
  if (mode == ReachMode::Cloud) return NoCode(ShareView::CloudUploadRefused);
  if (mode == ReachMode::Lan && m_state.LocalAddress.Empty()) m_operations.FindAddress(m_state);
  const std::string address = UploadPageAddress(m_state, mode);
  if (!address.empty()) return Code(ShareView::UploadCode, address);
  return NoCode(mode == ReachMode::Wan ? ShareView::NoExternalAddress : ShareView::NoNetwork);
}

CShareViewState CShareSession::Refresh() {
  return m_page == PageMode::Upload ? ShowUploadPage(m_mode) : ShowSharePage(m_mode);
}

void CShareSession::ChooseAddress(const std::string& address) {
  m_state.ChosenAddress.Set(address);
  m_state.LocalAddress.Set(address);
}

bool CShareSession::PortOpened(WanSetupResult outcome) {
  // Mapped without an address counts as failed.
  m_portOpen = m_portOpen || (outcome == WanSetupResult::Mapped && !m_state.ExternalAddress.Empty());
  return m_portOpen;
}

bool CShareSession::RelayFailed(const std::string& token) {
  m_relayTried.erase(token);
  if (token.empty() || token != m_current.Token) return false;  // an earlier item's: its link is gone already
  if (m_page == PageMode::Share && m_mode == ReachMode::Cloud) ClearAddress();
  return true;
}

void CShareSession::RequestStop() {
  m_stop.Set();
  m_marlix.Relay().Stop();
}

void CShareSession::End() {
  if (m_ended) return;
  m_ended = true;
  m_stop.Set();  // the start-up worker's network call ends now
  m_marlix.StopWeb();
  RemoveWanMapping(m_state);  // the router port this run opened closes with the program
  m_state.ClearItems();
  RemoveSharedTexts(m_state);
  // Both end at once; once joined, the state tells whether the relay left a call unanswered, which
  // the sign-out's time goes by.
  m_marlix.Relay().Stop();
  if (m_worker.joinable()) m_worker.join();
  m_operations.SignOut(m_state);
  m_state.DeleteTempArchives();
}
