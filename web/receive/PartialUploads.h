#pragma once
// Uploads that survive a broken connection: a file arrives in pieces, each appended at the length
// the PC already holds, and enters the upload folder only when its last byte has arrived.
//
// Partial data lies in a folder of its own outside the upload folder, one file per upload, named by
// the upload's id; nothing serves or lists it. An upload is known by an id derived from the file's
// name, size and modification time, so that the same file chosen again (after the page was
// reloaded) resumes. Partial data untouched for 24 hours is removed, and all of it when the object
// ends (and, left by an earlier run, when it begins).
//
// What an upload still needs is booked against the free space of the disk, which every upload
// (multipart ones too) counts. The bookings are bounded: an upload that has sent nothing within
// kMaxUnsentBooking of its start is removed; the uploads of one client address that are not
// sending at the moment book at most kIdleBookingCap between them (those sending book all they still
// need); one address may hold kMaxOpenPerAddress unfinished uploads and all addresses kMaxOpen; the
// records of finished uploads (kept so that a lost final reply can be asked for again) are at most
// kMaxFinished, the oldest forgotten first; names are kept to kMaxNameBytes.
//
// Free of the server library; shared by the web service's threads (every member is thread-safe).

#include <chrono>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>

struct CPartialEntry;

enum class PartialStatus {
  Ok,           // the piece was taken (or the upload started / found)
  Complete,     // the file is whole and stored in the upload folder
  Unknown,      // no upload has this id
  WrongOffset,  // the piece does not begin at the length held
  Superseded,   // a later piece of the same upload took over
  BadRequest,   // a size that cannot be, a piece beyond the size, a name that cannot be stored
  DiskFull,     // no room for what the upload still needs
  CannotStore,  // the partial or the stored file could not be created or moved
  WriteFailed,  // writing the partial data failed
  TooMany,      // the address, or all of them, hold as many unfinished uploads as they may
};

class CPartialUploads {
 public:
  using Clock = std::chrono::steady_clock;
  static constexpr std::chrono::hours kMaxIdle{24};
  static constexpr std::chrono::minutes kMaxUnsentBooking{10};
  // An upload that wrote within this time, or has a piece under way, is sending.
  static constexpr std::chrono::seconds kSendingWithin{60};
  static constexpr int64_t kIdleBookingCap = int64_t{4} << 30;
  static constexpr size_t kMaxOpenPerAddress = 64;
  static constexpr size_t kMaxOpen = 4096;
  // A lost final reply is asked for again within moments; a thousand outlast any phone's retries.
  static constexpr size_t kMaxFinished = 1024;
  static constexpr size_t kMaxNameBytes = 255;
  // Room kept free on the disk: an upload that would leave less is refused.
  static constexpr int64_t kFreeSpaceReserve = 4 * 1024 * 1024;
  // The largest size accepted: every size a page can state exactly (2^53).
  static constexpr int64_t kMaxSize = int64_t{1} << 53;

  // partFolder is created (mode 0700) with the first upload; savedFolder must exist when files complete.
  CPartialUploads(std::string partFolder, std::string savedFolder,
                  std::function<Clock::time_point()> clock = Clock::now);
  ~CPartialUploads();
  CPartialUploads(const CPartialUploads&) = delete;
  CPartialUploads& operator=(const CPartialUploads&) = delete;

  // The id of an upload of the file by name, size and modification time (16 hexadecimal digits).
  static std::string IdFor(const std::string& name, int64_t size, int64_t mtime);

  // Starts the upload of that file for the client address, or finds it: Ok with its id and the
  // length held (0 for a new one). An upload that completed earlier starts again. The name is cut to
  // kMaxNameBytes (whole characters) first. Refused with DiskFull when the free space, less the
  // reserve and the bookings, cannot take it; with TooMany (nothing kept) past the counts above.
  PartialStatus Start(const std::string& name, int64_t size, int64_t mtime, std::string& id, int64_t& held,
                      const std::string& address = {});

  // Ok with the length held and the size of an unfinished upload; Complete with the stored path of
  // one that finished (so that a lost final reply can be asked for again); else Unknown.
  PartialStatus Query(const std::string& id, int64_t& held, int64_t& size, std::string& storedPath);

  // One piece of an upload, written as it arrives. Destroying it ends the piece (what was written
  // stays held).
  class CPiece {
   public:
    ~CPiece();
    // Appends the bytes: Ok, BadRequest (beyond the size: nothing written), Superseded, DiskFull or
    // WriteFailed.
    PartialStatus Write(const char* data, size_t count);
    // Ends the piece: Complete with the stored path when the file is whole (moved into the upload
    // folder), Ok when more is to come, or Superseded / DiskFull / CannotStore.
    PartialStatus Finish(std::string& storedPath);
    int64_t Held() const;
    // The upload's file name as sent.
    std::string Name() const;

   private:
    friend class CPartialUploads;
    CPiece(const CPartialUploads& owner, std::shared_ptr<CPartialEntry> entry, uint64_t generation, int fd);
    const CPartialUploads& m_owner;
    std::shared_ptr<CPartialEntry> m_entry;
    uint64_t m_generation;
    int m_fd;
  };

  // Begins a piece at offset: Ok with the piece, WrongOffset with the length held, Complete (the
  // upload finished; offset equal to its size) with the stored path, Unknown or CannotStore. A new
  // piece takes over from one still under way, whose further writes are refused.
  PartialStatus BeginPiece(const std::string& id, int64_t offset, std::unique_ptr<CPiece>& piece, int64_t& held,
                           std::string& storedPath);

  // The bytes booked for unfinished uploads: counted against the free space by every upload.
  int64_t ReservedBytes();
  // The bytes booked for that upload now (0 for one unknown or finished).
  int64_t BookedFor(const std::string& id);
  // Uploads known (unfinished and finished).
  size_t Count();

  // Removes the partial data of uploads untouched for kMaxIdle (run by Start; public for the owner's
  // own schedule).
  void RemoveExpired();

 private:
  std::string DataPath(const std::string& id) const;
  void RemoveAll();
  // The bytes booked now by each unfinished upload, and their sum.
  int64_t BookingsLocked(Clock::time_point now, std::map<std::string, int64_t>* each = nullptr);
  void RemoveExpiredLocked(Clock::time_point now);

  const std::string m_partFolder;
  const std::string m_savedFolder;
  const std::function<Clock::time_point()> m_clock;
  std::mutex m_lock;  // guards m_entries; each entry has its own lock for its data
  std::map<std::string, std::shared_ptr<CPartialEntry>> m_entries;
};
