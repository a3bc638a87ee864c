#pragma once
// Client addresses as the web layer counts them.

#include <string>

struct sockaddr;

// "192.168.1.5" or "2001:db8::7"; an IPv4 address reached over an IPv6 socket as plain IPv4.
std::string ClientAddressText(const sockaddr* address);
// The key limits and caps count by: an IPv4 address itself, an IPv6 address by its /64 network
// ("2001:db8:1:2::/64"), since one device may take any address of its /64.
std::string ClientAddressKey(const std::string& text);
