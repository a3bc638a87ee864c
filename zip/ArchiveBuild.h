#pragma once
// CArchiveBuild: packs one folder into one archive file on a thread of its own, in the streamed
// layout, so that the archive can be read and sent while it is packed.
//
// Owner: whoever serves the folder's archive; it is shared by every request for that folder (hold it
// in a std::shared_ptr while any reader uses it). The thread starts in the constructor and is joined
// in the destructor, which cancels a packing still running.
//
// Readers, from any thread and any number at once: Read copies bytes already final in the file (by
// pread of the file itself, so what is read is exactly the archive kept), never waits, and says when
// nothing is there yet, the end, or a failure. To learn when more is ready, wait with WaitFor (for
// blocking readers), or register a callback with Subscribe (for readers that suspend and resume).
// A failed packing deletes its file (and lets go of it); readers then get kFailed, whatever their offset.

#include <sys/types.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <map>
#include <mutex>
#include <shared_mutex>
#include <string>
#include <thread>

class CArchiveBuild {
 public:
  enum class State { kBuilding, kDone, kFailed };

  struct CRead {
    enum Kind { kData, kLater, kEnd, kFailed } kind = kLater;
    size_t size = 0;  // bytes copied, for kData (never 0 then)
  };

  // Deletes any file at `archivePath`, creates the archive there and starts packing the tree below
  // `folderPath` into it. `cancel` (may be null; it must outlive this object) ends the packing within
  // one piece of data once raised, as a failure with ECANCELED. `threads` goes to the writer.
  CArchiveBuild(std::string archivePath, std::string folderPath, const std::atomic<bool>* cancel = nullptr,
                unsigned threads = 0);
  ~CArchiveBuild();

  // Copies up to `len` bytes from `offset`. kData when bytes were copied; kLater when none are final
  // there yet but more will come; kEnd when `offset` is at (or past) the end of a finished archive;
  // kFailed when the packing failed (or the file could not be read).
  CRead Read(uint64_t offset, void* buf, size_t len) const;

  // Waits until bytes past `offset` are final or the packing has ended, at most `timeout`. Returns
  // whether that is so (false on time-out).
  bool WaitFor(uint64_t offset, std::chrono::milliseconds timeout) const;
  // Waits until the packing has ended (done or failed), at most `timeout`. Returns whether it has.
  bool WaitForEnd(std::chrono::milliseconds timeout) const;

  // Calls `onMore` on the packing thread each time more bytes are final and once when the packing
  // ends (the call must be quick and must not call Subscribe or Unsubscribe). Returns an id for
  // Unsubscribe, which waits out a call under way: after it returns the callback is never called
  // again. A reader that returned after kLater re-checks (Read or Available) once it is subscribed or
  // suspended, so that news arriving in between is not lost.
  uint64_t Subscribe(std::function<void()> onMore);
  void Unsubscribe(uint64_t id);

  State GetState() const { return m_state.load(std::memory_order_acquire); }
  uint64_t Available() const { return m_available.load(std::memory_order_acquire); }  // final bytes
  // Once kDone: the archive's size in bytes. 0 before.
  uint64_t FinalSize() const { return GetState() == State::kDone ? Available() : 0; }
  // Once kFailed: the errno of the failure (ENOSPC or EDQUOT for a full disk, ECANCELED when cancelled,
  // else the error of the archive's creation or of a write, EIO when none is known).
  int Error() const { return m_error.load(std::memory_order_acquire); }
  // Once the packing has ended: files and folders that could not be read, so are not in the archive.
  int LeftOut() const { return m_leftOut.load(std::memory_order_acquire); }
  const std::string& Path() const { return m_path; }

  CArchiveBuild(const CArchiveBuild&) = delete;
  CArchiveBuild& operator=(const CArchiveBuild&) = delete;

 private:
  void Run();
  void Advance(uint64_t available);
  void End(State state, int error);
  void Notify();

  const std::string m_path;
  const std::string m_folder;
  const std::atomic<bool>* m_cancel;
  const unsigned m_threads;
  std::atomic<bool> m_stop{false};  // raised by the destructor

  std::atomic<State> m_state{State::kBuilding};
  std::atomic<uint64_t> m_available{0};
  std::atomic<int> m_error{0};
  std::atomic<int> m_leftOut{0};
  // Opened by the packing thread before its first byte is final; closed as soon as the packing fails,
  // so that the deleted file gives its disk space back while readers still hold the build.
  int m_readFd = -1;
  mutable std::shared_mutex m_readLock;  // shared while a reader uses m_readFd, exclusive to change it

  mutable std::mutex m_waitLock;  // with m_more: wakes WaitFor
  mutable std::condition_variable m_more;
  std::mutex m_subscribersLock;  // held while callbacks run
  std::map<uint64_t, std::function<void()>> m_subscribers;
  uint64_t m_nextId = 1;

  std::thread m_thread;  // last: starts once every member above is ready
};
