#pragma once
#include <string>

// An address as the host part of a link: IPv4 as it is, IPv6 in brackets ("[2001:db8::7]").
std::string UrlHost(const std::string& address);
