#pragma once
// One HTTP request as a handler sees it, free of the server library. The server (HttpServer.cpp)
// fills it from the connection; a test fills it by hand and calls the handler without a socket.

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <utility>
#include <vector>

// Reads the request body: a count, 0 at the end of the body, negative when the body cannot be read
// (the client went silent past the idle limit, went away, or the service is stopping). Blocks until
// some bytes are there; a cut connection or a stop ends the wait at once.
using CHttpBodyRead = std::function<int(char* into, size_t room)>;

struct CHttpRequest {
  std::string Method;  // "GET", "POST", ... as sent
  std::string Path;    // the target's path as sent, not percent-decoded
  std::string Query;   // after the first '?', not decoded; see HasQuery
  bool HasQuery = false;
  std::vector<std::pair<std::string, std::string>> Headers;  // in the order sent
  std::string Peer;                                          // "192.168.1.5" or "2001:db8::7"
  int64_t ContentLength = -1;                                // -1 when not declared (chunked, none)
  std::string Version = "HTTP/1.1";                          // or "HTTP/1.0", as sent
  // Set only for the work of a deferred reply (CHttpReply::Later), on a handler thread; empty otherwise.
  CHttpBodyRead ReadBody;

  // The first header of that name (case-insensitive), or null.
  const char* Header(const std::string& name) const;
  // The query as the old handlers took it: null without a '?'.
  const char* QueryOrNull() const { return HasQuery ? Query.c_str() : nullptr; }
};
