#include "net/WanSetup.h"

#include <string>

#include "app/SharedState.h"
#include "net/PublicAddress.h"
#include "net/Upnp.h"

WanSetupResult RunWanSetup(SharedState& state) {
  CUpnpGateway gateway;
  gateway.ClearPortMappings(state.PortText);

  std::string external;
  int result = 0;
  int attempts = 0;
  PortMapping mapping;  // the one the gateway took, if any
  do {
    PortMapping added;
    result = gateway.MapServerPort(state.PortText, external, added);
    if (!added.Port.empty()) mapping = added;
    ++attempts;
  } while ((result != 0 || external.empty()) && attempts < 3);

  // Action Failed: what miniupnpd answers to a mapping on a WAN address that is not public.
  constexpr int kUpnpActionFailed = 501;
  // miniupnpd then reports no external address at all, which counts as not public.
  const bool behindNat = (result == 0 && !external.empty() && !IsPublicIpv4(external)) ||
                         (result == kUpnpActionFailed && !IsPublicIpv4(external));
  // A mapping from an address no phone reaches is of no use to anyone: it goes at once.
  if (behindNat) {
    UpnpRemoveMapping(mapping);
    return WanSetupResult::BehindNat;
  }
  state.SetWanMapping(mapping);

  // An address is handed out only when the port behind it is mapped.
  if (external.empty() || result != 0) return WanSetupResult::Failed;
  state.ExternalAddress.Set(external);
  return WanSetupResult::Mapped;
}

ViewEventId WanSetupFailureEvent(WanSetupResult result) {
  return result == WanSetupResult::BehindNat ? ViewEventId::WanBehindNat : ViewEventId::WanFailed;
}

void RemoveWanMapping(SharedState& state) { UpnpRemoveMapping(state.TakeWanMapping()); }
