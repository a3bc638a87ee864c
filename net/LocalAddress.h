#pragma once
#include <string>
#include <vector>

// One address of a network adapter as the system lists it.
struct AdapterAddress {
  std::string name;     // the interface ("wlan0"); an alias label's ":N" is dropped
  std::string address;  // dotted IPv4 text, or IPv6 text
  bool loopback = false;
};

// The adapters with an IPv4 address, in the system's order, each once with its first address.
// The one platform call of the discovery (getifaddrs here).
std::vector<AdapterAddress> ListAdapterAddresses();
// Every IPv4 address of every adapter, in the system's order, loopback included, then the IPv6
// addresses that are not link-local: what the user may pick from (the service listens on both).
std::vector<AdapterAddress> ListLocalAddresses();

// Every address of every adapter, IPv4 then IPv6, loopback and link-local ones included; an IPv6
// link-local address carries its zone ("fe80::1%wlan0"), without which it names no interface.
std::vector<AdapterAddress> ListAllAddresses();
// The addresses of a list that a phone on the network can be given: no loopback; link-local ones
// (169.254.0.0/16, fe80::/10) only when the list has nothing else. In the list's order.
std::vector<AdapterAddress> PhoneReachableAddresses(const std::vector<AdapterAddress>& all);

// Interfaces a phone on the network cannot reach the PC through: container and virtual-machine
// bridges, virtual pairs and tunnels, by their usual names.
bool IsVirtualInterface(const std::string& name);

// The address the discovery picks from a list: the first adapter, in the list's order, that is not
// loopback, whose address is assigned (neither 0 nor beginning with the digit 0), not link-local
// (169.254.0.0/16) and not on a virtual interface. When no adapter is such, the first assigned
// non-loopback address all the same. Empty when there is none at all.
std::string ChooseLocalAddress(const std::vector<AdapterAddress>& adapters);

// True when the text is one of the addresses ListLocalAddresses gives.
bool IsLocalAddress(const std::string& address);

// Publishes the PC's address on its local network whole in the state's LocalAddress: the address the user chose
// (ChosenAddress) while it is one of the PC's addresses, else the discovery's pick. Leaves
// LocalAddress unchanged when there is none. Any thread.
struct SharedState;
void DiscoverLocalAddress(SharedState& state);
