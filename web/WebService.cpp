#include "web/WebService.h"

#include "app/SharedState.h"
#include "web/http/PercentCodec.h"
#include "web/http/RequestUri.h"
#include "web/receive/SavedFile.h"

std::string DispatchPath(const std::string& rawPath) { return CleanRequestUri(PercentDecoded(rawPath)); }

CWebService::CWebService(SharedState& state)
    : m_state(state),
      m_archives(state),
      m_partials(state.HomePath(".uploading"), state.HomePath("tmp")),
      m_routes{m_state, m_limiter, m_archives, m_partials, m_thumbnails, m_server.StopFlag()} {
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

CHttpReply CWebService::Serve(CHttpRequest& request) {
  CHttpReply reply = RouteRequest(WebRoutes(), m_routes, request, DispatchPath(request.Path));
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
