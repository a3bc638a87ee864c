#pragma once
#include <string>
#include <vector>

// One network adapter as the system lists it, with the text of its first IPv4 address.
struct AdapterAddress {
  std::string name;
  std::string address;  // dotted IPv4 text
  bool loopback = false;
};

// The adapters with an IPv4 address, in the system's order, each once with its first address.
// The one platform call of the discovery (getifaddrs here).
std::vector<AdapterAddress> ListAdapterAddresses();

// The address the discovery picks from a list: the first adapter that is not loopback and whose
// address is assigned (neither 0 nor beginning with the digit 0). Empty when none is.
std::string ChooseLocalAddress(const std::vector<AdapterAddress>& adapters);

// Finds the PC's IPv4 address on its local network and publishes it whole in LocalAddress; leaves it
// unchanged when none is found.
void DiscoverLocalAddress();
