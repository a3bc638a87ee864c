#pragma once
// CZipCompressor: one raw Deflate stream per entry, made by several threads at once.
//
// The source is cut into pieces that worker threads compress at level 8 side by side, each primed
// with the last 32 KiB of the piece before it as its dictionary and ended on a byte boundary (a sync
// flush), so that the pieces written in order form one valid Deflate stream that loses almost
// nothing against a single-threaded one. A piece whose bytes look random (already-compressed media)
// is written as stored Deflate blocks instead of being searched for matches that are not there.

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

class IZipSink;

class CZipCompressor {
 public:
  explicit CZipCompressor(unsigned threads);
  ~CZipCompressor();

  // Reads `src` to its end and writes the compressed stream to `out`. Gives the
  // CRC-32 and the size of the data read and the size of the stream written.
  // A source already compressed by Prefetch is taken from there (its bytes as read then).
  uint32_t Deflate(int src, const std::string& path, IZipSink& out, uint32_t& crc, uint64_t& size,
                   uint64_t& compressed);

  // Starts compressing a small file that is about to be added, so that small files keep every thread
  // busy too. Files larger than one piece are left to Deflate.
  void Prefetch(const std::string& path);
  // Drops what Prefetch started for a file that will not be added after all.
  void Forget(const std::string& path) { m_prefetched.erase(path); }

  // Whether a piece of data has so little redundancy that Deflate cannot shrink it noticeably.
  static bool LooksIncompressible(const uint8_t* data, size_t size);

  CZipCompressor(const CZipCompressor&) = delete;
  CZipCompressor& operator=(const CZipCompressor&) = delete;

 private:
  struct Piece {
    std::vector<uint8_t> dictionary;
    std::vector<uint8_t> in;
    std::vector<uint8_t> out;
    std::string path;      // a prefetch reads this file itself
    bool skipped = false;  // the prefetch found no small readable file
    bool last = false;
    bool done = false;
    bool failed = false;
    uint32_t crc = 0;
  };

  void Work();
  static void Compress(Piece& p, void* stream);

  std::vector<std::thread> m_threads;
  std::mutex m_lock;
  std::condition_variable m_wake;  // workers: a piece is queued, or stop
  std::condition_variable m_done;  // the writer: a piece is finished
  std::deque<std::shared_ptr<Piece>> m_queue;
  std::map<std::string, std::shared_ptr<Piece>> m_prefetched;  // used by the writer's thread only
  bool m_stop = false;
};
