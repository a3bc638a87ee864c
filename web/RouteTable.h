#pragma once
// The web service's URL space in one table. Each route names its method, its path, the check that
// guards it and its handler, and whether the handler runs on the handler pool. The first route that
// matches a request serves it; the checks run on the server's thread, so that only requests that
// passed them get work deferred to a handler thread.

#include <atomic>
#include <span>
#include <string>

#include "web/http/HttpReply.h"
#include "web/http/HttpRequest.h"

struct SharedState;
class CGuessLimiter;
class CFolderArchives;
class CPartialUploads;
class CThumbnailCache;

// What the routes are given. Each handler takes its own part of it, never the whole. The web service
// owns every member; they outlive the server's threads.
struct CRouteContext {
  SharedState& state;  // the items, the upload secret, the working directory, the event channel
  CGuessLimiter& limiter;
  CFolderArchives& archives;
  CPartialUploads& partials;
  CThumbnailCache& thumbnails;
  const std::atomic<bool>& stop;  // set once the service stops: long transfers give up
};

enum class RouteGuard {
  PageFile,      // the page files of the working directory: public, they hold nothing
  Token,         // a live token in the query; a request without one gets no reply at all
  UploadSecret,  // the run's upload secret as "k"; a request without it is answered as a missing file
};

// A request as its route's handler sees it, besides the request itself.
struct CRouteTarget {
  std::string uri;   // the path, percent-decoded and cleaned (DispatchPath)
  std::string item;  // Token routes: the full path of the shared item that the token names
};

struct CRoute {
  const char* method = nullptr;  // the one method served; null for any
  const char* path = nullptr;    // the whole path, or a prefix when it ends in "/"; null for any
  bool needsQuery = false;       // the path matches only with a query (which may be empty)
  RouteGuard guard = RouteGuard::PageFile;
  bool writes = false;  // may write (a body can come with any method): refused from another site's page
  bool onPool = false;  // the handler may wait (a body, the disk, packing, decoding): run on a handler thread
  CHttpReply (*handler)(const CRouteContext& context, CHttpRequest& request, const CRouteTarget& target) = nullptr;
};

// The web service's routes, in the order they are tried.
std::span<const CRoute> WebRoutes();

// Serves a request by the first route of `routes` that matches it; `uri` is its path as DispatchPath
// gives it. A path holding a NUL is a bad request (400) whatever the route. A request that fails its
// route's guard counts as a guessing miss of its address, and its answer (none for a token, a missing
// file for the secret) is held back while the address is blocked. A write from another site's page is
// refused with 403. The context must outlive the server's threads.
CHttpReply RouteRequest(std::span<const CRoute> routes, const CRouteContext& context, CHttpRequest& request,
                        std::string uri);
