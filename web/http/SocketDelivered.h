#pragma once
// How many bytes a connected TCP socket has delivered: sent and acknowledged by the peer, headers
// included. The one platform call behind the progress of downloads that the kernel sends.

#include <cstdint>

// The count, or -1 where the platform cannot tell. Any thread; the socket must stay open meanwhile.
int64_t SocketBytesDelivered(int socket);

// Bytes written to the socket that its peer has not acknowledged yet (0 once everything sent,
// the closing FIN included, has arrived), or -1 when the connection has failed or the platform
// cannot tell.
int64_t SocketBytesUnacknowledged(int socket);
