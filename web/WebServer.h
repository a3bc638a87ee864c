#pragma once
// The embedded web service: CivetWeb set-up, the service's own callbacks record and the request dispatch.

#include <atomic>
#include <cstddef>
#include <string>

struct mg_connection;
struct mg_context;
class CPartialUploads;

// The service's callbacks record: twelve entries numbered 0 to 11. The service fills 0, 9 and 11.
struct ServerCallbacks {
  int (*HandleRequest)(mg_connection* conn) = nullptr;                             // 0
  void* Reserved[8] = {};                                                          // 1 to 8
  void (*OnUploadFileDone)(mg_connection* conn, const char* path, int) = nullptr;  // 9
  void (*OnUploadBytes)(mg_connection* conn, size_t count) = nullptr;              // 10
  void (*OnUploadSaved)(mg_connection* conn, const char* path) = nullptr;          // 11
};

// The record the running service uses; ReceiveUpload consults it.
extern ServerCallbacks g_ServerCallbacks;

// The record as the program fills it: HandleRequest, OnUploadFileDone, OnUploadSaved.
ServerCallbacks DefaultServerCallbacks();

// Starts listening on the port (decimal text) with 20 workers, no keep-alive and a 30 s request
// time-out. Returns null when the service cannot start.
mg_context* StartWebService(const std::string& port, const ServerCallbacks& callbacks);

// Stops the service; returns once every worker thread has ended.
void StopWebService(mg_context* server);

// True from the start of StopWebService: transfers that wait for a slow phone give up.
bool WebServiceStopping();
// The same, as a flag that long work (packing an archive) watches.
const std::atomic<bool>& WebServiceStopFlag();

// The running service's partial uploads (".uploading" beside "tmp"), or null when it is not running.
CPartialUploads* ServicePartialUploads();

// Answers every request (returns nonzero), by the dispatch table:
// DELETE -> DeleteLocalFile; /f?.. -> ServeSharedFile; /d?.. -> ServeFolderPage;
// /z?.. -> ServeFolderArchive; /u -> ReceiveUpload; anything else -> ServeLocalFile.
int HandleRequest(mg_connection* conn);
