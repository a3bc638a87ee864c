#pragma once
#include <string>

// An address as the host part of a link: IPv4 as it is, IPv6 in brackets ("[2001:db8::7]"),
// a zone escaped as a link writes it ("[fe80::1%25wlan0]").
std::string UrlHost(const std::string& address);
