#pragma once

#include "app/ViewEvent.h"

struct SharedState;

// How the router port opening ended.
enum class WanSetupResult {
  Mapped,     // the server port is mapped and ExternalAddress holds the router's public address
  Failed,     // no gateway, or it would not map the port
  BehindNat,  // the router's own WAN address is not public: another NAT sits between it and the
              // Internet, so the mapping would reach no phone outside; none is left
};

// The router port opening: discover the gateway, remove the program's earlier mappings, map the
// state's server port (up to three attempts) and release. Publishes the state's ExternalAddress only
// when Mapped, and keeps any mapping the gateway took in the state for the shutdown. When the gateway reports an
// external address that is not public (IsPublicIpv4), the mapping just made is removed again; a gateway that refuses to
// map (501) while its address is not public or not given counts as BehindNat too (miniupnpd on a private WAN address
// reports none and answers 501).
WanSetupResult RunWanSetup(SharedState& state);

// The event that tells the user why the set-up failed (WanFailed or WanBehindNat); not for Mapped.
ViewEventId WanSetupFailureEvent(WanSetupResult result);

// At shutdown: the router mapping this run added goes (UpnpRemoveMapping), without a new discovery.
void RemoveWanMapping(SharedState& state);
