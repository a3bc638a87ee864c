#include "net/WanSetup.h"

#include <string>

#include "app/SharedState.h"
#include "net/Upnp.h"

bool RunWanSetup() {
  UpnpDiscoverGateway();
  UpnpClearPortMappings();

  std::string external;
  int result = 0;
  int attempts = 0;
  do {
    result = UpnpMapServerPort(external);
    ++attempts;
  } while ((result != 0 || external.empty()) && attempts < 3);

  UpnpRelease();

  // An address is handed out only when the port behind it is mapped.
  const bool ok = !external.empty() && result == 0;
  if (ok) g_State.ExternalAddress.Set(external);
  return ok;
}

void RemoveWanMapping() { UpnpRemoveAddedMapping(); }
