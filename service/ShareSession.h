#pragma once
// The share session of one running Marlix (CMarlix owns it): the items shared in this run and the
// current one, the page and the reach mode in view, the address choice, the address shown with its
// QR code ("1.bmp"), the current item's relay upload, the start-up work (sign-in, then the local
// address) and the shutdown order. A front end tells it what the user did and draws the view it
// answers with; it keeps no copy of this flow and writes none of its fields.
// Driven on the front end's thread; the start-up worker runs on a thread of its own.

#include <functional>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "app/Modes.h"
#include "app/StopFlag.h"
#include "net/WanSetup.h"
#include "service/ShareFlow.h"

class CMarlix;
class CMainDialogView;
struct SharedState;

// What the front end shows for the page and mode in view.
enum class ShareView {
  Unchanged,           // no mode is chosen: the view stays as it is
  DropPrompt,          // the download page without an item: the prompt to drop one
  ItemCode,            // the current item's code (Address, written as "1.bmp")
  UploadCode,          // the upload page's code (Address, written as "1.bmp")
  NoNetwork,           // no local address: no code
  NoRelaySet,          // the cloud mode without a relay: no code
  NoExternalAddress,   // the Internet mode without an external address (the port is not open): no code
  CloudUploadRefused,  // the upload page in the cloud mode: phones cannot upload through the relay
};

struct CShareViewState {
  ShareView View = ShareView::Unchanged;
  std::string Address;  // the address shown, for the two codes
};

// The operations of the session that reach outside the program; each starts as the real one, and a
// front end's tests may replace them.
struct CSessionOperations {
  // Looks for the local address (DiscoverLocalAddress).
  std::function<void(SharedState& state)> FindAddress;
  // Starts the relay upload of an item (CCloudRelay::Upload); true when the item counts as tried.
  std::function<bool(CMarlix& marlix, const CSharedItem& item)> RelayUpload;
  // The start-up work, on its own thread: sign-in (its events to `events`), then the local address;
  // the stop flag's Set ends it at once.
  std::function<void(SharedState& state, CMainDialogView& events, const CStopFlag& stop)> StartupWork;
  // The sign-out at the end (ServiceSignOut).
  std::function<void(const SharedState& state)> SignOut;
};
CSessionOperations RealSessionOperations();

class CShareSession {
 public:
  explicit CShareSession(CMarlix& marlix);
  // End().
  ~CShareSession();
  CShareSession(const CShareSession&) = delete;
  CShareSession& operator=(const CShareSession&) = delete;

  CSessionOperations& Operations() { return m_operations; }

  // Starts the start-up worker (sign-in, then the local address). False when the system refused a
  // thread: the address is then looked for when a view needs it.
  bool StartWorker();

  // A file or folder (full path), or a text, becomes an item of this run and the current one; the
  // text's `error` as ShareText says. The item's token is empty when nothing was shared.
  CSharedItem Share(const std::string& path);
  CSharedItem ShareText(const std::string& text, int& error);
  // An item shared earlier in this run (by its place in Items) becomes the current one again; its
  // relay upload is not started again (unless it failed).
  bool ShowItem(size_t index);
  const std::vector<CSharedItem>& Items() const { return m_items; }
  // The current item; its token is empty before the first share.
  const CSharedItem& Current() const { return m_current; }

  // The page in view, and the reach mode of the last view.
  PageMode Page() const { return m_page; }
  ReachMode Mode() const { return m_mode; }
  // The mode the user has checked (None when none is): the web service's replies follow it.
  void SelectMode(ReachMode mode);
  // The view of the download page in a mode (Unchanged for None). On the LAN it looks for the local
  // address while there is none; in the cloud mode it starts the current item's relay upload, once
  // per item however often its page is shown.
  CShareViewState ShowSharePage(ReachMode mode);
  // The view of the upload page in a mode (the cloud mode refuses it).
  CShareViewState ShowUploadPage(ReachMode mode);
  // The page and mode in view again (after an address appeared or changed).
  CShareViewState Refresh();
  // No code: the address shown goes, with its "1.bmp".
  void ClearAddress();
  // The address shown, or empty.
  const std::string& Address() const { return m_address; }

  // The local address the user picked: used from now on.
  void ChooseAddress(const std::string& address);

  // The router port opening's outcome (RunWanSetup, run by the front end where it can wait): true
  // when an external address was mapped. Once it is, the Internet mode needs no opening again.
  bool PortOpened(WanSetupResult outcome);
  bool PortOpen() const { return m_portOpen; }

  // The relay stored nothing for an item (RelayFailed): its next view in the cloud mode uploads it
  // again, and when it is the current one, the address goes. True when it was the current item.
  bool RelayFailed(const std::string& token);

  // The end of the session, in this order: the start-up worker told to stop, the web service
  // stopped, the router mapping removed, the items forgotten, the texts removed, the relay uploads
  // ended and joined, the start-up worker joined, the sign-out, the folder archives deleted. Once.
  void End();
  bool Ended() const { return m_ended; }
  // The stop flag of the start-up work and of whatever the front end waits for meanwhile; End sets it.
  const CStopFlag& StopFlag() const { return m_stop; }
  // Sets the stop flag from any thread (a stop signal): the sign-in and the relay uploads end at once,
  // wherever they wait, and the uploads' threads are joined.
  void RequestStop();

 private:
  CShareViewState Code(ShareView view, const std::string& address);
  CShareViewState NoCode(ShareView view);

  CMarlix& m_marlix;
  SharedState& m_state;
  CSessionOperations m_operations = RealSessionOperations();
  std::vector<CSharedItem> m_items;
  CSharedItem m_current;
  PageMode m_page = PageMode::Share;
  ReachMode m_mode = ReachMode::Lan;
  std::string m_address;
  std::set<std::string> m_relayTried;  // tokens whose relay upload has started (or cannot)
  bool m_portOpen = false;
  bool m_ended = false;
  CStopFlag m_stop;
  std::thread m_worker;
};
