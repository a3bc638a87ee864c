#pragma once

struct SharedState;

// How the router port opening ended.
enum class WanSetupResult {
  Mapped,     // the server port is mapped and ExternalAddress holds the router's public address
  Failed,     // no gateway, or it would not map the port (kWanFailedText)
  BehindNat,  // the router's own WAN address is not public: another NAT sits between it and the
              // Internet, so the mapping would reach no phone outside; none is left (kWanBehindNatText)
};

// The router port opening: discover the gateway, remove the program's earlier mappings, map the
// state's server port (up to three attempts) and release. Publishes the state's ExternalAddress only
// when Mapped. When the
// gateway reports an external address that is not public (IsPublicIpv4), the mapping just made is
// removed again; a gateway that refuses to map (501) while its address is not public or not given
// counts as BehindNat too (miniupnpd on a private WAN address reports none and answers 501).
WanSetupResult RunWanSetup(SharedState& state);

// The text that tells the user why the set-up failed; empty for Mapped.
const char* WanSetupFailureText(WanSetupResult result);

// At shutdown: the router mapping this run added goes (UpnpRemoveAddedMapping).
void RemoveWanMapping();

inline constexpr const char* kWanFailedText = "外网直连方式不可用，可能路由器不支持端口映射";
inline constexpr const char* kWanBehindNatText =
    "路由器处在另一层 NAT 之后，外网的手机无法这样连到本机；云中转方式可以";
