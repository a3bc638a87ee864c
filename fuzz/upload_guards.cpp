// The upload direction's parsers of outside input: the secret in a query, the cross-site refusal
// from Origin, Referer and Host, and the resumable-upload requests (method, query, body) against a
// real partial-upload folder. Invariants: the secret is admitted only as the exact "k" value; a
// write with neither header, or whose Origin is exactly "http://" + its Host, is never refused;
// every "/r" answer is a known status with a JSON body, and no file appears outside the two folders.

#include <stdlib.h>
#include <unistd.h>

#include <filesystem>
#include <string>

#include "FuzzCheck.h"
#include "web/receive/PartialUploads.h"
#include "web/receive/RequestOrigin.h"
#include "web/receive/ResumableUpload.h"
#include "web/receive/UploadSecret.h"

namespace fs = std::filesystem;

namespace {
fs::path g_root;
const std::string kSecret = "Zx9_-aBcDeFgHiJkLmNoPq";
}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  char pattern[] = "/tmp/marlix-fuzz-XXXXXX";
  g_root = ::mkdtemp(pattern);
  fs::create_directories(g_root / "tmp");
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  // Fields split at NUL bytes: query, origin, referer, host, method, body.
  std::string fields[6];
  size_t f = 0;
  for (size_t i = 0; i < size && f < 6; ++i) {
    if (data[i] == 0) {
      ++f;
    } else {
      fields[f] += static_cast<char>(data[i]);
    }
  }
  const std::string &query = fields[0], &origin = fields[1], &referer = fields[2], &host = fields[3];

  const bool admitted = QueryHasUploadSecret(query, kSecret);
  FUZZ_CHECK(!admitted || query.find("k=" + kSecret) != std::string::npos);
  FUZZ_CHECK(QueryHasUploadSecret(query + "&k=" + kSecret, kSecret));
  FUZZ_CHECK(!IsCrossSiteWrite("", "", host));
  if (!host.empty() && host.find_first_of("/?#@") == std::string::npos)
    FUZZ_CHECK(!IsCrossSiteWrite("http://" + host, referer, host) || host.find(':') != std::string::npos);
  (void)IsCrossSiteWrite(origin, referer, host);

  {
    CPartialUploads uploads((g_root / ".uploading").string(), (g_root / "tmp").string());
    const std::string& body = fields[5];
    size_t at = 0;
    const CBodyRead read = [&](char* into, size_t room) {
      const size_t n = std::min(room, body.size() - at);
      body.copy(into, n, at);
      at += n;
      return static_cast<int>(n);
    };
    const std::string method = fields[4].empty() ? "PUT" : fields[4];
    const CResumableAnswer answer =
        AnswerResumableUpload(uploads, method, query, static_cast<int64_t>(body.size()), read);
    FUZZ_CHECK(answer.status == 200 || answer.status == 400 || answer.status == 404 || answer.status == 405 ||
               answer.status == 409 || answer.status == 413 || answer.status == 500 || answer.status == 507);
    if (answer.storedPath.empty()) FUZZ_CHECK(fuzz::CJsonChecker(answer.body).Valid());
  }
  for (const auto& entry : fs::directory_iterator(g_root)) {
    const std::string name = entry.path().filename().string();
    FUZZ_CHECK(name == "tmp" || name == ".uploading");
  }
  for (const auto& entry : fs::directory_iterator(g_root / "tmp")) fs::remove(entry.path());
  return 0;
}
