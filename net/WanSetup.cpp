#include "net/WanSetup.h"

// Filled in with the UPnP port mapping.
bool RunWanSetup() { return false; }
