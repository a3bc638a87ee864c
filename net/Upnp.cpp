#include "net/Upnp.h"

#include <arpa/inet.h>
#include <miniupnpc/miniupnpc.h>
#include <miniupnpc/upnpcommands.h>

#include <cctype>
#include <cstdio>
#include <string>
#include <vector>

#include "app/SharedState.h"

namespace {

// The state of one set-up, from the discovery to the release.
struct GatewayState {
  UPNPDev* GatewayDeviceList = nullptr;
  UPNPUrls GatewayUrls{};
  IGDdatas GatewayData{};
  char GatewayLanAddress[64] = {};
  bool Valid = false;  // a gateway was chosen and GatewayUrls are filled
};

GatewayState g_Gateway;

// The mapping this run added, with what the set-up learnt of the gateway to remove it again at
// shutdown without a second discovery. Kept past UpnpRelease; empty port when none was added.
struct AddedMapping {
  std::string ControlUrl;
  std::string ServiceType;
  std::string Port;
};
AddedMapping g_Added;

// An entry of the gateway's mapping table, as far as the clearing needs it.
struct MappingEntry {
  std::string ExternalPort;
  std::string Protocol;
  std::string InternalClient;
  std::string Description;
};

// A walk of the table stops here even if a faulty gateway keeps answering.
constexpr int kMaxListedEntries = 4096;

bool ControlAddressKnown() {
  return g_Gateway.Valid && g_Gateway.GatewayUrls.controlURL && g_Gateway.GatewayUrls.controlURL[0];
}

const char* ControlUrl() { return g_Gateway.GatewayUrls.controlURL; }
const char* ServiceType() { return g_Gateway.GatewayData.first.servicetype; }

void FreeGatewayState() {
  FreeUPNPUrls(&g_Gateway.GatewayUrls);  // null records are fine
  if (g_Gateway.GatewayDeviceList) freeUPNPDevlist(g_Gateway.GatewayDeviceList);
  g_Gateway = GatewayState{};
}

// The public address goes into URLs that phones open: only a dotted IPv4 address is taken.
bool IsDottedIpv4(const char* text) {
  in_addr addr{};
  return text[0] && inet_pton(AF_INET, text, &addr) == 1;
}

}  // namespace

bool UpnpNormaliseProtocol(const std::string& text, std::string& canonical) {
  if (text.size() < 3 || (text.size() > 3 && text[3] != ' ')) return false;
  std::string head;
  for (int i = 0; i < 3; ++i) head += static_cast<char>(std::toupper(static_cast<unsigned char>(text[i])));
  if (head != "TCP" && head != "UDP") return false;
  canonical = head;
  return true;
}

int UpnpDiscoverGateway() {
  // The socket layer needs no start-up here; a set-up that was not released is dropped first.
  FreeGatewayState();
  int error = 0;
  // One multicast search for Internet gateway devices with a 2000 ms wait. (The library's general
  // discovery would search four device types one after the other, 8 s in all without a gateway.)
  g_Gateway.GatewayDeviceList = upnpDiscoverDevice("urn:schemas-upnp-org:device:InternetGatewayDevice:1", 2000, nullptr,
                                                   nullptr, UPNP_LOCAL_PORT_ANY, 0, 2, &error);
  if (!g_Gateway.GatewayDeviceList) {
    std::fputs("No IGD UPnP Device found on the network !\n", stderr);
    return 0;
  }
  // Any verdict counts: a gateway that judges its public address reserved is answered with 2.
  const int verdict = UPNP_GetValidIGD(g_Gateway.GatewayDeviceList, &g_Gateway.GatewayUrls, &g_Gateway.GatewayData,
                                       g_Gateway.GatewayLanAddress, sizeof g_Gateway.GatewayLanAddress);
  if (verdict != 0) {
    g_Gateway.Valid = true;
  } else {
    std::fputs("No valid UPNP Internet Gateway Device found.\n", stderr);
  }
  return 0;
}

int UpnpClearPortMappings(const std::string& port) {
  std::vector<MappingEntry> entries;
  for (int index = 0; index < kMaxListedEntries; ++index) {
    if (!ControlAddressKnown()) return -1;
    char extPort[8] = {}, intClient[64] = {}, intPort[8] = {}, protocol[8] = {}, desc[96] = {}, enabled[8] = {},
         remoteHost[72] = {}, duration[24] = {};
    const std::string indexText = std::to_string(index);
    if (UPNP_GetGenericPortMappingEntry(ControlUrl(), ServiceType(), indexText.c_str(), extPort, intClient, intPort,
                                        protocol, desc, enabled, remoteHost, duration) != 0)
      break;
    entries.push_back({extPort, protocol, intClient, desc});
  }

  // Only the program's own mappings of the server port to this PC go; others' entries stay.
  for (const MappingEntry& entry : entries) {
    if (entry.Description != kUpnpMappingDescription || entry.ExternalPort != port ||
        entry.InternalClient != g_Gateway.GatewayLanAddress)
      continue;
    std::string protocol;
    if (!UpnpNormaliseProtocol(entry.Protocol, protocol)) {
      std::fputs("protocol invalid\n", stderr);
      continue;
    }
    if (protocol != "TCP") continue;  // the program maps TCP only
    UPNP_DeletePortMapping(ControlUrl(), ServiceType(), entry.ExternalPort.c_str(), protocol.c_str(), nullptr);
  }
  return 0;
}

int UpnpMapServerPort(const std::string& port, std::string& externalAddress) {
  std::string protocol;
  UpnpNormaliseProtocol("TCP", protocol);

  char address[40] = {};
  if (ControlAddressKnown() && UPNP_GetExternalIPAddress(ControlUrl(), ServiceType(), address) == 0 &&
      IsDottedIpv4(address)) {
    externalAddress = address;
  } else {
    std::fputs("GetExternalIPAddress failed.\n", stdout);
    std::fflush(stdout);
  }

  if (!ControlAddressKnown()) {
    std::fputs("invalid protocol\n", stderr);
    return kUpnpNoGateway;
  }

  const int added =
      UPNP_AddPortMapping(ControlUrl(), ServiceType(), port.c_str(), port.c_str(), g_Gateway.GatewayLanAddress,
                          kUpnpMappingDescription, protocol.c_str(), nullptr, "0");
  if (added != 0) return added;
  g_Added = {ControlUrl(), ServiceType(), port};

  char intClient[64] = {}, intPort[8] = {}, desc[96] = {}, enabled[8] = {}, duration[24] = {};
  return UPNP_GetSpecificPortMappingEntry(ControlUrl(), ServiceType(), port.c_str(), protocol.c_str(), nullptr,
                                          intClient, intPort, desc, enabled, duration);
}

int UpnpRelease() {
  FreeGatewayState();
  return 0;
}

int UpnpRemoveAddedMapping() {
  if (g_Added.Port.empty()) return 0;
  const int result = UPNP_DeletePortMapping(g_Added.ControlUrl.c_str(), g_Added.ServiceType.c_str(),
                                            g_Added.Port.c_str(), "TCP", nullptr);
  g_Added = AddedMapping{};
  return result;
}
