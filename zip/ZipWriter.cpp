#include "zip/ZipWriter.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <zlib.h>

#include <cstring>
#include <ctime>

#include "zip/ZipCompressor.h"
#include "zip/ZipSource.h"

namespace {

constexpr size_t kTransfer = 16384;
constexpr size_t kOutputBuffer = 256 * 1024;
constexpr uint16_t kMadeBy = 0x0B17;
constexpr uint16_t kFlagMaximum = 0x0002;
constexpr uint16_t kFlagDescriptor = 0x0008;
constexpr uint16_t kFlagUtf8 = 0x0800;
constexpr uint32_t kFolderAttributes = 0x41C00010;
constexpr uint64_t kMax32 = 0xFFFFFFFFull;
constexpr uint64_t kMax16 = 0xFFFFull;
// Deflate may grow incompressible data a little; a source this close to 4 GiB gets a ZIP64 field in
// its local header in advance, so that its compressed size can never outgrow the header.
constexpr uint64_t kZip64Margin = 16ull * 1024 * 1024;

void Le16(std::vector<uint8_t>& b, uint64_t v) {
  b.push_back(static_cast<uint8_t>(v));
  b.push_back(static_cast<uint8_t>(v >> 8));
}
void Le32(std::vector<uint8_t>& b, uint64_t v) {
  Le16(b, v & 0xFFFF);
  Le16(b, (v >> 16) & 0xFFFF);
}
void Le64(std::vector<uint8_t>& b, uint64_t v) {
  Le32(b, v & kMax32);
  Le32(b, v >> 32);
}

bool HasStoredSuffix(const std::string& name) {
  static const char* const kSuffixes[] = {".Z", ".zip", ".zoo", ".arc", ".lzh", ".arj", ".gz", ".tgz"};
  const size_t dot = name.rfind('.');
  if (dot == std::string::npos) return false;
  const std::string suffix = name.substr(dot);
  for (const char* s : kSuffixes)
    if (strcasecmp(suffix.c_str(), s) == 0) return true;
  return false;
}

// Replaces every byte that does not belong to a well-formed UTF-8 sequence by "?", as a conversion
// replaces characters without a mapping by the default character. Returns whether any byte is non-ASCII.
bool CleanUtf8(std::string& s) {
  bool wide = false;
  size_t i = 0;
  while (i < s.size()) {
    const unsigned char c = static_cast<unsigned char>(s[i]);
    if (c < 0x80) {
      ++i;
      continue;
    }
    size_t len = c >= 0xF0 && c <= 0xF4 ? 4 : c >= 0xE0 ? 3 : c >= 0xC2 && c < 0xE0 ? 2 : 0;
    bool ok = len > 0 && i + len <= s.size();
    for (size_t k = 1; ok && k < len; ++k) ok = (static_cast<unsigned char>(s[i + k]) & 0xC0) == 0x80;
    if (ok && len == 3) {
      const unsigned char d = static_cast<unsigned char>(s[i + 1]);
      ok = !(c == 0xE0 && d < 0xA0) && !(c == 0xED && d >= 0xA0);  // overlong, surrogate
    }
    if (ok && len == 4) {
      const unsigned char d = static_cast<unsigned char>(s[i + 1]);
      ok = !(c == 0xF0 && d < 0x90) && !(c == 0xF4 && d >= 0x90);  // overlong, past U+10FFFF
    }
    if (!ok) {
      s[i] = '?';
      ++i;
      continue;
    }
    wide = true;
    i += len;
  }
  return wide;
}

}  // namespace

uint32_t CZipWriter::Create(const std::string& path, std::unique_ptr<CZipWriter>& writer, unsigned threads,
                            bool streamed) {
  writer.reset();
  const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  if (fd < 0) return ZIP_ERR_OPEN;
  writer.reset(new CZipWriter(fd, threads, streamed));
  return ZIP_OK;
}

CZipWriter::CZipWriter(int fd, unsigned threads, bool streamed) : m_fd(fd), m_streamed(streamed) {
  m_threads = threads ? threads : ZipProcessorCount();
  m_buffer.reserve(kOutputBuffer);
}

