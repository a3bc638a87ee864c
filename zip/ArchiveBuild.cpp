#include "zip/ArchiveBuild.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <memory>
#include <system_error>
#include <utility>

#include "zip/FolderZip.h"
#include "zip/ZipWriter.h"

CArchiveBuild::CArchiveBuild(std::string archivePath, std::string folderPath, const std::atomic<bool>* cancel,
                             unsigned threads)
    : m_path(std::move(archivePath)), m_folder(std::move(folderPath)), m_cancel(cancel), m_threads(threads) {
  // A thread the system refuses throws here, to the caller. One refused inside the packing (the
  // compressor's) fails the archive.
  m_thread = std::thread([this] {
    try {
      Run();
    } catch (const std::system_error&) {
      End(State::kFailed, EAGAIN);
    }
  });
}

CArchiveBuild::~CArchiveBuild() {
  m_stop.store(true);
  if (m_thread.joinable()) m_thread.join();
  if (m_readFd >= 0) ::close(m_readFd);
}

void CArchiveBuild::Run() {
  if (::unlink(m_path.c_str()) != 0 && errno != ENOENT) return End(State::kFailed, errno);
  std::unique_ptr<CZipWriter> writer;
  if (CZipWriter::Create(m_path, writer, m_threads, true) != ZIP_OK) return End(State::kFailed, errno ? errno : EIO);
  // Readers read the file itself through a descriptor of their own, open before any byte is final.
  const int fd = ::open(m_path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) {
    const int error = errno;
    writer.reset();
    ::unlink(m_path.c_str());
    return End(State::kFailed, error);
  }
  {
    std::unique_lock<std::shared_mutex> lock(m_readLock);
    m_readFd = fd;
  }
  writer->SetCancel(m_cancel, &m_stop);
  writer->SetFinalListener([this](uint64_t available) { Advance(available); });

  CZipWalkReport report;
  const uint32_t rc = AddFolderTree(*writer, m_folder, "", &report);
  m_leftOut.store(report.leftOut);
  const bool broken = writer->WriteError() != 0 || rc == ZIP_ERR_CANCELLED || writer->Cancelled();
  // The central directory of a broken archive is never offered: readers must not get a whole-looking file.
  if (broken) writer->SetFinalListener(nullptr);
  const uint32_t closed = writer->Close();
  const int writeError = writer->WriteError();
  const bool cancelled = rc == ZIP_ERR_CANCELLED || writer->Cancelled();
  writer.reset();
  if (!broken && closed == ZIP_OK && writeError == 0 && !cancelled) return End(State::kDone, 0);
  ::unlink(m_path.c_str());
  End(State::kFailed, writeError ? writeError : cancelled ? ECANCELED : EIO);
}

void CArchiveBuild::Advance(uint64_t available) {
  m_available.store(available, std::memory_order_release);
  Notify();
}

void CArchiveBuild::End(State state, int error) {
  if (state == State::kFailed) {
    std::unique_lock<std::shared_mutex> lock(m_readLock);
    if (m_readFd >= 0) ::close(m_readFd);
    m_readFd = -1;
  }
  m_error.store(error, std::memory_order_release);
  m_state.store(state, std::memory_order_release);
  Notify();
}

void CArchiveBuild::Notify() {
  { std::lock_guard<std::mutex> lock(m_waitLock); }  // a waiter between its test and its wait sees this
  m_more.notify_all();
  std::lock_guard<std::mutex> lock(m_subscribersLock);
  for (auto& [id, onMore] : m_subscribers) onMore();
}

CArchiveBuild::CRead CArchiveBuild::Read(uint64_t offset, void* buf, size_t len) const {
  CRead r;
  const State state = GetState();  // before Available: a finished state means the count is final
  const uint64_t available = Available();
  if (state == State::kFailed) {
    r.kind = CRead::kFailed;
    return r;
  }
  if (offset < available && len > 0) {
    const uint64_t want = available - offset < len ? available - offset : len;
    ssize_t n = -1;
    std::shared_lock<std::shared_mutex> lock(m_readLock);
    if (m_readFd >= 0) {
      do {
        n = ::pread(m_readFd, buf, static_cast<size_t>(want), static_cast<off_t>(offset));
      } while (n < 0 && errno == EINTR);
    }
    if (n <= 0) {
      r.kind = CRead::kFailed;
      return r;
    }
    r.kind = CRead::kData;
    r.size = static_cast<size_t>(n);
    return r;
  }
  r.kind = state == State::kDone ? CRead::kEnd : CRead::kLater;
  return r;
}

bool CArchiveBuild::WaitFor(uint64_t offset, std::chrono::milliseconds timeout) const {
  std::unique_lock<std::mutex> lock(m_waitLock);
  return m_more.wait_for(lock, timeout, [&] { return Available() > offset || GetState() != State::kBuilding; });
}

bool CArchiveBuild::WaitForEnd(std::chrono::milliseconds timeout) const {
  std::unique_lock<std::mutex> lock(m_waitLock);
  return m_more.wait_for(lock, timeout, [&] { return GetState() != State::kBuilding; });
}

uint64_t CArchiveBuild::Subscribe(std::function<void()> onMore) {
  std::lock_guard<std::mutex> lock(m_subscribersLock);
  const uint64_t id = m_nextId++;
  m_subscribers.emplace(id, std::move(onMore));
  return id;
}

void CArchiveBuild::Unsubscribe(uint64_t id) {
  std::lock_guard<std::mutex> lock(m_subscribersLock);
  m_subscribers.erase(id);
}
