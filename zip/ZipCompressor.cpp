#include "zip/ZipCompressor.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <zlib.h>

#include <cmath>
#include <system_error>

#include "zip/ZipResult.h"
#include "zip/ZipSink.h"

namespace {

constexpr size_t kPiece = 256 * 1024;
constexpr size_t kWindow = 32 * 1024;
constexpr size_t kStoredBlock = 65535;
// Entropy in bits per byte above which a piece is stored: Huffman coding alone could save at most
// about 0.6 % of it, and random data has no matches for LZ77 to find.
constexpr double kStoreEntropy = 7.95;
constexpr size_t kMaxPrefetched = 16;

// Fills the buffer from the file; returns the count read (short only at the end), or -1.
ssize_t ReadFull(int fd, uint8_t* p, size_t size) {
  size_t got = 0;
  while (got < size) {
    const ssize_t n = ::read(fd, p + got, size - got);
    if (n < 0) return -1;
    if (n == 0) break;
    got += static_cast<size_t>(n);
  }
  return static_cast<ssize_t>(got);
}

}  // namespace

CZipCompressor::CZipCompressor(unsigned threads) {
  try {
    for (unsigned i = 0; i < threads; ++i) m_threads.emplace_back([this] { Work(); });
  } catch (const std::system_error&) {
    // The system refuses more threads: the ones made pack all the same. None: the caller learns.
    if (m_threads.empty()) throw;
  }
}

CZipCompressor::~CZipCompressor() {
  {
    std::lock_guard<std::mutex> lock(m_lock);
    m_stop = true;
  }
  m_wake.notify_all();
  for (std::thread& t : m_threads) t.join();
}

bool CZipCompressor::LooksIncompressible(const uint8_t* data, size_t size) {
  if (size < 4096) return false;
  uint32_t counts[256] = {};
  for (size_t i = 0; i < size; ++i) ++counts[data[i]];
  double sum = 0;
  for (uint32_t c : counts)
    if (c) sum += c * std::log2(static_cast<double>(c));
  const double n = static_cast<double>(size);
  return std::log2(n) - sum / n > kStoreEntropy;
}

void CZipCompressor::Work() {
  z_stream z{};
  const bool ready = deflateInit2(&z, 8, Z_DEFLATED, -MAX_WBITS, 8, Z_DEFAULT_STRATEGY) == Z_OK;
  for (;;) {
    std::shared_ptr<Piece> p;
    {
      std::unique_lock<std::mutex> lock(m_lock);
      m_wake.wait(lock, [this] { return m_stop || !m_queue.empty(); });
      if (m_queue.empty()) break;
      p = m_queue.front();
      m_queue.pop_front();
    }
    if (ready) {
      Compress(*p, &z);
    } else {
      p->failed = true;
    }
    {
      std::lock_guard<std::mutex> lock(m_lock);
      p->done = true;
    }
    m_done.notify_all();
  }
  if (ready) deflateEnd(&z);
}

void CZipCompressor::Compress(Piece& p, void* stream) {
  if (!p.path.empty()) {
    // A prefetch: the whole file, when it fits one piece.
    const int fd = ::open(p.path.c_str(), O_RDONLY | O_NONBLOCK | O_NOFOLLOW | O_CLOEXEC);
    struct stat st {};
    p.skipped = fd < 0 || ::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || st.st_size >= static_cast<off_t>(kPiece);
    if (!p.skipped) {
      p.in.resize(kPiece);
      const ssize_t n = ReadFull(fd, p.in.data(), kPiece);
      p.skipped = n < 0 || static_cast<size_t>(n) >= kPiece;
      if (!p.skipped) p.in.resize(static_cast<size_t>(n));
    }
    if (fd >= 0) ::close(fd);
    if (p.skipped) return;
  }
  p.crc = static_cast<uint32_t>(crc32_z(0L, p.in.data(), p.in.size()));
  if (LooksIncompressible(p.in.data(), p.in.size())) {
    // Stored blocks: header byte (final bit only), LEN, NLEN, the bytes.
    p.out.reserve(p.in.size() + (p.in.size() / kStoredBlock + 1) * 5);
    for (size_t at = 0; at < p.in.size(); at += kStoredBlock) {
      const size_t len = std::min(kStoredBlock, p.in.size() - at);
      const bool final = p.last && at + len == p.in.size();
      const uint8_t head[5] = {static_cast<uint8_t>(final ? 1 : 0), static_cast<uint8_t>(len),
                               static_cast<uint8_t>(len >> 8), static_cast<uint8_t>(~len),
                               static_cast<uint8_t>(~len >> 8)};
      p.out.insert(p.out.end(), head, head + 5);
      p.out.insert(p.out.end(), p.in.begin() + static_cast<ptrdiff_t>(at),
                   p.in.begin() + static_cast<ptrdiff_t>(at + len));
    }
    return;
  }
  z_stream& z = *static_cast<z_stream*>(stream);
  if (deflateReset(&z) != Z_OK ||
      (!p.dictionary.empty() &&
       deflateSetDictionary(&z, p.dictionary.data(), static_cast<uInt>(p.dictionary.size())) != Z_OK)) {
    p.failed = true;
    return;
  }
  p.out.resize(deflateBound(&z, p.in.size()) + 64);
  z.next_in = p.in.data();
  z.avail_in = static_cast<uInt>(p.in.size());
  size_t have = 0;
  const int flush = p.last ? Z_FINISH : Z_SYNC_FLUSH;
  for (;;) {
    if (have == p.out.size()) p.out.resize(p.out.size() * 2);
    z.next_out = p.out.data() + have;
    z.avail_out = static_cast<uInt>(p.out.size() - have);
    const int rc = deflate(&z, flush);
    have = p.out.size() - z.avail_out;
    if (rc == Z_STREAM_ERROR) {
      p.failed = true;
      return;
    }
    if (p.last ? rc == Z_STREAM_END : (z.avail_in == 0 && z.avail_out > 0)) break;
  }
  p.out.resize(have);
}

