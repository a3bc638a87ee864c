#pragma once
// The router port mapping over UPnP (miniupnpc): find the Internet gateway device, remove the
// program's earlier mappings, map the server port (TCP, to this PC) and learn the public
// address. One CUpnpGateway is one set-up, from the discovery to the release; its calls block.

#include <memory>
#include <string>

#include "app/SharedState.h"

// No gateway control address is known (or the socket layer failed).
inline constexpr int kUpnpNoGateway = -1100;

// The description that marks the program's own mappings on the gateway.
inline constexpr const char* kUpnpMappingDescription = "Marlix";

class CUpnpGateway {
 public:
  // SSDP discovery (2000 ms wait) and the choice of a valid gateway. Whether or not one was found
  // shows later as a known control address.
  CUpnpGateway();
  ~CUpnpGateway();  // frees the gateway record
  CUpnpGateway(const CUpnpGateway&) = delete;
  CUpnpGateway& operator=(const CUpnpGateway&) = delete;

  // Lists the gateway's mapping table and deletes the program's own earlier mappings of the server
  // port (description "Marlix", TCP, external port `port`, this PC as internal client). Other
  // entries stay. Returns -1 when no gateway control address is known, else 0.
  int ClearPortMappings(const std::string& port);

  // Asks for the public address (copied into externalAddress when the gateway reports a valid one,
  // otherwise left as it was) and maps `port` to this PC. Returns 0 when the mapping was added and
  // then found on the gateway, the gateway's or the library's failure code otherwise, or
  // kUpnpNoGateway without a gateway control address. A mapping the gateway took is told in `added`
  // (empty port otherwise), whatever the check after it found.
  int MapServerPort(const std::string& port, std::string& externalAddress, PortMapping& added);

 private:
  struct Record;
  std::unique_ptr<Record> m_record;
};

// Deletes a mapping that MapServerPort added, at the gateway it names (no new discovery; one SOAP
// call). Returns 0 when there was none (empty port), else the gateway's or the library's result. A
// mapping left by a run that did not end normally goes at the next set-up's clearing.
int UpnpRemoveMapping(const PortMapping& mapping);

// True when the text names TCP or UDP: its first three characters are T, C, P or U, D, P in either
// case and the fourth is the end or a blank. canonical becomes "TCP" or "UDP".
bool UpnpNormaliseProtocol(const std::string& text, std::string& canonical);
