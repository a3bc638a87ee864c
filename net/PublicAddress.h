#pragma once
#include <string>

// True when the text is a dotted IPv4 address that phones on the Internet can reach: not private
// (RFC 1918), not shared by a carrier-grade NAT (100.64.0.0/10), not link-local, loopback, "this
// network" (0.0.0.0/8), nor multicast or reserved (224.0.0.0 and up).
bool IsPublicIpv4(const std::string& address);