CZipWriter::~CZipWriter() { Close(); }

bool CZipWriter::Put(const void* data, size_t size) {
  const uint8_t* p = static_cast<const uint8_t*>(data);
  while (size > 0) {
    const size_t room = kOutputBuffer - m_buffer.size();
    const size_t n = size < room ? size : room;
    m_buffer.insert(m_buffer.end(), p, p + n);
    p += n;
    size -= n;
    if (m_buffer.size() == kOutputBuffer && !Flush()) return false;
  }
  return true;
}

// Writes the buffer out. Whole blocks of zeros become holes (the file is only ever appended to, so
// a hole reads back as the zeros it stands for): sparse sources make sparse archives. On a short write
// the bytes that reached the file stay counted and the rest is dropped, so the next entry starts where
// the file really ends.
bool CZipWriter::Flush() {
  constexpr size_t kHole = 64 * 1024;
  size_t done = 0;
  bool ok = true, hole = false;
  while (done < m_buffer.size()) {
    const uint8_t* p = m_buffer.data() + done;
    const size_t left = m_buffer.size() - done;
    if (left >= kHole && p[0] == 0 && std::memcmp(p, p + 1, kHole - 1) == 0 &&
        ::lseek(m_fd, static_cast<off_t>(kHole), SEEK_CUR) >= 0) {
      done += kHole;
      hole = true;
      continue;
    }
    const ssize_t n = ::write(m_fd, p, left >= kHole ? kHole : left);
    if (n <= 0) {
      NoteWriteError(n < 0 ? errno : ENOSPC);
      ok = false;
      break;
    }
    done += static_cast<size_t>(n);
    hole = false;
  }
  m_fileEnd += done;
  m_buffer.clear();
  // A hole at the very end would not make the file longer by itself.
  if (hole && ::ftruncate(m_fd, static_cast<off_t>(m_fileEnd)) != 0) {
    NoteWriteError(errno);
    ok = false;
  }
  if (m_streamed) Publish(m_fileEnd);
  return ok;
}

void CZipWriter::Publish(uint64_t finalBytes) {
  if (finalBytes <= m_final.load(std::memory_order_relaxed)) return;
  m_final.store(finalBytes, std::memory_order_release);
  if (m_finalListener) m_finalListener(finalBytes);
}

uint32_t CZipWriter::PrepareName(const std::string& in, bool folder, std::string& out) const {
  out = in;
  if (out.empty()) return ZIP_ERR_ARGS;
  if (folder && out.back() != '/') out.push_back('/');
  if (out.size() > kMax16) return ZIP_ERR_ARGS;
  return ZIP_OK;
}

// A provisional header has flag bit 3 and zero CRC-32; in the default layout a stored entry's sizes
// are already given, in the streamed one every file's sizes are zero (they follow in its descriptor).
uint32_t CZipWriter::WriteLocalHeader(const Entry& e, bool provisional) {
  // (Streamed file entries carry bit 3 in their final flags already; a streamed folder has no descriptor.)
  const uint16_t flags = provisional && !m_streamed ? (e.flags | kFlagDescriptor) : e.flags;
  const uint64_t size = provisional && m_streamed ? 0 : e.size;
  const uint64_t packed = !provisional ? e.compressedSize : e.method == 0 ? size : 0;
  const uint32_t crc = provisional ? 0 : e.crc;
  std::vector<uint8_t> h;
  h.reserve(30 + e.name.size() + 17 + 20);
  const uint16_t extraLength = 17 + (e.zip64Local ? 20 : 0);
  Le32(h, 0x04034B50);
  Le16(h, e.versionNeeded);
  Le16(h, flags);
  Le16(h, e.method);
  Le16(h, e.dosTime);
  Le16(h, e.dosDate);
  Le32(h, crc);
  if (e.zip64Local) {
    Le32(h, kMax32);
    Le32(h, kMax32);
  } else {
    Le32(h, packed);
    Le32(h, size);
  }
  Le16(h, e.name.size());
  Le16(h, extraLength);
  h.insert(h.end(), e.name.begin(), e.name.end());
  Le16(h, 0x5455);  // "UT"
  Le16(h, 13);
  h.push_back(0x07);
  Le32(h, e.modified);
  Le32(h, e.accessed);
  Le32(h, e.created);
  if (e.zip64Local) {
    Le16(h, 0x0001);
    Le16(h, 16);
    Le64(h, size);
    Le64(h, packed);
  }
  if (provisional) return Put(h.data(), h.size()) ? ZIP_OK : ZIP_ERR_WRITE;
  // Final values go over the provisional header in place.
  if (!Flush()) return ZIP_ERR_WRITE;
  size_t done = 0;
  while (done < h.size()) {
    const ssize_t n = ::pwrite(m_fd, h.data() + done, h.size() - done, static_cast<off_t>(e.offset + done));
    if (n <= 0) {
      NoteWriteError(n < 0 ? errno : ENOSPC);
      return ZIP_ERR_WRITE;
    }
    done += static_cast<size_t>(n);
  }
  return ZIP_OK;
}

