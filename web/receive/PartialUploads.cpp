#include "web/receive/PartialUploads.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <vector>

#include "app/Utf8Cut.h"
#include "web/receive/FreeSpace.h"
#include "web/receive/SavedFile.h"
#include "web/receive/UploadName.h"

struct CPartialEntry {
  std::mutex lock;  // guards every field below
  std::string name;
  std::string dataPath;
  int64_t size = 0;
  int64_t held = 0;
  uint64_t generation = 0;  // of the piece allowed to write
  bool complete = false;
  std::string storedPath;
  std::string address;  // of the client that started it
  CPartialUploads::Clock::time_point created;
  CPartialUploads::Clock::time_point touched;
  CPartialUploads::Clock::time_point wrote;  // the last write; the epoch before the first
  int pieces = 0;                            // pieces under way
};

namespace {

bool IsIdName(const char* name) {
  size_t n = 0;
  for (; name[n]; ++n) {
    const char c = name[n];
    if (!((c >= '0' && c <= '9') || (c >= 'a' && c <= 'f'))) return false;
  }
  return n == 16;
}

bool IsDiskFull(int error) { return error == ENOSPC || error == EDQUOT || error == EFBIG; }

}  // namespace

CPartialUploads::CPartialUploads(std::string partFolder, std::string savedFolder,
                                 std::function<Clock::time_point()> clock)
    : m_partFolder(std::move(partFolder)), m_savedFolder(std::move(savedFolder)), m_clock(std::move(clock)) {
  RemoveAll();
}

CPartialUploads::~CPartialUploads() {
  RemoveAll();
  ::rmdir(m_partFolder.c_str());
}

std::string CPartialUploads::IdFor(const std::string& name, int64_t size, int64_t mtime) {
  const std::string key = name + '\0' + std::to_string(size) + '\0' + std::to_string(mtime);
  uint64_t hash = 14695981039346656037ull;  // FNV-1a
  for (const char c : key) {
    hash ^= static_cast<unsigned char>(c);
    hash *= 1099511628211ull;
  }
  char id[17];
  std::snprintf(id, sizeof id, "%016llx", static_cast<unsigned long long>(hash));
  return id;
}

std::string CPartialUploads::DataPath(const std::string& id) const { return m_partFolder + "/" + id; }

void CPartialUploads::RemoveAll() {
  // Only names this object gives its files: the folder holds nothing else of anyone's.
  DIR* dir = ::opendir(m_partFolder.c_str());
  if (!dir) return;
  std::vector<std::string> names;
  while (const dirent* entry = ::readdir(dir))
    if (IsIdName(entry->d_name)) names.emplace_back(entry->d_name);
  ::closedir(dir);
  for (const std::string& name : names) ::unlink(DataPath(name).c_str());
}

int64_t CPartialUploads::BookingsLocked(Clock::time_point now, std::map<std::string, int64_t>* each) {
  // Per address: what its sending uploads still need, and what its other uploads still need up to
  // the cap, given to them in the order they started.
  struct CIdle {
    Clock::time_point created;
    std::string id;
    int64_t need;
  };
  std::map<std::string, std::vector<CIdle>> idle;
  int64_t total = 0;
  for (auto& [id, entry] : m_entries) {
    std::lock_guard<std::mutex> lock(entry->lock);
    if (entry->complete) continue;
    const int64_t need = entry->size - entry->held;
    if (entry->pieces > 0 || now - entry->wrote < kSendingWithin) {
      total += need;
      if (each) (*each)[id] = need;
    } else {
      idle[entry->address].push_back({entry->created, id, need});
    }
  }
  for (auto& [address, uploads] : idle) {
    std::sort(uploads.begin(), uploads.end(), [](const CIdle& a, const CIdle& b) { return a.created < b.created; });
    int64_t left = kIdleBookingCap;
    for (const CIdle& u : uploads) {
      const int64_t booked = std::min(u.need, left);
      left -= booked;
      total += booked;
      if (each) (*each)[u.id] = booked;
    }
  }
  return total;
}

int64_t CPartialUploads::ReservedBytes() {
  std::lock_guard<std::mutex> lock(m_lock);
  return BookingsLocked(m_clock());
}

