#pragma once
// "/r": uploads in slices that resume after a break, over CPartialUploads. Free of the server
// library: the route's caller gives the method, the raw query and the body, and sends the answer.
//
//   POST /r?name=NAME&size=SIZE&mtime=MS   starts the upload of that file, or finds it:
//                                          200 {"id":ID,"offset":HELD}
//   GET  /r?id=ID                          200 {"id":ID,"offset":HELD,"size":SIZE,"booked":BOOKED}
//                                          (BOOKED: the bytes of free space booked for it now)
//   PUT  /r?id=ID&offset=OFFSET  (body)    appends the body at OFFSET, which must be HELD:
//                                          200 {"id":ID,"offset":HELD} while the file is not whole,
//                                          the upload reply {"files":[...]} once it is,
//                                          409 {"error":"wrong_offset","offset":HELD} otherwise.
//   404 {"error":"unknown_upload"} for an id the PC does not know; 429 {"error":"too_many_uploads"}
//   with Retry-After when the address (or every address together) holds as many unfinished uploads
//   as it may; other refusals as the multipart upload's: {"error":CODE,"message":TEXT} with 400, 413,
//   500 or 507.

#include <cstdint>
#include <functional>
#include <string>

#include "web/receive/MultipartReceiver.h"
#include "web/receive/PartialUploads.h"

struct CResumableAnswer {
  int status = 200;
  std::string body;  // JSON; empty when storedPath is set
  // Set when the answer is the upload reply for this stored file: the caller writes it as for a
  // multipart upload. newlyStored is true only the first time (the front ends report it then).
  std::string storedPath;
  bool newlyStored = false;
  int retryAfter = 0;  // seconds, for a Retry-After header; 0 for none
};

// Told while a piece is written, at its start and after each write: the file's name as sent, the
// bytes of it held so far and its size.
using CPieceProgress = std::function<void(const std::string& name, int64_t held, int64_t size)>;

// Answers one request to "/r". read is used by PUT only (the body, read to its end or its failure).
// contentLength is -1 when the request declares none; address is the client's (ClientAddressKey).
CResumableAnswer AnswerResumableUpload(CPartialUploads& uploads, const std::string& method, const std::string& query,
                                       int64_t contentLength, const CBodyRead& read,
                                       const CPieceProgress& progress = {}, const std::string& address = {});