uint32_t CZipWriter::AddFolder(const std::string& name) {
  if (m_closed) return ZIP_ERR_CLOSED;
  Entry e;
  uint32_t rc = PrepareName(name, true, e.name);
  if (rc) return rc;
  if (CleanUtf8(e.name)) e.flags |= kFlagUtf8;
  const CZipStamp now = ZipStampOf(std::time(nullptr));
  e.dosTime = now.dosTime;
  e.dosDate = now.dosDate;
  e.modified = e.accessed = e.created = now.unixTime;
  e.externalAttributes = kFolderAttributes;
  e.offset = Position();
  if ((rc = WriteLocalHeader(e, true)) != ZIP_OK) {
    DropBuffer();
    return rc;
  }
  return FinishEntry(e);
}

uint32_t CZipWriter::AddFile(const std::string& name, const std::string& source) {
  if (m_closed) return ZIP_ERR_CLOSED;
  Entry e;
  uint32_t rc = PrepareName(name, false, e.name);
  if (rc) return rc;
  const bool wide = CleanUtf8(e.name);
  e.method = HasStoredSuffix(e.name) ? 0 : 8;
  e.flags = (e.method == 8 ? kFlagMaximum : 0) | (wide ? kFlagUtf8 : 0) | (m_streamed ? kFlagDescriptor : 0);

  CZipSource src;
  if (!OpenZipSource(source, src)) {
    if (m_compressor) m_compressor->Forget(source);
    return ZIP_ERR_OPEN;
  }
  // The archive itself cannot be one of its entries: reading it while it grows would never end.
  struct stat self {};
  if (::fstat(m_fd, &self) == 0 && self.st_dev == src.device && self.st_ino == src.inode) {
    ::close(src.fd);
    return ZIP_ERR_OPEN;
  }
  e.size = src.size;
  e.externalAttributes = src.attributes;
  e.dosTime = src.modified.dosTime;
  e.dosDate = src.modified.dosDate;
  e.modified = src.modified.unixTime;
  e.accessed = src.accessedTime;
  e.created = src.createdTime;
  e.zip64Local = src.size >= kMax32 - kZip64Margin;
  if (e.zip64Local) e.versionNeeded = 45;
  e.offset = Position();

  rc = WriteLocalHeader(e, true);
  if (rc == ZIP_OK) {
    if (e.method == 0) {
      rc = StoreData(src.fd, e);
    } else if (m_threads > 1) {
      if (!m_compressor) m_compressor.reset(new CZipCompressor(m_threads));
      rc = m_compressor->Deflate(src.fd, source, *this, e.crc, e.size, e.compressedSize);
    } else {
      rc = DeflateSerial(src.fd, e);
    }
  }
  ::close(src.fd);
  if (rc == ZIP_OK && Cancelled()) rc = ZIP_ERR_CANCELLED;
  // Sizes that the local header cannot hold are never written wrapped: the entry fails instead.
  if (rc == ZIP_OK && !e.zip64Local && (e.size >= kMax32 || e.compressedSize >= kMax32)) rc = ZIP_ERR_WRITE;
  if (rc == ZIP_OK && !m_streamed) rc = Flush() ? ZIP_OK : ZIP_ERR_WRITE;
  if (rc != ZIP_OK) {
    DropBuffer();
    return rc;
  }
  return FinishEntry(e);
}