int64_t CPartialUploads::BookedFor(const std::string& id) {
  std::lock_guard<std::mutex> lock(m_lock);
  std::map<std::string, int64_t> each;
  BookingsLocked(m_clock(), &each);
  const auto found = each.find(id);
  return found == each.end() ? 0 : found->second;
}

size_t CPartialUploads::Count() {
  std::lock_guard<std::mutex> lock(m_lock);
  return m_entries.size();
}

void CPartialUploads::RemoveExpired() {
  std::lock_guard<std::mutex> lock(m_lock);
  RemoveExpiredLocked(m_clock());
}

void CPartialUploads::RemoveExpiredLocked(Clock::time_point now) {
  std::vector<std::pair<Clock::time_point, std::string>> finished;
  for (auto it = m_entries.begin(); it != m_entries.end();) {
    std::unique_lock<std::mutex> entryLock(it->second->lock);
    CPartialEntry& e = *it->second;
    const bool unsent = !e.complete && e.held == 0 && e.pieces == 0 && now - e.created >= kMaxUnsentBooking;
    if (!unsent && e.touched >= now - kMaxIdle) {
      if (e.complete) finished.emplace_back(e.touched, it->first);
      ++it;
      continue;
    }
    if (!e.complete) ::unlink(DataPath(it->first).c_str());
    e.generation++;  // a piece still holding it can write no more
    entryLock.unlock();
    it = m_entries.erase(it);
  }
  // Finished uploads only answer a lost final reply again: the oldest go first.
  if (finished.size() > kMaxFinished) {
    std::sort(finished.begin(), finished.end());
    for (size_t i = 0; i + kMaxFinished < finished.size(); ++i) m_entries.erase(finished[i].second);
  }
}

PartialStatus CPartialUploads::Start(const std::string& sentName, int64_t size, int64_t mtime, std::string& id,
                                     int64_t& held, const std::string& address) {
  const std::string name = CutUtf8(sentName, kMaxNameBytes);
  if (size < 0 || size > kMaxSize || name.find('\0') != std::string::npos || SafeUploadName(name).empty())
    return PartialStatus::BadRequest;
  id = IdFor(name, size, mtime);
  std::lock_guard<std::mutex> lock(m_lock);
  const Clock::time_point now = m_clock();
  RemoveExpiredLocked(now);
  auto found = m_entries.find(id);
  if (found != m_entries.end()) {
    std::lock_guard<std::mutex> entryLock(found->second->lock);
    if (!found->second->complete) {
      found->second->touched = now;
      held = found->second->held;
      return PartialStatus::Ok;
    }
  }
  size_t open = 0, ofAddress = 0;
  for (auto& [key, entry] : m_entries) {
    std::lock_guard<std::mutex> entryLock(entry->lock);
    if (entry->complete) continue;
    ++open;
    if (entry->address == address) ++ofAddress;
  }
  if (open >= kMaxOpen || ofAddress >= kMaxOpenPerAddress) return PartialStatus::TooMany;
  // The whole file lands in both folders when they lie on different file systems (it is copied then).
  ::mkdir(m_partFolder.c_str(), 0700);  // made with the first upload, removed with the object
  const int64_t partRoom = FreeSpace(m_partFolder);
  const int64_t savedRoom = FreeSpace(m_savedFolder);
  const int64_t room = savedRoom >= 0 && (partRoom < 0 || savedRoom < partRoom) ? savedRoom : partRoom;
  if (room >= 0 && size > room - kFreeSpaceReserve - BookingsLocked(now)) return PartialStatus::DiskFull;
  const int fd = ::open(DataPath(id).c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_NOFOLLOW | O_CLOEXEC, 0600);
  if (fd < 0) return IsDiskFull(errno) ? PartialStatus::DiskFull : PartialStatus::CannotStore;
  ::close(fd);
  auto entry = std::make_shared<CPartialEntry>();
  entry->name = name;
  entry->dataPath = DataPath(id);
  entry->size = size;
  entry->address = address;
  entry->created = entry->touched = now;
  m_entries[id] = entry;
  held = 0;
  return PartialStatus::Ok;
}

