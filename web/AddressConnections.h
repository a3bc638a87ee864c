#pragma once
// How many of the web service's workers one client address may hold at once. CivetWeb gives each
// connection a worker before its request is read, so a client that trickles its header or body holds
// that worker; past the cap, a further connection from the same address is answered "503" and shut at
// once, before its request is read, and its worker goes on to the next connection. Other addresses
// thus always find workers. Called by CivetWeb on its worker threads; thread-safe.

struct mg_connection;

// Workers that one address may hold: phones' browsers open at most six connections to one host.
inline constexpr int kMaxConnectionsPerAddress = 8;

// CivetWeb's init_connection: counts the connection for its address, and shuts it past the cap.
// Always returns 0, as CivetWeb requires.
int OnConnectionOpened(const mg_connection* conn, void** connData);
// CivetWeb's connection_closed: the connection no longer counts.
void OnConnectionClosed(const mg_connection* conn);

// Called for every request (CivetWeb's begin_request): the first one shows where a connection keeps
// the client's address, which OnConnectionOpened needs before any request of its own is read. The
// web service makes one request to itself at start, so the cap holds from the first phone on.
void LearnConnectionLayout(const mg_connection* conn);

// Test hook: another cap (kMaxConnectionsPerAddress when 0 or less).
void SetMaxConnectionsPerAddress(int max);
