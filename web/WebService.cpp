#include "web/WebService.h"

#include "app/SharedState.h"
#include "web/ClientAddress.h"
#include "web/FolderPage.h"
#include "web/ItemLookup.h"
#include "web/LocalFile.h"
#include "web/PercentCodec.h"
#include "web/RequestOrigin.h"
#include "web/RequestUri.h"
#include "web/SavedFile.h"
#include "web/SharedFile.h"
#include "web/TextPage.h"
#include "web/TextReceive.h"
#include "web/Upload.h"
#include "web/UploadSecret.h"

namespace {

// The longest a miss's answer is held back (the block itself may last longer).
constexpr std::chrono::milliseconds kLongestHold{30000};

}  // namespace

std::string DispatchPath(const std::string& rawPath) { return CleanRequestUri(PercentDecoded(rawPath)); }

CWebService::CWebService(SharedState& state)
    : m_state(state), m_archives(state), m_partials(state.HomePath(".uploading"), state.HomePath("tmp")) {
  // Multipart uploads that a run before this one left unfinished.
  RemoveHiddenFiles(state.HomePath("tmp"));
}

CWebService::~CWebService() { Stop(); }

bool CWebService::Start(const std::string& listen) {
  m_options.Listen = listen;
  return m_server.Start(m_options, *this);
}

void CWebService::Stop() {
  m_server.Stop();
  m_archives.StopBuilds();
}

bool CWebService::AdmitTokenRequest(const CHttpRequest& request, std::chrono::milliseconds& hold) {
  if (!LookupItem(m_state, request.QueryOrNull()).empty()) return true;
  hold = std::min(m_limiter.RecordMiss(ClientAddressKey(request.Peer)), kLongestHold);
  return false;
}

bool CWebService::AdmitUploadRequest(const CHttpRequest& request, std::chrono::milliseconds& hold) {
  if (QueryHasUploadSecret(request.Query, m_state.UploadSecret)) return true;
  hold = std::min(m_limiter.RecordMiss(ClientAddressKey(request.Peer)), kLongestHold);
  return false;
}

CHttpReply CWebService::Serve(CHttpRequest& request) {
  CHttpReply reply = Dispatch(request);
  if (reply.Kind == CHttpReply::Body::Later) {
    // The work gives the real reply on a handler thread; the header goes on it there.
    return CHttpReply::Later([work = std::move(reply.Work)](CHttpRequest& r) {
      CHttpReply given = work(r);
      if (!given.Drop) given.AddHeader("Referrer-Policy", "no-referrer");
      return given;
    });
  }
  if (!reply.Drop) reply.AddHeader("Referrer-Policy", "no-referrer");
  return reply;
}

CHttpReply CWebService::Dispatch(CHttpRequest& request) {
  const std::string uri = DispatchPath(request.Path);
  const char* query = request.QueryOrNull();
  // A NUL cuts a name short in every file call: no path may hold one, whatever the route.
  if (uri.find('\0') != std::string::npos)
    return CHttpReply::Text(400, "text/html", "<html><body>Bad Request</body></html>");
  // The upload direction: the receivers (files, resumed files, text), received files, DELETE. Every
  // request to a receiver may write (a body can come with any method), so each is a write.
  const bool receiver = uri == "/u" || uri == "/r" || uri == "/x";
  const bool writes = request.Method == "DELETE" || receiver;
  if (writes || uri.rfind("/tmp/", 0) == 0) {
    if (std::chrono::milliseconds hold{0}; !AdmitUploadRequest(request, hold)) {
      CHttpReply missing = MissingFileReply(m_state.Home, request, uri);
      missing.Delay = hold;
      return missing;
    }
    auto header = [&](const char* name) { return std::string(request.Header(name) ? request.Header(name) : ""); };
    if (writes && IsCrossSiteWrite(header("Origin"), header("Referer"), header("Host")))
      return CHttpReply::Text(403, "text/plain", "Forbidden: a page of another site cannot write here\n");
  }
  if (request.Method == "DELETE") return DeleteLocalFile(m_state.Home, request, uri);
  if (std::chrono::milliseconds hold{0}; (uri == "/f" || uri == "/d" || uri == "/z" || uri == "/t" || uri == "/m") &&
                                         query && !AdmitTokenRequest(request, hold)) {
    // Unknown: no reply at all, as for any token that names nothing.
    CHttpReply dropped = CHttpReply::Dropped();
    dropped.Delay = hold;
    return dropped;
  }
  // Past the checks. A shared or local file is opened and answered here; what waits for a body, a
  // folder walk, packing or decoding is deferred to a handler thread.
  if (uri == "/f" && query) return ServeSharedFile(*this, request, query);
  if (uri == "/d" && query)
    return CHttpReply::Later([this](CHttpRequest& r) { return ServeFolderPage(*this, r, r.QueryOrNull()); });
  if (uri == "/z" && query)
    return CHttpReply::Later([this](CHttpRequest& r) { return ServeFolderArchive(*this, r, r.QueryOrNull()); });
  if (uri == "/t" && query) {
    return CHttpReply::Later([this](CHttpRequest& r) {
      // A folder page's thumbnail, by the picture's own token; none for a picture that cannot be decoded.
      const std::string jpeg = m_thumbnails.Get(LookupItem(m_state, r.QueryOrNull()));
      CHttpReply reply = CHttpReply::Text(jpeg.empty() ? 404 : 200, "image/jpeg", jpeg);
      reply.AddHeader("Cache-Control", "private, max-age=86400");
      reply.AddHeader("Content-Security-Policy", "sandbox");
      reply.AddHeader("X-Content-Type-Options", "nosniff");
      return reply;
    });
  }
  if (uri == "/m" && query)
    return CHttpReply::Later(
        [this](CHttpRequest& r) { return ServeTextPage(r, LookupItem(m_state, r.QueryOrNull())); });
  if (uri == "/x") return CHttpReply::Later([this](CHttpRequest& r) { return ReceiveText(r, m_state.Events); });
  if (uri == "/r") {
    return CHttpReply::Later([this](CHttpRequest& r) {
      int saved = 0;
      CHttpReply reply = ReceiveResumableUpload(*this, r, saved);
      if (saved) m_state.Events.Report({.Id = ViewEventId::ReceivedCount, .Count = saved});
      return reply;
    });
  }
  if (uri == "/u") {
    return CHttpReply::Later([this](CHttpRequest& r) {
      int saved = 0;
      CHttpReply reply = ReceiveUpload(*this, r, saved);
      m_state.Events.Report({.Id = ViewEventId::ReceivedCount, .Count = saved});
      return reply;
    });
  }
  return ServeLocalFile(m_state.Home, request, uri);
}

CWebService* StartWebService(SharedState& state, const std::string& listen) {
  RaiseOpenFileLimit();
  auto* service = new CWebService(state);
  if (service->Start(listen)) return service;
  delete service;
  return nullptr;
}

void StopWebService(CWebService* service) {
  if (!service) return;
  service->Stop();
  delete service;
}