void CZipWriter::Prefetch(const std::string& name, const std::string& source) {
  if (m_closed || m_threads < 2 || HasStoredSuffix(name)) return;
  if (!m_compressor) m_compressor.reset(new CZipCompressor(m_threads));
  m_compressor->Prefetch(source);
}

uint32_t CZipWriter::StoreData(int src, Entry& e) {
  std::vector<uint8_t> piece(kOutputBuffer);
  uLong crc = crc32(0L, Z_NULL, 0);
  uint64_t total = 0;
  for (;;) {
    if (Cancelled()) return ZIP_ERR_CANCELLED;
    const ssize_t n = ::read(src, piece.data(), piece.size());
    if (n < 0) return ZIP_ERR_WRITE;
    if (n == 0) break;
    crc = crc32_z(crc, piece.data(), static_cast<size_t>(n));
    total += static_cast<uint64_t>(n);
    if (!Put(piece.data(), static_cast<size_t>(n)) || !Settle()) return ZIP_ERR_WRITE;
  }
  e.crc = static_cast<uint32_t>(crc);
  e.size = total;
  e.compressedSize = total;
  return ZIP_OK;
}

uint32_t CZipWriter::DeflateSerial(int src, Entry& e) {
  z_stream z{};
  if (deflateInit2(&z, 8, Z_DEFLATED, -MAX_WBITS, 8, Z_DEFAULT_STRATEGY) != Z_OK) return ZIP_ERR_WRITE;
  std::vector<uint8_t> in(kTransfer), out(kTransfer);
  uLong crc = crc32(0L, Z_NULL, 0);
  uint64_t total = 0, packed = 0, settled = 0;
  uint32_t rc = ZIP_OK;
  int flush = Z_NO_FLUSH;
  while (rc == ZIP_OK && flush != Z_FINISH) {
    if (Cancelled()) {
      rc = ZIP_ERR_CANCELLED;
      break;
    }
    const ssize_t n = ::read(src, in.data(), in.size());
    if (n < 0) {
      rc = ZIP_ERR_WRITE;
      break;
    }
    if (n == 0) flush = Z_FINISH;
    crc = crc32_z(crc, in.data(), static_cast<size_t>(n));
    total += static_cast<uint64_t>(n);
    z.next_in = in.data();
    z.avail_in = static_cast<uInt>(n);
    int zr;
    do {
      z.next_out = out.data();
      z.avail_out = static_cast<uInt>(out.size());
      zr = deflate(&z, flush);
      if (zr == Z_STREAM_ERROR) {
        rc = ZIP_ERR_WRITE;
        break;
      }
      const size_t have = out.size() - z.avail_out;
      packed += have;
      if (!Put(out.data(), have)) {
        rc = ZIP_ERR_WRITE;
        break;
      }
    } while (z.avail_out == 0);
    if (rc == ZIP_OK && flush == Z_FINISH && zr != Z_STREAM_END) rc = ZIP_ERR_WRITE;
    if (rc == ZIP_OK && total - settled >= kOutputBuffer) {
      settled = total;
      if (!Settle()) rc = ZIP_ERR_WRITE;
    }
  }
  deflateEnd(&z);
  e.crc = static_cast<uint32_t>(crc);
  e.size = total;
  e.compressedSize = packed;
  return rc;
}

// Default layout: the final header goes over the provisional one. Streamed: a file's data descriptor
// follows its data, and the entry is written out before it is listed.
uint32_t CZipWriter::FinishEntry(Entry& e) {
  uint32_t rc = ZIP_OK;
  if (!m_streamed) {
    rc = WriteLocalHeader(e, false);
  } else {
    if (e.flags & kFlagDescriptor) rc = WriteDescriptor(e);
    if (rc == ZIP_OK && !Flush()) rc = ZIP_ERR_WRITE;
    if (rc != ZIP_OK) DropBuffer();
  }
  if (rc != ZIP_OK) return rc;
  m_entries.push_back(std::move(e));
  return ZIP_OK;
}

