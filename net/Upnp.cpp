#include "net/Upnp.h"

#include <arpa/inet.h>
#include <miniupnpc/miniupnpc.h>
#include <miniupnpc/upnpcommands.h>

#include <cctype>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "app/SharedState.h"

// The gateway record of one set-up, from the discovery to the release.
struct CUpnpGateway::Record {
  UPNPDev* GatewayDeviceList = nullptr;
  UPNPUrls GatewayUrls{};
  IGDdatas GatewayData{};
  char GatewayLanAddress[64] = {};
  bool Valid = false;  // a gateway was chosen and GatewayUrls are filled

  bool ControlAddressKnown() const { return Valid && GatewayUrls.controlURL && GatewayUrls.controlURL[0]; }
  const char* ControlUrl() const { return GatewayUrls.controlURL; }
  const char* ServiceType() const { return GatewayData.first.servicetype; }
};

namespace {

// An entry of the gateway's mapping table, as far as the clearing needs it.
struct MappingEntry {
  std::string ExternalPort;
  std::string Protocol;
  std::string InternalClient;
  std::string Description;
};

// A walk of the table stops here even if a faulty gateway keeps answering.
constexpr int kMaxListedEntries = 4096;

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

CUpnpGateway::CUpnpGateway() : m_record(std::make_unique<Record>()) {
  int error = 0;
  // One multicast search for Internet gateway devices with a 2000 ms wait. (The library's general
  // discovery would search four device types one after the other, 8 s in all without a gateway.)
  m_record->GatewayDeviceList = upnpDiscoverDevice("urn:schemas-upnp-org:device:InternetGatewayDevice:1", 2000, nullptr,
                                                   nullptr, UPNP_LOCAL_PORT_ANY, 0, 2, &error);
  if (!m_record->GatewayDeviceList) {
    std::fputs("No IGD UPnP Device found on the network !\n", stderr);
    return;
  }
  // Any verdict counts: a gateway that judges its public address reserved is answered with 2.
  const int verdict = UPNP_GetValidIGD(m_record->GatewayDeviceList, &m_record->GatewayUrls, &m_record->GatewayData,
                                       m_record->GatewayLanAddress, sizeof m_record->GatewayLanAddress);
  if (verdict != 0) {
    m_record->Valid = true;
  } else {
    std::fputs("No valid UPNP Internet Gateway Device found.\n", stderr);
  }
}

CUpnpGateway::~CUpnpGateway() {
  FreeUPNPUrls(&m_record->GatewayUrls);  // null records are fine
  if (m_record->GatewayDeviceList) freeUPNPDevlist(m_record->GatewayDeviceList);
}

int CUpnpGateway::ClearPortMappings(const std::string& port) {
  const Record& g = *m_record;
  std::vector<MappingEntry> entries;
  for (int index = 0; index < kMaxListedEntries; ++index) {
    if (!g.ControlAddressKnown()) return -1;
    char extPort[8] = {}, intClient[64] = {}, intPort[8] = {}, protocol[8] = {}, desc[96] = {}, enabled[8] = {},
         remoteHost[72] = {}, duration[24] = {};
    const std::string indexText = std::to_string(index);
    if (UPNP_GetGenericPortMappingEntry(g.ControlUrl(), g.ServiceType(), indexText.c_str(), extPort, intClient, intPort,
                                        protocol, desc, enabled, remoteHost, duration) != 0)
      break;
    entries.push_back({extPort, protocol, intClient, desc});
  }

  // Only the program's own mappings of the server port to this PC go; others' entries stay.
  for (const MappingEntry& entry : entries) {
    if (entry.Description != kUpnpMappingDescription || entry.ExternalPort != port ||
        entry.InternalClient != g.GatewayLanAddress)
      continue;
    std::string protocol;
    if (!UpnpNormaliseProtocol(entry.Protocol, protocol)) {
      std::fputs("protocol invalid\n", stderr);
      continue;
    }
    if (protocol != "TCP") continue;  // the program maps TCP only
    UPNP_DeletePortMapping(g.ControlUrl(), g.ServiceType(), entry.ExternalPort.c_str(), protocol.c_str(), nullptr);
  }
  return 0;
}

int CUpnpGateway::MapServerPort(const std::string& port, std::string& externalAddress, PortMapping& added) {
  const Record& g = *m_record;
  added = PortMapping{};
  std::string protocol;
  UpnpNormaliseProtocol("TCP", protocol);

  char address[40] = {};
  if (g.ControlAddressKnown() && UPNP_GetExternalIPAddress(g.ControlUrl(), g.ServiceType(), address) == 0 &&
      IsDottedIpv4(address)) {
    externalAddress = address;
  } else {
    std::fputs("GetExternalIPAddress failed.\n", stdout);
    std::fflush(stdout);
  }

  if (!g.ControlAddressKnown()) {
    std::fputs("invalid protocol\n", stderr);
    return kUpnpNoGateway;
  }

  const int result = UPNP_AddPortMapping(g.ControlUrl(), g.ServiceType(), port.c_str(), port.c_str(),
                                         g.GatewayLanAddress, kUpnpMappingDescription, protocol.c_str(), nullptr, "0");
  if (result != 0) return result;
  added = {g.ControlUrl(), g.ServiceType(), port};

  char intClient[64] = {}, intPort[8] = {}, desc[96] = {}, enabled[8] = {}, duration[24] = {};
  return UPNP_GetSpecificPortMappingEntry(g.ControlUrl(), g.ServiceType(), port.c_str(), protocol.c_str(), nullptr,
                                          intClient, intPort, desc, enabled, duration);
}

int UpnpRemoveMapping(const PortMapping& mapping) {
  if (mapping.Port.empty()) return 0;
  return UPNP_DeletePortMapping(mapping.ControlUrl.c_str(), mapping.ServiceType.c_str(), mapping.Port.c_str(), "TCP",
                                nullptr);
}
