#include "net/LocalAddress.h"

#include <arpa/inet.h>
#include <ifaddrs.h>
#include <net/if.h>
#include <netinet/in.h>

#include <cstdlib>
#include <set>

#include "app/SharedState.h"

namespace {

// Every IPv4 address in the system's order; with firstOnly, each adapter once with its first one.
// With v6, the IPv6 addresses that a phone can be given follow (not link-local: those need a zone);
// with linkLocal6, the link-local ones too, each with its zone.
std::vector<AdapterAddress> ListAddresses(bool firstOnly, bool v6 = false, bool linkLocal6 = false) {
  std::vector<AdapterAddress> adapters;
  ifaddrs* list = nullptr;
  if (::getifaddrs(&list) != 0) return adapters;
  std::set<std::string> seen;
  for (const ifaddrs* it = list; it; it = it->ifa_next) {
    if (!it->ifa_addr || it->ifa_addr->sa_family != AF_INET || !it->ifa_name) continue;
    // An alias label ("eth0:1") belongs to its adapter.
    std::string name = it->ifa_name;
    if (const size_t colon = name.find(':'); colon != std::string::npos) name.resize(colon);
    if (firstOnly && !seen.insert(name).second) continue;
    char text[INET_ADDRSTRLEN] = {};
    const auto* in = reinterpret_cast<const sockaddr_in*>(it->ifa_addr);
    if (!::inet_ntop(AF_INET, &in->sin_addr, text, sizeof text)) continue;
    adapters.push_back({name, text, (it->ifa_flags & IFF_LOOPBACK) != 0});
  }
  for (const ifaddrs* it = list; v6 && it; it = it->ifa_next) {
    if (!it->ifa_addr || it->ifa_addr->sa_family != AF_INET6 || !it->ifa_name) continue;
    const auto* in6 = reinterpret_cast<const sockaddr_in6*>(it->ifa_addr);
    const bool linkLocal = IN6_IS_ADDR_LINKLOCAL(&in6->sin6_addr);
    if ((linkLocal && !linkLocal6) || IN6_IS_ADDR_V4MAPPED(&in6->sin6_addr)) continue;
    char text[INET6_ADDRSTRLEN] = {};
    if (!::inet_ntop(AF_INET6, &in6->sin6_addr, text, sizeof text)) continue;
    adapters.push_back({it->ifa_name, linkLocal ? std::string(text) + "%" + it->ifa_name : std::string(text),
                        (it->ifa_flags & IFF_LOOPBACK) != 0});
  }
  ::freeifaddrs(list);
  return adapters;
}

bool IsAssigned(const AdapterAddress& adapter) {
  if (adapter.loopback || adapter.address.empty() || adapter.address[0] == '0') return false;
  in_addr value{};
  return ::inet_pton(AF_INET, adapter.address.c_str(), &value) == 1 && value.s_addr != 0;
}

bool IsLinkLocal(const std::string& address) { return address.rfind("169.254.", 0) == 0; }

// fe80::/10, in any letter case.
bool IsLinkLocal6(const std::string& address) {
  if (address.size() < 4 || address.find(':') == std::string::npos) return false;
  const std::string head = address.substr(0, 4);
  const unsigned long value = std::strtoul(head.c_str(), nullptr, 16);
  return head.find(':') == std::string::npos && (value & 0xFFC0) == 0xFE80;
}

}  // namespace

std::vector<AdapterAddress> ListAdapterAddresses() { return ListAddresses(true); }

std::vector<AdapterAddress> ListLocalAddresses() { return ListAddresses(false, true); }

std::vector<AdapterAddress> ListAllAddresses() { return ListAddresses(false, true, true); }

std::vector<AdapterAddress> PhoneReachableAddresses(const std::vector<AdapterAddress>& all) {
  std::vector<AdapterAddress> routable, linkLocal;
  for (const AdapterAddress& a : all) {
    if (a.loopback || a.address.empty()) continue;
    (IsLinkLocal(a.address) || IsLinkLocal6(a.address) ? linkLocal : routable).push_back(a);
  }
  return routable.empty() ? linkLocal : routable;
}

bool IsVirtualInterface(const std::string& name) {
  static const char* const kPrefixes[] = {"docker", "br-", "virbr", "veth", "vboxnet", "vmnet", "tun", "tap"};
  for (const char* prefix : kPrefixes)
    if (name.rfind(prefix, 0) == 0) return true;
  return false;
}

std::string ChooseLocalAddress(const std::vector<AdapterAddress>& adapters) {
  for (const AdapterAddress& adapter : adapters)
    if (IsAssigned(adapter) && !IsLinkLocal(adapter.address) && !IsVirtualInterface(adapter.name))
      return adapter.address;
  for (const AdapterAddress& adapter : adapters)
    if (IsAssigned(adapter)) return adapter.address;
  return {};
}

bool IsLocalAddress(const std::string& address) {
  for (const AdapterAddress& a : ListLocalAddresses())
    if (a.address == address) return true;
  return false;
}

void DiscoverLocalAddress(SharedState& state) {
  const std::string chosen = state.ChosenAddress.Get();
  const std::string address =
      !chosen.empty() && IsLocalAddress(chosen) ? chosen : ChooseLocalAddress(ListAdapterAddresses());
  if (!address.empty()) state.LocalAddress.Set(address);
}
