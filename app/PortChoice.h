#pragma once
// Choosing the web service's port: the first free one of 8081 to 8091.

#include <string>

// True when the TCP port counts as free: only a bind to 127.0.0.1 that fails with "address in use"
// makes it taken.
bool ProbePort(int port);

// Count consecutive ports from First.
struct PortRange {
  int First;
  int Count;
};
inline constexpr PortRange kServerPorts{8081, 11};

// The first free port of the range as decimal text, or empty when all of them are taken (the front
// ends then say NoFreePort and end).
std::string ChooseServerPort(PortRange range = kServerPorts);
