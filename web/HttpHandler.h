#pragma once
// What a server runs for each request. Serve gives the reply; the server sends it.

#include "web/HttpReply.h"
#include "web/HttpRequest.h"

class IHttpHandler {
 public:
  virtual ~IHttpHandler() = default;
  // True when Serve may wait (for the request body, for the disk at length, for another thread):
  // it then runs on a thread of its own, with ReadBody set, and no server thread waits for it.
  // Otherwise Serve runs on a server thread, must return at once, and the body (if any) is discarded.
  virtual bool RunsApart(const CHttpRequest& request) const = 0;
  virtual CHttpReply Serve(CHttpRequest& request) = 0;
};
