#include "zip/ZipSource.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <thread>

namespace {

constexpr uint32_t kDosReadOnly = 0x01;
constexpr uint32_t kUnixRegular = 0x8000, kUnixRead = 0x0100, kUnixWrite = 0x0080, kUnixExecute = 0x0040;

uint32_t Le32At(const unsigned char* p) {
  return p[0] | (static_cast<uint32_t>(p[1]) << 8) | (static_cast<uint32_t>(p[2]) << 16) |
         (static_cast<uint32_t>(p[3]) << 24);
}

// A Windows program: "MZ", and a PE, NE, LE or MZ signature at the new-header offset.
bool IsWindowsExecutable(int fd, uint64_t size) {
  if (size <= 40) return false;
  unsigned char head[64] = {};
  const ssize_t got = ::pread(fd, head, sizeof head, 0);
  if (got < 2 || head[0] != 'M' || head[1] != 'Z' || got < 64) return false;
  const uint64_t at = Le32At(head + 60);
  if (at + 52 >= size) return false;
  unsigned char sig[4];
  if (::pread(fd, sig, 4, static_cast<off_t>(at)) != 4) return false;
  const uint32_t v = Le32At(sig);
  return v == 0x4550 || v == 0x454E || v == 0x454C || v == 0x5A4D;
}

}  // namespace

CZipStamp ZipStampOf(time_t t) {
  CZipStamp s;
  struct tm local {};
  if (!localtime_r(&t, &local)) return s;
  const int year = local.tm_year + 1900;
  // MS-DOS dates run from 1980 to 2107; earlier and later times take the nearest end.
  if (year < 1980) {
    s.dosDate = (1 << 5) | 1;
  } else if (year > 2107) {
    s.dosDate = static_cast<uint16_t>((127 << 9) | (12 << 5) | 31);
    s.dosTime = static_cast<uint16_t>((23 << 11) | (59 << 5) | 29);
  } else {
    s.dosDate = static_cast<uint16_t>(((year - 1980) << 9) | ((local.tm_mon + 1) << 5) | local.tm_mday);
    s.dosTime = static_cast<uint16_t>((local.tm_hour << 11) | (local.tm_min << 5) | (local.tm_sec / 2));
  }
  // The extended timestamp holds years 1970 to 2037: beyond them the same time of day on the
  // nearest end day.
  if (year >= 1970 && year <= 2037) {
    s.unixTime = static_cast<uint32_t>(static_cast<int64_t>(t));
  } else {
    struct tm held = local;
    held.tm_year = (year < 1970 ? 1970 : 2037) - 1900;
    held.tm_mon = year < 1970 ? 0 : 11;
    held.tm_mday = year < 1970 ? 1 : 31;
    held.tm_isdst = -1;
    const time_t h = mktime(&held);
    s.unixTime = static_cast<uint32_t>(static_cast<int64_t>(h < 0 ? 0 : h));
  }
  return s;
}

bool OpenZipSource(const std::string& path, CZipSource& src) {
  // Non-blocking, so that a named pipe met on the way does not hang the walk.
  const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOFOLLOW | O_CLOEXEC);
  if (fd < 0) return false;
  struct statx sx {};
  if (::statx(fd, "", AT_EMPTY_PATH, STATX_BASIC_STATS | STATX_BTIME, &sx) != 0 || !S_ISREG(sx.stx_mode)) {
    ::close(fd);
    return false;
  }
  ::fcntl(fd, F_SETFL, 0);
  ::posix_fadvise(fd, 0, 0, POSIX_FADV_SEQUENTIAL);
  src.fd = fd;
  src.size = sx.stx_size;
  src.device = makedev(sx.stx_dev_major, sx.stx_dev_minor);
  src.inode = sx.stx_ino;
  // The file system knows only one of the MS-DOS attributes: read-only, as no owner write permission.
  const bool readOnly = (sx.stx_mode & S_IWUSR) == 0;
  const bool executable = (sx.stx_mode & S_IXUSR) != 0 || IsWindowsExecutable(fd, src.size);
  const uint32_t mode = kUnixRegular | kUnixRead | (readOnly ? 0 : kUnixWrite) | (executable ? kUnixExecute : 0);
  src.attributes = (mode << 16) | (readOnly ? kDosReadOnly : 0);
  src.modified = ZipStampOf(static_cast<time_t>(sx.stx_mtime.tv_sec));
  src.accessedTime = ZipStampOf(static_cast<time_t>(sx.stx_atime.tv_sec)).unixTime;
  const bool hasBirth = (sx.stx_mask & STATX_BTIME) != 0;
  src.createdTime = ZipStampOf(static_cast<time_t>(hasBirth ? sx.stx_btime.tv_sec : sx.stx_mtime.tv_sec)).unixTime;
  return true;
}

unsigned ZipProcessorCount() {
  const unsigned n = std::thread::hardware_concurrency();
  return n ? n : 1;
}
