#pragma once
struct mg_connection;

// The socket descriptor of a plain-TCP connection of the web service, found by its address pair among
// the process's descriptors (CivetWeb does not hand it out); -1 when it cannot be told. Used only to
// pass file data to the kernel directly after the reply header has gone out through CivetWeb.
int FindConnectionSocket(const mg_connection* conn);
