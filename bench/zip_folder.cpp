// Packs a folder into an archive with ZipFolderToFile, for bench/zip.sh.
//   zip_folder [--serial] ARCHIVE FOLDER
// --serial compresses each entry as one Deflate stream on one thread.

#include <cstdio>
#include <cstring>

#include "zip/FolderZip.h"

int main(int argc, char** argv) {
  int arg = 1;
  unsigned threads = 0;
  if (arg < argc && std::strcmp(argv[arg], "--serial") == 0) {
    threads = 1;
    ++arg;
  }
  if (argc - arg != 2) {
    std::fprintf(stderr, "usage: zip_folder [--serial] ARCHIVE FOLDER\n");
    return 2;
  }
  const uint32_t rc = ZipFolderToFile(argv[arg], argv[arg + 1], threads);
  if (rc != 0) std::fprintf(stderr, "zip_folder: result 0x%X\n", rc);
  return rc == 0 ? 0 : 1;
}
