#include "net/LocalAddress.h"

#include <arpa/inet.h>
#include <ifaddrs.h>
#include <net/if.h>
#include <netinet/in.h>

#include <set>

#include "app/SharedState.h"

std::vector<AdapterAddress> ListAdapterAddresses() {
  std::vector<AdapterAddress> adapters;
  ifaddrs* list = nullptr;
  if (::getifaddrs(&list) != 0) return adapters;
  std::set<std::string> seen;
  for (const ifaddrs* it = list; it; it = it->ifa_next) {
    if (!it->ifa_addr || it->ifa_addr->sa_family != AF_INET || !it->ifa_name) continue;
    // An alias label ("eth0:1") belongs to its adapter; only the adapter's first address counts.
    std::string name = it->ifa_name;
    if (const size_t colon = name.find(':'); colon != std::string::npos) name.resize(colon);
    if (!seen.insert(name).second) continue;
    char text[INET_ADDRSTRLEN] = {};
    const auto* in = reinterpret_cast<const sockaddr_in*>(it->ifa_addr);
    if (!::inet_ntop(AF_INET, &in->sin_addr, text, sizeof text)) continue;
    adapters.push_back({name, text, (it->ifa_flags & IFF_LOOPBACK) != 0});
  }
  ::freeifaddrs(list);
  return adapters;
}

std::string ChooseLocalAddress(const std::vector<AdapterAddress>& adapters) {
  for (const AdapterAddress& adapter : adapters) {
    if (adapter.loopback || adapter.address.empty() || adapter.address[0] == '0') continue;
    in_addr value{};
    if (::inet_pton(AF_INET, adapter.address.c_str(), &value) != 1 || value.s_addr == 0) continue;
    return adapter.address;
  }
  return {};
}

void DiscoverLocalAddress() {
  const std::string address = ChooseLocalAddress(ListAdapterAddresses());
  if (!address.empty()) g_State.LocalAddress.Set(address);
}
