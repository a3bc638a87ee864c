// The multipart receiver, the part header rule and the boundary rule. The input's first line is a
// Content-Type value, the next four bytes choose how the body is cut into reads and when the disk is
// full, the rest is the body. The body is received twice, in one piece and cut into reads: both must
// store the same files and tell the same failures in the same order. Every part begun ends saved or
// abandoned; an abandoned part leaves nothing and is told as failed; a saved part never holds its
// delimiter; names stay inside tmp/. The body is also read as one part header block: a file name it
// yields never holds a NUL from a "filename*".

#include <cerrno>
#include <cstring>
#include <string>
#include <vector>

#include "FuzzCheck.h"
#include "web/receive/MultipartBoundary.h"
#include "web/receive/MultipartReceiver.h"
#include "web/receive/PartHeader.h"
#include "web/receive/UploadName.h"

namespace {

struct CMemoryFile {
  std::string name;
  std::string data;
};

// Files in memory; the disk holds `room` bytes (unlimited when 0).
class CMemorySink : public CMultipartSink {
 public:
  explicit CMemorySink(size_t room) : m_room(room) {}
  int Begin(const std::string& sent) override {
    FUZZ_CHECK(!m_open);
    const std::string name = SafeUploadName(sent);
    if (name.empty()) return EINVAL;
    FUZZ_CHECK(name.find_first_of("/\\") == std::string::npos && name != "." && name != "..");
    FUZZ_CHECK(4 + name.size() <= kMaxSavedPath && fuzz::IsUtf8(name) && !fuzz::HasControl(name));
    m_open = true;
    m_current = {name, {}};
    return 0;
  }
  int Write(const char* data, size_t count) override {
    FUZZ_CHECK(m_open);
    if (m_room && m_used + count > m_room) return ENOSPC;
    m_used += count;
    m_current.data.append(data, count);
    return 0;
  }
  int Finish() override {
    FUZZ_CHECK(m_open);
    m_open = false;
    saved.push_back(m_current);
    return 0;
  }
  void Abandon() override {
    FUZZ_CHECK(m_open);
    m_open = false;
    m_used -= m_current.data.size();
    ++abandoned;
  }
  void Failed(const std::string& sent, UploadFailure why) override {
    FUZZ_CHECK(!m_open && why != UploadFailure::None);
    failures.emplace_back(sent, why);
  }
  bool Open() const { return m_open; }

  std::vector<CMemoryFile> saved;
  std::vector<std::pair<std::string, UploadFailure>> failures;
  int abandoned = 0;

 private:
  size_t m_room;
  size_t m_used = 0;
  bool m_open = false;
  CMemoryFile m_current;
};

struct CRun {
  CMultipartOutcome outcome;
  std::vector<CMemoryFile> saved;
  std::vector<std::pair<std::string, UploadFailure>> failures;
  int abandoned = 0;
};

CRun Receive(const std::string& boundary, const std::string& body, uint32_t seed, size_t room, bool cut) {
  fuzz::CSplits splits(seed);
  size_t at = 0;
  bool failedOnce = false;
  const bool endsInFailure = seed & 0x100;  // the body ends in a failed read rather than its end
  auto read = [&](char* into, size_t space) -> int {
    if (at == body.size()) {
      if (endsInFailure && !failedOnce) {
        failedOnce = true;
        return -1;
      }
      return 0;
    }
    const size_t n = cut ? splits.Next(std::min(space, body.size() - at)) : std::min(space, body.size() - at);
    std::memcpy(into, body.data() + at, n);
    at += n;
    return static_cast<int>(n);
  };
  CMemorySink sink(room);
  CRun run;
  run.outcome = ReceiveMultipart(boundary, read, sink);
  FUZZ_CHECK(!sink.Open());
  run.saved = sink.saved;
  run.failures = sink.failures;
  run.abandoned = sink.abandoned;
  return run;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string input(reinterpret_cast<const char*>(data), size);
  const size_t nl = input.find('\n');
  if (nl == std::string::npos || input.size() < nl + 5) return 0;
  const std::string type = input.substr(0, nl);
  uint32_t seed;
  std::memcpy(&seed, input.data() + nl + 1, 4);
  const std::string body = input.substr(nl + 5);

  std::string boundary;
  const BoundaryResult result = ParseBoundary(type.c_str(), boundary);
  if (result != BoundaryResult::Found) {
    FUZZ_CHECK(boundary.empty());
    return 0;
  }
  FUZZ_CHECK(!boundary.empty() && boundary.size() <= 70 && boundary.back() != ' ');
  FUZZ_CHECK(type.find(boundary) != std::string::npos);
  for (char c : boundary) FUZZ_CHECK(std::isalnum(static_cast<unsigned char>(c)) || std::strchr("'()+_,-./:=? ", c));

  CPartHeader header;
  if (ParsePartHeader(body.data(), body.size(), header) && header.isFile) {
    FUZZ_CHECK(header.fileName.find('\0') == std::string::npos || body.find('\0') != std::string::npos);
  }

  const size_t room = (seed & 0x200) ? (seed >> 12) % 20000 + 1 : 0;
  const CRun whole = Receive(boundary, body, seed, room, false);
  const CRun cut = Receive(boundary, body, seed, room, true);
  for (const CRun* run : {&whole, &cut}) {
    FUZZ_CHECK(run->outcome.saved == static_cast<int>(run->saved.size()));
    FUZZ_CHECK(run->outcome.failed == static_cast<int>(run->failures.size()));
    FUZZ_CHECK(run->abandoned <= 1);
    // Only the failure that ends the body's processing abandons a file; skipped parts go on.
    if (run->abandoned) FUZZ_CHECK(!run->failures.empty());
    for (size_t i = 0; i + 1 < run->failures.size(); ++i) {
      const UploadFailure f = run->failures[i].second;
      FUZZ_CHECK(f == UploadFailure::NoName || f == UploadFailure::CannotCreate);
    }
    for (const CMemoryFile& f : run->saved) FUZZ_CHECK(f.data.find("\r\n--" + boundary) == std::string::npos);
  }
  FUZZ_CHECK(whole.outcome.saved == cut.outcome.saved && whole.failures == cut.failures);
  for (size_t i = 0; i < whole.saved.size(); ++i) {
    FUZZ_CHECK(whole.saved[i].name == cut.saved[i].name);
    FUZZ_CHECK(whole.saved[i].data == cut.saved[i].data);
  }
  return 0;
}
