#include "net/LocalAddress.h"

// Filled in with the local address discovery.
void DiscoverLocalAddress() {}