void CZipCompressor::Prefetch(const std::string& path) {
  if (m_prefetched.size() >= kMaxPrefetched || m_prefetched.count(path)) return;
  auto p = std::make_shared<Piece>();
  p->path = path;
  p->last = true;
  m_prefetched[path] = p;
  {
    std::lock_guard<std::mutex> lock(m_lock);
    m_queue.push_back(p);
  }
  m_wake.notify_one();
}

uint32_t CZipCompressor::Deflate(int src, const std::string& path, IZipSink& out, uint32_t& crc, uint64_t& size,
                                 uint64_t& compressed) {
  const auto found = m_prefetched.find(path);
  if (found != m_prefetched.end()) {
    std::shared_ptr<Piece> p = found->second;
    m_prefetched.erase(found);
    {
      std::unique_lock<std::mutex> lock(m_lock);
      m_done.wait(lock, [&] { return p->done; });
    }
    if (!p->skipped) {
      if (p->failed) return ZIP_ERR_WRITE;
      crc = p->crc;
      size = p->in.size();
      compressed = p->out.size();
      return out.Put(p->out.data(), p->out.size()) ? ZIP_OK : ZIP_ERR_WRITE;
    }
  }
  const size_t maxInFlight = m_threads.size() * 2 + 1;
  std::deque<std::shared_ptr<Piece>> inFlight;
  uLong sum = crc32(0L, Z_NULL, 0);
  uint64_t total = 0, packed = 0;
  uint32_t rc = ZIP_OK;
  std::vector<uint8_t> window;

  // Writes the oldest piece once it is done.
  auto retire = [&] {
    std::shared_ptr<Piece> p = inFlight.front();
    inFlight.pop_front();
    {
      std::unique_lock<std::mutex> lock(m_lock);
      m_done.wait(lock, [&] { return p->done; });
    }
    if (rc != ZIP_OK) return;
    if (p->failed) {
      rc = ZIP_ERR_WRITE;
      return;
    }
    sum = crc32_combine(sum, p->crc, static_cast<z_off_t>(p->in.size()));
    total += p->in.size();
    packed += p->out.size();
    if (!out.Put(p->out.data(), p->out.size()) || !out.Settle()) rc = ZIP_ERR_WRITE;
  };

  bool last = false;
  while (!last && rc == ZIP_OK) {
    if (out.Cancelled()) {
      rc = ZIP_ERR_CANCELLED;
      break;
    }
    auto p = std::make_shared<Piece>();
    p->in.resize(kPiece);
    const ssize_t n = ReadFull(src, p->in.data(), kPiece);
    if (n < 0) {
      rc = ZIP_ERR_WRITE;
      break;
    }
    p->in.resize(static_cast<size_t>(n));
    last = p->in.size() < kPiece;
    p->last = last;
    p->dictionary = window;
    const size_t keep = std::min(kWindow, p->in.size());
    if (keep == kWindow) {
      window.assign(p->in.end() - static_cast<ptrdiff_t>(keep), p->in.end());
    } else {
      window.insert(window.end(), p->in.end() - static_cast<ptrdiff_t>(keep), p->in.end());
      if (window.size() > kWindow) window.erase(window.begin(), window.end() - static_cast<ptrdiff_t>(kWindow));
    }
    {
      std::lock_guard<std::mutex> lock(m_lock);
      m_queue.push_back(p);
    }
    m_wake.notify_one();
    inFlight.push_back(p);
    while (inFlight.size() >= maxInFlight) retire();
  }
  while (!inFlight.empty()) retire();
  crc = static_cast<uint32_t>(sum);
  size = total;
  compressed = packed;
  return rc;
}
