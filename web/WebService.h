#pragma once
// The embedded web service of one running Marlix: it serves that Marlix's state (its items, its
// secret, its working directory) and owns the HTTP server, the guessing limiter, the folder
// archives and the stop flag. The routes' handlers are given only their parts of it (CRouteContext);
// they report to the state's event channel.
// Start and Stop from one thread; Serve runs on the server's threads.

#include <atomic>
#include <chrono>
#include <cstddef>
#include <memory>
#include <string>

#include "app/SharedState.h"
#include "web/GuessLimiter.h"
#include "web/RouteTable.h"
#include "web/http/HttpHandler.h"
#include "web/http/HttpServer.h"
#include "web/receive/PartialUploads.h"
#include "web/send/FolderArchive.h"
#include "web/send/ThumbnailCache.h"

class CWebService : public IHttpHandler {
 public:
  // The state must outlive the service.
  explicit CWebService(SharedState& state);
  ~CWebService() override;
  CWebService(const CWebService&) = delete;
  CWebService& operator=(const CWebService&) = delete;

  // Listens on the text ("PORT" for every address of both families, "ADDR:PORT", "[IPV6]:PORT");
  // false when it cannot.
  bool Start(const std::string& listen);
  // Ends every connection and waits for handlers still running; they see the stop flag and give up.
  void Stop();
  int Port() const { return m_server.Port(); }

  // Test hooks: the guessing limiter, the uploads in pieces, and the server's options before Start
  // (idle limit, per-address cap).
  CGuessLimiter& Limiter() { return m_limiter; }
  CPartialUploads& PartialUploads() { return m_partials; }
  CHttpServerOptions& ServerOptions() { return m_options; }

  // Serves the request by the route table (WebRoutes): its checks run here, on the server's thread,
  // and only requests that pass them get deferred work on the handler pool. Every reply goes out
  // with Referrer-Policy: no-referrer.
  CHttpReply Serve(CHttpRequest& request) override;

 private:
  SharedState& m_state;
  CGuessLimiter m_limiter;
  CFolderArchives m_archives;
  CHttpServerOptions m_options;
  CPartialUploads m_partials;    // uploads in pieces (".uploading" beside "tmp"), removed with the service
  CThumbnailCache m_thumbnails;  // the folder pages' thumbnails, kept while the service lives
  CHttpServer m_server;          // its stop flag is set from the start of Stop: long transfers give up
  const CRouteContext m_routes;  // the parts above, as the routes' handlers are given them
};

// The program's way in: a started service (null when it cannot listen), and its stop and end.
CWebService* StartWebService(SharedState& state, const std::string& listen);
void StopWebService(CWebService* service);

// The dispatch's path: the target's path percent-decoded, then cleaned (CleanRequestUri).
std::string DispatchPath(const std::string& rawPath);