uint32_t CZipWriter::WriteDescriptor(const Entry& e) {
  std::vector<uint8_t> d;
  Le32(d, 0x08074B50);
  Le32(d, e.crc);
  if (e.zip64Local) {
    Le64(d, e.compressedSize);
    Le64(d, e.size);
  } else {
    Le32(d, e.compressedSize);
    Le32(d, e.size);
  }
  return Put(d.data(), d.size()) ? ZIP_OK : ZIP_ERR_WRITE;
}

uint32_t CZipWriter::Close() {
  if (m_closed) return ZIP_OK;
  m_closed = true;
  m_compressor.reset();
  bool ok = Flush();
  const uint64_t directoryOffset = Position();
  for (const Entry& e : m_entries) {
    const bool bigSize = e.size >= kMax32, bigPacked = e.compressedSize >= kMax32, bigOffset = e.offset >= kMax32;
    std::vector<uint8_t> z64;
    if (bigSize) Le64(z64, e.size);
    if (bigPacked) Le64(z64, e.compressedSize);
    if (bigOffset) Le64(z64, e.offset);
    const uint16_t needed = z64.empty() ? e.versionNeeded : 45;
    std::vector<uint8_t> h;
    h.reserve(46 + e.name.size() + 9 + 4 + z64.size());
    Le32(h, 0x02014B50);
    Le16(h, needed > 23 ? (kMadeBy & 0xFF00) | needed : kMadeBy);
    Le16(h, needed);
    Le16(h, e.flags);
    Le16(h, e.method);
    Le16(h, e.dosTime);
    Le16(h, e.dosDate);
    Le32(h, e.crc);
    Le32(h, bigPacked ? kMax32 : e.compressedSize);
    Le32(h, bigSize ? kMax32 : e.size);
    Le16(h, e.name.size());
    Le16(h, 9 + (z64.empty() ? 0 : 4 + z64.size()));
    Le16(h, 0);  // comment
    Le16(h, 0);  // disk number start
    Le16(h, 0);  // internal attributes
    Le32(h, e.externalAttributes);
    Le32(h, bigOffset ? kMax32 : e.offset);
    h.insert(h.end(), e.name.begin(), e.name.end());
    Le16(h, 0x5455);
    Le16(h, 5);
    h.push_back(0x07);
    Le32(h, e.modified);
    if (!z64.empty()) {
      Le16(h, 0x0001);
      Le16(h, z64.size());
      h.insert(h.end(), z64.begin(), z64.end());
    }
    ok = Put(h.data(), h.size()) && ok;
  }
  const uint64_t directoryEnd = Position();
  const uint64_t directorySize = directoryEnd - directoryOffset;
  const uint64_t count = m_entries.size();
  const bool zip64 = count >= kMax16 || directorySize >= kMax32 || directoryOffset >= kMax32;
  std::vector<uint8_t> t;
  if (zip64) {
    Le32(t, 0x06064B50);  // ZIP64 end of central directory record
    Le64(t, 44);
    Le16(t, (kMadeBy & 0xFF00) | 45);
    Le16(t, 45);
    Le32(t, 0);
    Le32(t, 0);
    Le64(t, count);
    Le64(t, count);
    Le64(t, directorySize);
    Le64(t, directoryOffset);
    Le32(t, 0x07064B50);  // its locator
    Le32(t, 0);
    Le64(t, directoryEnd);
    Le32(t, 1);
  }
  Le32(t, 0x06054B50);
  Le16(t, 0);
  Le16(t, 0);
  Le16(t, count >= kMax16 ? kMax16 : count);
  Le16(t, count >= kMax16 ? kMax16 : count);
  Le32(t, directorySize >= kMax32 ? kMax32 : directorySize);
  Le32(t, directoryOffset >= kMax32 ? kMax32 : directoryOffset);
  Le16(t, 0);
  ok = Put(t.data(), t.size()) && ok;
  ok = Flush() && ok;
  if (::close(m_fd) != 0) {
    NoteWriteError(errno);
    ok = false;
  }
  m_fd = -1;
  m_entries.clear();
  if (ok) Publish(m_fileEnd);
  return ok ? ZIP_OK : ZIP_ERR_WRITE;
}
