#include "web/RouteTable.h"

#include <algorithm>
#include <chrono>
#include <string_view>
#include <utility>

#include "app/SharedState.h"
#include "web/GuessLimiter.h"
#include "web/http/ClientAddress.h"
#include "web/receive/RequestOrigin.h"
#include "web/receive/TextReceive.h"
#include "web/receive/Upload.h"
#include "web/receive/UploadSecret.h"
#include "web/send/FolderArchive.h"
#include "web/send/FolderPage.h"
#include "web/send/ItemLookup.h"
#include "web/send/LocalFile.h"
#include "web/send/SharedFile.h"
#include "web/send/TextPage.h"
#include "web/send/ThumbnailCache.h"

namespace {

// The longest a miss's answer is held back (the block itself may last longer).
constexpr std::chrono::milliseconds kLongestHold{30000};

// The handlers, each given its part of the context.
CHttpReply SharedFile(const CRouteContext& c, CHttpRequest& r, const CRouteTarget& t) {
  return ServeSharedFile(c.state, r, t.item, c.state.FolderOfFile(t.item));
}
CHttpReply FolderPage(const CRouteContext& c, CHttpRequest& r, const CRouteTarget& t) {
  return ServeFolderPage(c.state, r, t.item);
}
CHttpReply FolderArchive(const CRouteContext& c, CHttpRequest& r, const CRouteTarget& t) {
  return ServeFolderArchive(c.archives, c.state, c.stop, r, t.item);
}
CHttpReply Thumbnail(const CRouteContext& c, CHttpRequest&, const CRouteTarget& t) {
  return ServeThumbnail(c.thumbnails, t.item, c.state.FolderOfFile(t.item));
}
CHttpReply TextPage(const CRouteContext&, CHttpRequest& r, const CRouteTarget& t) { return ServeTextPage(r, t.item); }
CHttpReply Text(const CRouteContext& c, CHttpRequest& r, const CRouteTarget&) { return ReceiveText(r, c.state.Events); }
// The two file receivers tell the front end how many files the request saved; a resumable piece that
// completes no file tells nothing.
CHttpReply Resumable(const CRouteContext& c, CHttpRequest& r, const CRouteTarget&) {
  int saved = 0;
  CHttpReply reply = ReceiveResumableUpload(c.state, c.partials, r, saved);
  if (saved) c.state.Events.Report({.Id = ViewEventId::ReceivedCount, .Count = saved});
  return reply;
}
CHttpReply Upload(const CRouteContext& c, CHttpRequest& r, const CRouteTarget&) {
  int saved = 0;
  CHttpReply reply = ReceiveUpload(c.state, c.partials, r, saved);
  c.state.Events.Report({.Id = ViewEventId::ReceivedCount, .Count = saved});
  return reply;
}
CHttpReply DeleteReceived(const CRouteContext& c, CHttpRequest& r, const CRouteTarget& t) {
  return DeleteLocalFile(c.state.Home, r, t.uri);
}
CHttpReply LocalFile(const CRouteContext& c, CHttpRequest& r, const CRouteTarget& t) {
  return ServeLocalFile(c.state.Home, r, t.uri);
}

using enum RouteGuard;

// The upload direction (the receivers, received files under "/tmp/", DELETE) needs the upload secret.
// Every request to a receiver may write, since a body can come with any method. A shared file or a
// page file is opened and answered on the server's thread; what waits for a body, a folder walk,
// packing or decoding runs on the pool.
constexpr CRoute kWebRoutes[] = {
    {.method = "DELETE", .guard = UploadSecret, .writes = true, .handler = DeleteReceived},
    {.path = "/f", .needsQuery = true, .guard = Token, .handler = SharedFile},
    {.path = "/d", .needsQuery = true, .guard = Token, .onPool = true, .handler = FolderPage},
    {.path = "/z", .needsQuery = true, .guard = Token, .onPool = true, .handler = FolderArchive},
    // A folder page's picture, by its own token.
    {.path = "/t", .needsQuery = true, .guard = Token, .onPool = true, .handler = Thumbnail},
    {.path = "/m", .needsQuery = true, .guard = Token, .onPool = true, .handler = TextPage},
    {.path = "/x", .guard = UploadSecret, .writes = true, .onPool = true, .handler = Text},
    {.path = "/r", .guard = UploadSecret, .writes = true, .onPool = true, .handler = Resumable},
    {.path = "/u", .guard = UploadSecret, .writes = true, .onPool = true, .handler = Upload},
    {.path = "/tmp/", .guard = UploadSecret, .handler = LocalFile},
    {.guard = PageFile, .handler = LocalFile},
};

bool Matches(const CRoute& route, const CHttpRequest& request, const std::string& uri) {
  if (route.method && request.Method != route.method) return false;
  if (route.needsQuery && !request.HasQuery) return false;
  if (!route.path) return true;
  const std::string_view path = route.path;
  return path.ends_with('/') ? uri.starts_with(path) : uri == path;
}

// A request that named nothing: a guessing miss of its address, answered late while it is blocked.
CHttpReply Miss(const CRouteContext& context, const CHttpRequest& request, CHttpReply answer) {
  answer.Delay = std::min(context.limiter.RecordMiss(ClientAddressKey(request.Peer)), kLongestHold);
  return answer;
}

bool IsCrossSite(const CHttpRequest& request) {
  auto header = [&](const char* name) { return std::string(request.Header(name) ? request.Header(name) : ""); };
  return IsCrossSiteWrite(header("Origin"), header("Referer"), header("Host"));
}

}  // namespace

std::span<const CRoute> WebRoutes() { return kWebRoutes; }

CHttpReply RouteRequest(std::span<const CRoute> routes, const CRouteContext& context, CHttpRequest& request,
                        std::string uri) {
  // A NUL cuts a name short in every file call: no path may hold one, whatever the route.
  if (uri.find('\0') != std::string::npos)
    return CHttpReply::Text(400, "text/html", "<html><body>Bad Request</body></html>");
  CRouteTarget target{std::move(uri), {}};
  const auto route =
      std::find_if(routes.begin(), routes.end(), [&](const CRoute& r) { return Matches(r, request, target.uri); });
  if (route == routes.end()) return MissingFileReply(context.state.Home, request, target.uri);

  switch (route->guard) {
    case PageFile:
      break;
    case Token:
      // An unknown token gets no reply at all, as for any token that names nothing.
      target.item = LookupItem(context.state, request.QueryOrNull());
      if (target.item.empty()) return Miss(context, request, CHttpReply::Dropped());
      break;
    case UploadSecret:
      // The right secret, like a live token, is served at once whatever the address did.
      if (!QueryHasUploadSecret(request.Query, context.state.UploadSecret))
        return Miss(context, request, MissingFileReply(context.state.Home, request, target.uri));
      break;
  }
  if (route->writes && IsCrossSite(request))
    return CHttpReply::Text(403, "text/plain", "Forbidden: a page of another site cannot write here\n");

  if (!route->onPool) return route->handler(context, request, target);
  return CHttpReply::Later([&context, handler = route->handler, target = std::move(target)](CHttpRequest& r) {
    return handler(context, r, target);
  });
}
