// Packs a folder into an archive, for bench/zip.sh.
//   zip_folder [--serial | --streamed] ARCHIVE FOLDER
// --serial compresses each entry as one Deflate stream on one thread. --streamed packs with
// CArchiveBuild (the streamed layout) while one reader reads the archive as it grows, as a phone does.

#include <cstdio>
#include <cstring>
#include <vector>

#include "zip/ArchiveBuild.h"
#include "zip/FolderZip.h"

namespace {

int PackStreamed(const char* archive, const char* folder) {
  CArchiveBuild build(archive, folder);
  std::vector<char> buf(256 * 1024);
  uint64_t offset = 0;
  for (;;) {
    const CArchiveBuild::CRead r = build.Read(offset, buf.data(), buf.size());
    if (r.kind == CArchiveBuild::CRead::kData) {
      offset += r.size;
    } else if (r.kind == CArchiveBuild::CRead::kLater) {
      build.WaitFor(offset, std::chrono::seconds(1));
    } else if (r.kind == CArchiveBuild::CRead::kEnd) {
      return 0;
    } else {
      std::fprintf(stderr, "zip_folder: failed, errno %d\n", build.Error());
      return 1;
    }
  }
}

}  // namespace

int main(int argc, char** argv) {
  int arg = 1;
  unsigned threads = 0;
  bool streamed = false;
  if (arg < argc && std::strcmp(argv[arg], "--serial") == 0) {
    threads = 1;
    ++arg;
  } else if (arg < argc && std::strcmp(argv[arg], "--streamed") == 0) {
    streamed = true;
    ++arg;
  }
  if (argc - arg != 2) {
    std::fprintf(stderr, "usage: zip_folder [--serial | --streamed] ARCHIVE FOLDER\n");
    return 2;
  }
  if (streamed) return PackStreamed(argv[arg], argv[arg + 1]);
  const uint32_t rc = ZipFolderToFile(argv[arg], argv[arg + 1], threads);
  if (rc != 0) std::fprintf(stderr, "zip_folder: result 0x%X\n", rc);
  return rc == 0 ? 0 : 1;
}
