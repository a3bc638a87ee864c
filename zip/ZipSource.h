#pragma once
// The platform's side of an archive entry: opening a source file, its attributes and its times in the
// forms the archive stores.

#include <cstdint>
#include <ctime>
#include <string>

// One moment as the archive stores it: MS-DOS date and time of the local calendar time, and the
// extended-timestamp value (seconds since 1970-01-01 UTC, years held to 1970..2037).
struct CZipStamp {
  uint16_t dosTime = 0;
  uint16_t dosDate = 0;
  uint32_t unixTime = 0;
};
CZipStamp ZipStampOf(time_t t);

struct CZipSource {
  int fd = -1;  // open for reading, at its start
  uint64_t size = 0;
  uint64_t device = 0;
  uint64_t inode = 0;
  uint32_t attributes = 0;  // ZIP external attributes: Unix mode high, MS-DOS attributes low
  CZipStamp modified;
  uint32_t accessedTime = 0;
  uint32_t createdTime = 0;
};

// Opens a regular file for reading and fills in its facts. False when it cannot be opened or is not
// a regular file (a pipe or a device has no content to pack).
bool OpenZipSource(const std::string& path, CZipSource& src);

// Processors available to compress with.
unsigned ZipProcessorCount();
