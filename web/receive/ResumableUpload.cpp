#include "web/receive/ResumableUpload.h"

#include <vector>

#include "web/http/QueryParameter.h"

namespace {

constexpr size_t kReadPiece = 64 * 1024;

CResumableAnswer Json(int status, std::string body) {
  CResumableAnswer answer;
  answer.status = status;
  answer.body = std::move(body);
  return answer;
}

CResumableAnswer Held(const std::string& id, int64_t held, int status = 200) {
  if (status == 409)
    return Json(409, "{\"error\":\"wrong_offset\",\"offset\":" + std::to_string(held) + ",\"id\":\"" + id + "\"}");
  return Json(status, "{\"id\":\"" + id + "\",\"offset\":" + std::to_string(held) + "}");
}

CResumableAnswer Stored(const std::string& path, bool newly) {
  CResumableAnswer answer;
  answer.storedPath = path;
  answer.newlyStored = newly;
  return answer;
}

CResumableAnswer Refused(PartialStatus status) {
  switch (status) {
    case PartialStatus::Unknown:
      return Json(404, "{\"error\":\"unknown_upload\",\"message\":\"The PC does not know this upload\"}");
    case PartialStatus::DiskFull:
      return Json(507, "{\"error\":\"disk_full\",\"message\":\"The PC's disk is full\"}");
    case PartialStatus::CannotStore:
      return Json(500, "{\"error\":\"cannot_store\",\"message\":\"The PC could not store the file\"}");
    case PartialStatus::WriteFailed:
      return Json(500, "{\"error\":\"write_failed\",\"message\":\"The PC could not write the file\"}");
    case PartialStatus::TooMany: {
      CResumableAnswer answer =
          Json(429, "{\"error\":\"too_many_uploads\",\"message\":\"Too many uploads are open; try again later\"}");
      answer.retryAfter = 60;
      return answer;
    }
    default:
      return Json(400, "{\"error\":\"bad_form\",\"message\":\"The upload request is malformed\"}");
  }
}

CResumableAnswer Append(CPartialUploads& uploads, const std::string& id, int64_t offset, int64_t contentLength,
                        const CBodyRead& read, const CPieceProgress& progress) {
  std::unique_ptr<CPartialUploads::CPiece> piece;
  int64_t held = 0;
  std::string stored;
  const PartialStatus begun = uploads.BeginPiece(id, offset, piece, held, stored);
  if (begun == PartialStatus::Complete) return Stored(stored, false);
  if (begun == PartialStatus::WrongOffset) return Held(id, held, 409);
  if (begun != PartialStatus::Ok) return Refused(begun);
  int64_t size = 0;
  std::string ignored;
  uploads.Query(id, held, size, ignored);
  if (contentLength > size - offset)
    return Json(413, "{\"error\":\"bad_form\",\"message\":\"The piece reaches beyond the file's size\"}");

  const std::string name = progress ? piece->Name() : std::string();
  if (progress) progress(name, offset, size);
  std::vector<char> buffer(kReadPiece);
  for (;;) {
    const int n = read(buffer.data(), buffer.size());
    if (n <= 0) break;  // the end of the body, or a break: what arrived stays held either way
    const PartialStatus written = piece->Write(buffer.data(), static_cast<size_t>(n));
    if (written == PartialStatus::Superseded) return Held(id, piece->Held(), 409);
    if (written != PartialStatus::Ok) return Refused(written);
    if (progress) progress(name, piece->Held(), size);
  }
  const PartialStatus finished = piece->Finish(stored);
  if (finished == PartialStatus::Complete) return Stored(stored, true);
  if (finished == PartialStatus::Ok) return Held(id, piece->Held());
  if (finished == PartialStatus::Superseded) return Held(id, piece->Held(), 409);
  return Refused(finished);
}

}  // namespace

CResumableAnswer AnswerResumableUpload(CPartialUploads& uploads, const std::string& method, const std::string& query,
                                       int64_t contentLength, const CBodyRead& read, const CPieceProgress& progress,
                                       const std::string& address) {
  std::string id, name;
  int64_t size = 0, mtime = 0, offset = 0, held = 0;
  if (method == "POST") {
    if (!QueryParameter(query, "name", name) || !QueryNumber(query, "size", size) ||
        !QueryNumber(query, "mtime", mtime))
      return Refused(PartialStatus::BadRequest);
    const PartialStatus started = uploads.Start(name, size, mtime, id, held, address);
    return started == PartialStatus::Ok ? Held(id, held) : Refused(started);
  }
  if (!QueryParameter(query, "id", id)) return Refused(PartialStatus::BadRequest);
  if (method == "GET" || method == "HEAD") {
    std::string stored;
    const PartialStatus found = uploads.Query(id, held, size, stored);
    if (found == PartialStatus::Unknown) return Refused(found);
    return Json(200, "{\"id\":\"" + id + "\",\"offset\":" + std::to_string(held) + ",\"size\":" + std::to_string(size) +
                         ",\"booked\":" + std::to_string(uploads.BookedFor(id)) + "}");
  }
  if (method == "PUT" && QueryNumber(query, "offset", offset))
    return Append(uploads, id, offset, contentLength, read, progress);
  return Refused(PartialStatus::BadRequest);
}
