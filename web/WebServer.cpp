#include "web/WebServer.h"

#include <civetweb.h>

#include <string>

#include "app/SharedState.h"
#include "web/FolderArchive.h"
#include "web/FolderPage.h"
#include "web/LocalFile.h"
#include "web/RequestUri.h"
#include "web/SharedFile.h"
#include "web/Upload.h"

ServerCallbacks g_ServerCallbacks;

ServerCallbacks DefaultServerCallbacks() {
  ServerCallbacks cb;
  cb.HandleRequest = &HandleRequest;
  cb.OnUploadFileDone = &OnUploadFileDone;
  cb.OnUploadSaved = &OnUploadSaved;
  return cb;
}

namespace {

int BeginRequest(mg_connection* conn) {
  return g_ServerCallbacks.HandleRequest ? g_ServerCallbacks.HandleRequest(conn) : 0;
}

}  // namespace

mg_context* StartWebService(const std::string& port, const ServerCallbacks& callbacks) {
  g_ServerCallbacks = callbacks;
  static const bool initialised = (mg_init_library(0), true);
  (void)initialised;
  const char* options[] = {
      "listening_ports",    port.c_str(), "num_threads", "20",    "enable_keep_alive", "no",
      "request_timeout_ms", "30000",      nullptr,       nullptr,
  };
  mg_callbacks cb{};
  cb.begin_request = &BeginRequest;
  return mg_start(&cb, nullptr, options);
}

void StopWebService(mg_context* server) {
  if (server) mg_stop(server);
}

int HandleRequest(mg_connection* conn) {
  const mg_request_info* ri = mg_get_request_info(conn);
  const std::string method = ri->request_method ? ri->request_method : "";
  // CivetWeb's local_uri resolves ".." segments; the dispatch wants the decoded path cleaned by its own rule.
  const char* rawUri = ri->local_uri_raw ? ri->local_uri_raw : ri->request_uri;
  const std::string uri = CleanRequestUri(rawUri ? rawUri : "");
  const char* query = ri->query_string;

  if (method == "DELETE") {
    DeleteLocalFile(conn, uri);
  } else if (uri == "/f" && query) {
    ServeSharedFile(conn, query);
  } else if (uri == "/d" && query) {
    ServeFolderPage(conn, query);
  } else if (uri == "/z" && query) {
    ServeFolderArchive(conn, query);
  } else if (uri == "/u") {
    const int saved = ReceiveUpload(conn);
    if (g_State.MainDialog) g_State.MainDialog->SetReceivedCount(saved);
  } else {
    ServeLocalFile(conn, uri);
  }
  return 1;
}