PartialStatus CPartialUploads::Query(const std::string& id, int64_t& held, int64_t& size, std::string& storedPath) {
  std::lock_guard<std::mutex> lock(m_lock);
  const auto found = m_entries.find(id);
  if (found == m_entries.end()) return PartialStatus::Unknown;
  std::lock_guard<std::mutex> entryLock(found->second->lock);
  held = found->second->held;
  size = found->second->size;
  storedPath = found->second->storedPath;
  return found->second->complete ? PartialStatus::Complete : PartialStatus::Ok;
}

PartialStatus CPartialUploads::BeginPiece(const std::string& id, int64_t offset, std::unique_ptr<CPiece>& piece,
                                          int64_t& held, std::string& storedPath) {
  std::lock_guard<std::mutex> lock(m_lock);
  const auto found = m_entries.find(id);
  if (found == m_entries.end()) return PartialStatus::Unknown;
  const std::shared_ptr<CPartialEntry>& entry = found->second;
  std::lock_guard<std::mutex> entryLock(entry->lock);
  held = entry->held;
  if (entry->complete) {
    storedPath = entry->storedPath;
    return offset == entry->size ? PartialStatus::Complete : PartialStatus::WrongOffset;
  }
  if (offset != entry->held) return PartialStatus::WrongOffset;
  const int fd = ::open(DataPath(id).c_str(), O_WRONLY | O_NOFOLLOW | O_CLOEXEC);
  if (fd < 0) return PartialStatus::CannotStore;
  entry->touched = m_clock();
  entry->pieces++;
  piece.reset(new CPiece(*this, entry, ++entry->generation, fd));
  return PartialStatus::Ok;
}

CPartialUploads::CPiece::CPiece(const CPartialUploads& owner, std::shared_ptr<CPartialEntry> entry, uint64_t generation,
                                int fd)
    : m_owner(owner), m_entry(std::move(entry)), m_generation(generation), m_fd(fd) {}

CPartialUploads::CPiece::~CPiece() {
  if (m_fd >= 0) ::close(m_fd);
  std::lock_guard<std::mutex> lock(m_entry->lock);
  m_entry->pieces--;
}

int64_t CPartialUploads::CPiece::Held() const {
  std::lock_guard<std::mutex> lock(m_entry->lock);
  return m_entry->held;
}

std::string CPartialUploads::CPiece::Name() const {
  std::lock_guard<std::mutex> lock(m_entry->lock);
  return m_entry->name;
}

PartialStatus CPartialUploads::CPiece::Write(const char* data, size_t count) {
  std::lock_guard<std::mutex> lock(m_entry->lock);
  CPartialEntry& e = *m_entry;
  if (e.generation != m_generation || m_fd < 0) return PartialStatus::Superseded;
  if (static_cast<int64_t>(count) > e.size - e.held) return PartialStatus::BadRequest;
  while (count > 0) {
    const ssize_t n = ::pwrite(m_fd, data, count, e.held);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return n < 0 && !IsDiskFull(errno) ? PartialStatus::WriteFailed : PartialStatus::DiskFull;
    e.held += n;
    data += n;
    count -= static_cast<size_t>(n);
  }
  e.touched = e.wrote = m_owner.m_clock();
  return PartialStatus::Ok;
}

PartialStatus CPartialUploads::CPiece::Finish(std::string& storedPath) {
  std::lock_guard<std::mutex> lock(m_entry->lock);
  CPartialEntry& e = *m_entry;
  if (e.generation != m_generation || m_fd < 0) return PartialStatus::Superseded;
  if (e.held < e.size) return PartialStatus::Ok;
  ::fchmod(m_fd, 0644);  // as the multipart receiver creates its files
  const int closed = ::close(m_fd);
  m_fd = -1;
  if (closed != 0) return PartialStatus::WriteFailed;
  std::string path;
  const int moved = MoveToSavedFile(e.dataPath, m_owner.m_savedFolder, e.name, path);
  if (moved != 0) {
    // The data stays held: a final piece again (an empty one at the size) tries the move again.
    return IsDiskFull(moved) ? PartialStatus::DiskFull : PartialStatus::CannotStore;
  }
  e.complete = true;
  e.storedPath = storedPath = path;
  e.touched = m_owner.m_clock();
  return PartialStatus::Complete;
}
