#pragma once
// What a server runs for each request.

#include "web/http/HttpReply.h"
#include "web/http/HttpRequest.h"

class IHttpHandler {
 public:
  virtual ~IHttpHandler() = default;
  // Called on a server thread once the request's header is in; returns at once, never waiting for
  // the body, another thread or the disk at length. Its checks (tokens, secrets, limits) run here.
  // Work that may wait is given back as CHttpReply::Later: it runs on one of the server's handler
  // threads, with the request's ReadBody set, only for requests that passed those checks. Any other
  // reply is sent as it stands, and the request's body (if any) is discarded.
  virtual CHttpReply Serve(CHttpRequest& request) = 0;
};
