#pragma once
// CZipWriter: writes one ZIP archive to a seekable disk file, entry by entry.
//
// Each entry's local header is written first and rewritten in place with the final CRC-32 and sizes
// once its data is out, so the archive holds no data descriptors. File data is raw Deflate at level 8
// (method 8, flag 0x0002), or stored for names with an archive suffix (.zip, .gz, ...). Every entry
// carries an extended-timestamp field. ZIP64 records are written only where a size, an offset or the
// entry count does not fit the 32-bit or 16-bit fields. A failed add leaves the archive usable:
// Close still writes the central directory of the entries completed.
//
// The streamed layout (an option at Create) never rewrites a byte once it is in the file: each file
// entry's local header has flag bit 3 and zero CRC-32 and sizes, and a data descriptor follows its data
// (with 8-byte sizes when the header has its ZIP64 field, decided from the source's size before the
// data). FinalBytes() then tells how much of the file is final while the archive is still written, so
// that it can be sent as it grows.

#include <atomic>
#include <cerrno>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "zip/ZipResult.h"
#include "zip/ZipSink.h"

class CZipCompressor;

// The compressor writes an entry's data through the writer's IZipSink side, which only the writer
// hands out.
class CZipWriter final : private IZipSink {
 public:
  // Creates or truncates the archive file. On success `writer` holds the new writer; on failure it
  // stays empty and the result is ZIP_ERR_OPEN. `threads` is the number of compression threads:
  // 0 picks one per processor, 1 compresses each entry as one stream on the calling thread.
  // `streamed` picks the streamed layout (above).
  static uint32_t Create(const std::string& path, std::unique_ptr<CZipWriter>& writer, unsigned threads = 0,
                         bool streamed = false);
  ~CZipWriter();  // closes the archive when Close was not called

  // Adds the file `source` under the entry name `name` (UTF-8, "/" between folders).
  uint32_t AddFile(const std::string& name, const std::string& source);
  // Adds an empty folder entry; a "/" is appended to the name when it has none.
  uint32_t AddFolder(const std::string& name);
  // Tells the writer that AddFile(name, source) comes soon: a small file may be compressed ahead
  // on a spare thread. Only a hint; AddFile reports every result itself.
  void Prefetch(const std::string& name, const std::string& source);
  // Writes the central directory and the end record, and closes the file. Later adds fail.
  uint32_t Close();

  // Flags that, once either is raised (by any thread), make the entry being added end with
  // ZIP_ERR_CANCELLED within one piece of its data. The flags must outlive the writer.
  void SetCancel(const std::atomic<bool>* cancel, const std::atomic<bool>* alsoCancel = nullptr) {
    m_cancel = cancel;
    m_alsoCancel = alsoCancel;
  }
  bool Cancelled() const override {
    return (m_cancel && m_cancel->load(std::memory_order_relaxed)) ||
           (m_alsoCancel && m_alsoCancel->load(std::memory_order_relaxed));
  }
  // Bytes at the start of the file that are in it and will never change; any thread may read it. In
  // the streamed layout it grows as data is written (at least once per piece of a file's data and once
  // per entry); in the default layout it stays 0 until Close has written the whole archive.
  uint64_t FinalBytes() const { return m_final.load(std::memory_order_acquire); }
  // Called on the writer's thread each time FinalBytes() has grown, with its new value. Set before the
  // first add; the call must be quick.
  void SetFinalListener(std::function<void(uint64_t)> listener) { m_finalListener = std::move(listener); }
  // The errno of the first write to the archive file that failed (0 while every one succeeded): then
  // the archive is not whole, whatever Close writes.
  int WriteError() const { return m_writeError; }

  CZipWriter(const CZipWriter&) = delete;
  CZipWriter& operator=(const CZipWriter&) = delete;

 private:
  struct Entry {
    std::string name;
    uint16_t versionNeeded = 20;
    uint16_t flags = 0;
    uint16_t method = 0;
    uint16_t dosTime = 0;
    uint16_t dosDate = 0;
    uint32_t crc = 0;
    uint64_t compressedSize = 0;
    uint64_t size = 0;
    uint32_t externalAttributes = 0;
    uint64_t offset = 0;
    uint32_t modified = 0;  // extended-timestamp values, seconds since 1970 (low 32 bits)
    uint32_t accessed = 0;
    uint32_t created = 0;
    bool zip64Local = false;  // the local header carries a ZIP64 field
  };

  CZipWriter(int fd, unsigned threads, bool streamed);
  uint32_t PrepareName(const std::string& in, bool folder, std::string& out) const;
  uint32_t WriteLocalHeader(const Entry& e, bool provisional);
  uint32_t StoreData(int src, Entry& e);
  uint32_t DeflateSerial(int src, Entry& e);
  uint32_t FinishEntry(Entry& e);
  uint32_t WriteDescriptor(const Entry& e);
  // In the streamed layout, writes out what is buffered so that it becomes final; else nothing.
  bool Settle() override { return !m_streamed || m_buffer.empty() || Flush(); }
  void Publish(uint64_t finalBytes);

  // Output goes through a buffer; m_fileEnd counts the bytes actually in the file.
  bool Put(const void* data, size_t size) override;
  bool Flush();
  void DropBuffer() { m_buffer.clear(); }
  uint64_t Position() const { return m_fileEnd + m_buffer.size(); }

  void NoteWriteError(int error) {
    if (!m_writeError) m_writeError = error ? error : EIO;
  }

  int m_fd = -1;
  int m_writeError = 0;
  const std::atomic<bool>* m_cancel = nullptr;
  const std::atomic<bool>* m_alsoCancel = nullptr;
  bool m_streamed = false;
  std::atomic<uint64_t> m_final{0};
  std::function<void(uint64_t)> m_finalListener;
  bool m_closed = false;
  uint64_t m_fileEnd = 0;
  std::vector<uint8_t> m_buffer;
  std::vector<Entry> m_entries;
  unsigned m_threads = 1;
  std::unique_ptr<CZipCompressor> m_compressor;
};
