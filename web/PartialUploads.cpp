#include "web/PartialUploads.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <vector>

#include "web/FreeSpace.h"
#include "web/SavedFile.h"
#include "web/UploadName.h"

struct CPartialEntry {
  std::mutex lock;  // guards every field below
  std::string name;
  std::string dataPath;
  int64_t size = 0;
  int64_t held = 0;
  uint64_t generation = 0;  // of the piece allowed to write
  bool complete = false;
  std::string storedPath;
  CPartialUploads::Clock::time_point touched;
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

int64_t CPartialUploads::ReservedLocked() {
  int64_t reserved = 0;
  for (auto& [id, entry] : m_entries) {
    std::lock_guard<std::mutex> lock(entry->lock);
    if (!entry->complete) reserved += entry->size - entry->held;
  }
  return reserved;
}

int64_t CPartialUploads::ReservedBytes() {
  std::lock_guard<std::mutex> lock(m_lock);
  return ReservedLocked();
}

void CPartialUploads::RemoveExpired() {
  const Clock::time_point limit = m_clock() - kMaxIdle;
  std::lock_guard<std::mutex> lock(m_lock);
  for (auto it = m_entries.begin(); it != m_entries.end();) {
    std::unique_lock<std::mutex> entryLock(it->second->lock);
    if (it->second->touched >= limit) {
      ++it;
      continue;
    }
    if (!it->second->complete) ::unlink(DataPath(it->first).c_str());
    it->second->generation++;  // a piece still holding it can write no more
    entryLock.unlock();
    it = m_entries.erase(it);
  }
}

PartialStatus CPartialUploads::Start(const std::string& name, int64_t size, int64_t mtime, std::string& id,
                                     int64_t& held) {
  if (size < 0 || size > kMaxSize || SafeUploadName(name).empty()) return PartialStatus::BadRequest;
  RemoveExpired();
  id = IdFor(name, size, mtime);
  std::lock_guard<std::mutex> lock(m_lock);
  auto found = m_entries.find(id);
  if (found != m_entries.end()) {
    std::lock_guard<std::mutex> entryLock(found->second->lock);
    if (!found->second->complete) {
      found->second->touched = m_clock();
      held = found->second->held;
      return PartialStatus::Ok;
    }
  }
  // The whole file lands in both folders when they lie on different file systems (it is copied then).
  ::mkdir(m_partFolder.c_str(), 0700);  // made with the first upload, removed with the object
  const int64_t partRoom = FreeSpace(m_partFolder);
  const int64_t savedRoom = FreeSpace(m_savedFolder);
  const int64_t room = savedRoom >= 0 && (partRoom < 0 || savedRoom < partRoom) ? savedRoom : partRoom;
  if (room >= 0 && size > room - kFreeSpaceReserve - ReservedLocked()) return PartialStatus::DiskFull;
  const int fd = ::open(DataPath(id).c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_NOFOLLOW | O_CLOEXEC, 0600);
  if (fd < 0) return IsDiskFull(errno) ? PartialStatus::DiskFull : PartialStatus::CannotStore;
  ::close(fd);
  auto entry = std::make_shared<CPartialEntry>();
  entry->name = name;
  entry->dataPath = DataPath(id);
  entry->size = size;
  entry->touched = m_clock();
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
  piece.reset(new CPiece(*this, entry, ++entry->generation, fd));
  return PartialStatus::Ok;
}

CPartialUploads::CPiece::CPiece(const CPartialUploads& owner, std::shared_ptr<CPartialEntry> entry, uint64_t generation,
                                int fd)
    : m_owner(owner), m_entry(std::move(entry)), m_generation(generation), m_fd(fd) {}

CPartialUploads::CPiece::~CPiece() {
  if (m_fd >= 0) ::close(m_fd);
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
  e.touched = m_owner.m_clock();
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
