#include "web/AddressConnections.h"

#include <arpa/inet.h>
#include <civetweb.h>
#include <sys/socket.h>

#include <atomic>
#include <cstddef>
#include <cstring>
#include <map>
#include <mutex>
#include <string>

#include "web/ConnectionSocket.h"

namespace {

std::mutex g_lock;                                   // guards both maps
std::map<std::string, int> g_counts;                 // address -> connections holding a worker
std::map<const mg_connection*, std::string> g_open;  // connection -> its address, while counted
std::atomic<int> g_max{kMaxConnectionsPerAddress};
// Where a connection keeps its request record, from the connection's own start; -1 until learnt.
std::atomic<std::ptrdiff_t> g_recordOffset{-1};

// The connection's request record before its request is read. CivetWeb fills the client's address
// and ports when the connection reaches a worker but hands the record out only once a request has
// been parsed; its place inside the connection is the same for every connection, so it is learnt
// from the first request (LearnConnectionLayout) and read at that place afterwards.
const mg_request_info* EarlyRecord(const mg_connection* conn) {
  const std::ptrdiff_t offset = g_recordOffset;
  if (offset < 0) return nullptr;
  const auto* record = reinterpret_cast<const mg_request_info*>(reinterpret_cast<const char*>(conn) + offset);
  in_addr addr{};
  const size_t room = sizeof record->remote_addr;
  if (::strnlen(record->remote_addr, room) == room || ::inet_pton(AF_INET, record->remote_addr, &addr) != 1)
    return nullptr;
  return record;
}

// Answers before the request is read and ends the connection: CivetWeb's read of the request then
// ends at once and its worker is free.
void Dismiss(const mg_request_info& record) {
  const int sock = FindConnectionSocket(record);
  if (sock < 0) return;
  static const char kBusy[] =
      "HTTP/1.0 503 Service Unavailable\r\nContent-Type: text/plain\r\nContent-Length: 5\r\n\r\nbusy\n";
  ::send(sock, kBusy, sizeof kBusy - 1, MSG_NOSIGNAL | MSG_DONTWAIT);
  ::shutdown(sock, SHUT_RDWR);
}

}  // namespace

void LearnConnectionLayout(const mg_connection* conn) {
  if (g_recordOffset >= 0) return;
  const mg_request_info* record = mg_get_request_info(conn);
  if (record) g_recordOffset = reinterpret_cast<const char*>(record) - reinterpret_cast<const char*>(conn);
}

int OnConnectionOpened(const mg_connection* conn, void**) {
  const mg_request_info* record = EarlyRecord(conn);
  if (!record) return 0;
  const std::string address = record->remote_addr;
  bool over = false;
  {
    std::lock_guard<std::mutex> lock(g_lock);
    over = ++g_counts[address] > g_max;
    g_open[conn] = address;
  }
  if (over) Dismiss(*record);
  return 0;
}

void OnConnectionClosed(const mg_connection* conn) {
  std::lock_guard<std::mutex> lock(g_lock);
  auto it = g_open.find(conn);
  if (it == g_open.end()) return;
  auto count = g_counts.find(it->second);
  if (count != g_counts.end() && --count->second <= 0) g_counts.erase(count);
  g_open.erase(it);
}

void SetMaxConnectionsPerAddress(int max) { g_max = max > 0 ? max : kMaxConnectionsPerAddress; }
