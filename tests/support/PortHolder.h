#pragma once
// Holds TCP ports on 127.0.0.1 (bound and listening) until destroyed, as another program would.

#include <vector>

namespace marlix_test {

class CPortHolder {
 public:
  CPortHolder() = default;
  CPortHolder(const CPortHolder&) = delete;
  CPortHolder& operator=(const CPortHolder&) = delete;
  ~CPortHolder();
  // True when this holder now has the port; false when someone else holds it.
  bool Hold(int port, bool anyAddress = false);
  // Holds every port of 8081 to 8091 that is free now; tries again for a moment when one stays free.
  void HoldAllServerPorts();

 private:
  std::vector<int> m_fds;
};

}  // namespace marlix_test
