#pragma once
struct mg_connection;
struct mg_request_info;

// The socket descriptor of a plain-TCP connection of the web service, found by its address pair among
// the process's descriptors (CivetWeb does not hand it out); -1 when it cannot be told. Used only to
// pass file data to the kernel directly after the reply header has gone out through CivetWeb, and to
// shut a connection past its address's cap before its request is read.
int FindConnectionSocket(const mg_connection* conn);
// The same by the connection's request record (remote address and port, server port).
int FindConnectionSocket(const mg_request_info& record);
