#include "web/WebServer.h"

#include <arpa/inet.h>
#include <civetweb.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <memory>
#include <string>
#include <thread>

#include "app/SharedState.h"
#include "web/AddressConnections.h"
#include "web/FolderArchive.h"
#include "web/FolderPage.h"
#include "web/GuessLimiter.h"
#include "web/ItemLookup.h"
#include "web/LocalFile.h"
#include "web/PartialUploads.h"
#include "web/RequestUri.h"
#include "web/SharedFile.h"
#include "web/ThumbnailCache.h"
#include "web/Upload.h"
#include "web/UploadStall.h"

ServerCallbacks g_ServerCallbacks;

namespace {
std::atomic<bool> g_Stopping{false};
// Made at start, removed (with all partial data) once the service has stopped.
std::unique_ptr<CPartialUploads> g_PartialUploads;
// The folder pages' thumbnails, kept while the service runs.
CThumbnailCache g_Thumbnails;
}  // namespace

CPartialUploads* ServicePartialUploads() { return g_PartialUploads.get(); }

bool WebServiceStopping() { return g_Stopping; }
const std::atomic<bool>& WebServiceStopFlag() { return g_Stopping; }

ServerCallbacks DefaultServerCallbacks() {
  ServerCallbacks cb;
  cb.HandleRequest = &HandleRequest;
  cb.OnUploadFileDone = &OnUploadFileDone;
  cb.OnUploadSaved = &OnUploadSaved;
  return cb;
}

namespace {

// A token request may go on to its handler: its address is not blocked for guessing, and its token
// names a shared item. A token that names nothing counts as a miss of the address.
bool AdmitTokenRequest(const mg_connection* conn, const char* query) {
  const std::string address = mg_get_request_info(conn)->remote_addr;
  if (!GuessLimiter().Admit(address)) return false;
  if (!LookupItem(query).empty()) return true;
  GuessLimiter().RecordMiss(address);
  return false;
}

int BeginRequest(mg_connection* conn) {
  LearnConnectionLayout(conn);
  return g_ServerCallbacks.HandleRequest ? g_ServerCallbacks.HandleRequest(conn) : 0;
}

// A connection to the listening port on loopback; with a request, its reply is read to the end
// (at most 2 s), else it is closed at once.
void PokePort(int port, const char* request = nullptr) {
  const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return;
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_port = htons(static_cast<uint16_t>(port));
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (::connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0 && request) {
    const timeval limit{2, 0};
    ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit);
    ::send(fd, request, std::strlen(request), MSG_NOSIGNAL);
    char buffer[512];
    while (::recv(fd, buffer, sizeof buffer, 0) > 0) {
    }
  }
  ::close(fd);
}

}  // namespace

mg_context* StartWebService(const std::string& port, const ServerCallbacks& callbacks) {
  g_ServerCallbacks = callbacks;
  g_Stopping = false;
  g_PartialUploads = std::make_unique<CPartialUploads>(".uploading", "tmp");
  static const bool initialised = (mg_init_library(0), true);
  (void)initialised;
  const char* options[] = {
      "listening_ports",    port.c_str(), "num_threads", "20",    "enable_keep_alive", "no",
      "request_timeout_ms", "30000",      nullptr,       nullptr,
  };
  mg_callbacks cb{};
  cb.begin_request = &BeginRequest;
  cb.init_connection = &OnConnectionOpened;
  cb.connection_closed = &OnConnectionClosed;
  mg_context* server = mg_start(&cb, nullptr, options);
  // One request of its own, so that the per-address cap holds from the first phone on.
  mg_server_port ports[1] = {};
  if (server && mg_get_server_ports(server, 1, ports) == 1) PokePort(ports[0].port, "GET / HTTP/1.0\r\n\r\n");
  return server;
}

void StopWebService(mg_context* server) {
  if (!server) return;
  g_Stopping = true;
  // CivetWeb's listener notices the stop only when its poll of the listening sockets ends, which
  // takes up to 2 s when idle; a connection on loopback ends the poll at once.
  mg_server_port ports[8] = {};
  const int count = mg_get_server_ports(server, 8, ports);
  std::atomic<bool> stopped{false};
  std::thread waker([&] {
    for (int round = 0; round < 100 && !stopped; ++round) {
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
      for (int i = 0; i < count && !stopped; ++i) PokePort(ports[i].port);
    }
  });
  mg_stop(server);
  stopped = true;
  waker.join();
  g_PartialUploads.reset();
  g_Thumbnails.Clear();
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
  } else if ((uri == "/f" || uri == "/d" || uri == "/z" || uri == "/t") && query && !AdmitTokenRequest(conn, query)) {
    // Refused or unknown: no reply at all, as for any token that names nothing.
  } else if (uri == "/f" && query) {
    ServeSharedFile(conn, query);
  } else if (uri == "/d" && query) {
    ServeFolderPage(conn, query);
  } else if (uri == "/z" && query) {
    ServeFolderArchive(conn, query);
  } else if (uri == "/t" && query) {
    // A folder page's thumbnail, by the picture's own token; none for a picture that cannot be decoded.
    const std::string jpeg = g_Thumbnails.Get(LookupItem(query));
    const char* status = jpeg.empty() ? "404 Not Found" : "200 OK";
    mg_printf(conn,
              "HTTP/1.0 %s\r\nContent-Type: image/jpeg\r\nCache-Control: private, max-age=86400\r\n"
              "Content-Security-Policy: sandbox\r\nX-Content-Type-Options: nosniff\r\nContent-Length: %zu\r\n\r\n",
              status, jpeg.size());
    if (!jpeg.empty()) mg_write(conn, jpeg.data(), jpeg.size());
  } else if (uri == "/r" && g_PartialUploads) {
    const CUploadStallWatch watch(conn);
    if (ReceiveResumableUpload(conn, *g_PartialUploads) && g_State.MainDialog) g_State.MainDialog->SetReceivedCount(1);
  } else if (uri == "/u") {
    const CUploadStallWatch watch(conn);
    const int saved = ReceiveUpload(conn);
    if (g_State.MainDialog) g_State.MainDialog->SetReceivedCount(saved);
  } else {
    ServeLocalFile(conn, uri);
  }
  return 1;
}
