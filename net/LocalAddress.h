#pragma once

// Finds the PC's IPv4 address on its local network: the first adapter, in the system's order, with an
// assigned address (loopback and 0.x.x.x skipped). Publishes it in LocalAddress; leaves it unchanged
// when none is found.
void DiscoverLocalAddress();
