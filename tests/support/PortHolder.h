#pragma once
// Holds TCP ports on 127.0.0.1 (bound and listening) until destroyed, as another program would. It
// binds as the web service does (SO_REUSEADDR), so connections of an earlier run still in TIME_WAIT
// on a port do not keep it from holding that port.

#include <map>

#include "app/PortChoice.h"

namespace marlix_test {

class CPortHolder {
 public:
  CPortHolder() = default;
  CPortHolder(const CPortHolder&) = delete;
  CPortHolder& operator=(const CPortHolder&) = delete;
  ~CPortHolder();
  // True when this holder now has the port; false when someone else holds it.
  bool Hold(int port, bool anyAddress = false);
  // Lets one held port go.
  void Release(int port);
  // Holds `count` consecutive ports that no one else holds, found below the ephemeral range; the
  // range held, or a Count of 0 when none was found.
  PortRange HoldRange(int count);
  // Holds every port of 8081 to 8091 that is free now; tries again for a moment when one stays free.
  void HoldAllServerPorts();

 private:
  std::multimap<int, int> m_fds;  // port -> socket
};

}  // namespace marlix_test
