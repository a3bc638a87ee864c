#include "web/send/FolderArchive.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "app/SharedState.h"
#include "app/TransferProgress.h"
#include "app/Utf8Cut.h"
#include "web/send/AttachmentDisposition.h"
#include "web/send/StreamFile.h"

namespace {

constexpr size_t kNameMax = 255;  // bytes of one file name in the working directory

std::string OwnName(const std::string& folderPath) {
  const size_t slash = folderPath.rfind('/');
  return slash == std::string::npos ? folderPath : folderPath.substr(slash + 1);
}

bool IsListed(SharedState& state, const std::string& path) {
  std::lock_guard<std::mutex> lock(state.TempArchiveLock);
  for (const std::string& p : state.TempArchiveList)
    if (p == path) return true;
  return false;
}

// What a request finds when it needs the archive of a folder.
struct CPreparedArchive {
  std::string path;                      // a finished archive, to send as a file
  std::shared_ptr<CArchiveBuild> build;  // else the packing under way, to follow or wait for
  bool started = false;                  // this request started that packing
  bool diskFull = false;                 // neither: no archive file could be made
};

bool IsDiskFull(int error) { return error == ENOSPC || error == EDQUOT || error == EFBIG; }

// Finds the folder's archive made in this run, or the packing of it under way, or starts that packing.
// An archive that could not be written whole is deleted by its packing, so the next request packs again.
CPreparedArchive PrepareArchive(CFolderArchives& archives, SharedState& state, const std::atomic<bool>& stop,
                                const std::string& folderPath) {
  CPreparedArchive prepared;
  std::shared_ptr<CFolderArchives::CArchive> archive = archives.ArchiveOf(folderPath);
  std::lock_guard<std::mutex> step(archive->step);
  if (archive->build && archive->build->GetState() == CArchiveBuild::State::kBuilding) {
    prepared.build = archive->build;
    return prepared;
  }
  archive->build.reset();
  struct stat st {};
  if (!archive->path.empty() && IsListed(state, archive->path)) {
    if (::stat(archive->path.c_str(), &st) == 0) {
      prepared.path = archive->path;
      return prepared;
    }
  } else {
    archive->path = archives.ReservePath(OwnName(folderPath), prepared.diskFull);
    if (archive->path.empty()) return prepared;
    state.AddTempArchive(archive->path);
  }
  archive->build = std::make_shared<CArchiveBuild>(archive->path, folderPath, &stop);
  prepared.build = archive->build;
  prepared.started = true;
  return prepared;
}

// How long a request waits for a packing to end before it sends the archive as it is packed: a small
// folder still gets a file reply, with its length and validators, and a large one starts at once.
constexpr std::chrono::milliseconds kFileReplyWait{250};

// A request can follow the packing when its client reads chunked replies and wants the whole archive.
bool CanFollowPacking(const CHttpRequest& request) { return request.Version != "HTTP/1.0" && !request.Header("Range"); }

// Puts the caption back when the packing ends, for a request that has already returned its reply.
void EndCaptionWhenPacked(CFolderArchives& archives, const std::shared_ptr<CArchiveBuild>& build, bool started) {
  auto ended = std::make_shared<std::atomic<bool>>(false);
  auto end = [&archives, b = build.get(), ended, started] {
    if (b->GetState() == CArchiveBuild::State::kBuilding || ended->exchange(true)) return;
    archives.EndCompressingCaption(started ? b->LeftOut() : 0);
  };
  build->Subscribe(end);  // called on the packing thread, with the build still alive
  end();                  // the packing may have ended before the subscription
}

// The archive sent while it is packed: the bytes already final in the kept file, then each piece as
// the packing makes it final, so that the bytes sent are the file's. A failed packing breaks the reply
// off before its end (the client sees a failed transfer). Once the packing is done, the progress bar
// shows the share of the archive sent.
class CArchiveStream : public CReplyProducer {
 public:
  CArchiveStream(std::shared_ptr<CArchiveBuild> build, CMainDialogView* dialog)
      : m_build(std::move(build)), m_dialog(dialog) {}
  ~CArchiveStream() override {
    if (m_wake) m_build->Unsubscribe(m_wake);
  }
  void SetWake(std::function<void()> wake) override { m_wake = m_build->Subscribe(std::move(wake)); }
  ssize_t Produce(char* into, size_t room) override {
    const CArchiveBuild::CRead r = m_build->Read(m_sent, into, room);
    if (r.kind == CArchiveBuild::CRead::kLater) return kNotReady;
    if (r.kind == CArchiveBuild::CRead::kEnd) return kEnd;
    if (r.kind != CArchiveBuild::CRead::kData) return kFailed;
    m_sent += r.size;
    if (const uint64_t size = m_build->FinalSize(); m_dialog && size > 0) {
      if (!m_progress) m_progress.emplace(CViewEvent{.Id = ViewEventId::DownloadProgress}, static_cast<int64_t>(size));
      if (const CViewEvent* e = m_progress->Advance(static_cast<int64_t>(m_sent))) m_dialog->Report(*e);
    }
    return static_cast<ssize_t>(r.size);
  }

 private:
  std::shared_ptr<CArchiveBuild> m_build;
  CMainDialogView* m_dialog;
  uint64_t m_wake = 0;
  uint64_t m_sent = 0;
  std::optional<CTransferProgress> m_progress;  // once the archive's size is known
};

// The page sent instead of an archive that could not be made.
CHttpReply ArchiveError(bool diskFull) {
  CHttpReply reply;
  reply.Status = diskFull ? 507 : 500;
  reply.Memory = diskFull ? "<html><body>电脑磁盘已满，文件夹无法打包。<br>The PC's disk is full; the folder "
                            "could not be packed.</body></html>"
                          : "<html><body>文件夹无法打包。<br>The folder could not be packed.</body></html>";
  reply.AddHeader("Content-Type", "text/html; charset=utf-8");
  reply.AddHeader("Content-Length", std::to_string(reply.Memory.size()));
  return reply;
}

}  // namespace

std::shared_ptr<CFolderArchives::CArchive> CFolderArchives::ArchiveOf(const std::string& folderPath) {
  std::lock_guard<std::mutex> lock(m_lock);
  std::shared_ptr<CArchive>& a = m_archives[folderPath];
  if (!a) a = std::make_shared<CArchive>();
  return a;
}

std::string CFolderArchives::ReservePath(const std::string& ownName, bool& diskFull) {
  std::lock_guard<std::mutex> lock(m_lock);
  const std::string stem = CutUtf8(ownName, kNameMax - 16);
  for (int n = 1; n < 10000; ++n) {
    const std::string path = m_state.HomePath((n == 1 ? stem : stem + " (" + std::to_string(n) + ")") + ".zip");
    if (m_chosenPaths.count(path)) continue;
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
    if (fd < 0) {
      if (errno == EEXIST) continue;
      diskFull = errno == ENOSPC || errno == EDQUOT;
      return {};
    }
    ::close(fd);
    m_chosenPaths.insert(path);
    return path;
  }
  return {};
}

void CFolderArchives::StopBuilds() {
  std::vector<std::shared_ptr<CArchive>> archives;
  {
    std::lock_guard<std::mutex> lock(m_lock);
    for (const auto& [folder, archive] : m_archives) archives.push_back(archive);
  }
  for (const std::shared_ptr<CArchive>& archive : archives) {
    std::shared_ptr<CArchiveBuild> build;
    {
      std::lock_guard<std::mutex> step(archive->step);
      build.swap(archive->build);
    }
    build.reset();  // the last holder: cancels a packing under way and joins its thread
  }
}

void CFolderArchives::BeginCompressingCaption() {
  std::lock_guard<std::mutex> lock(m_packingLock);
  m_state.Events.ShowProgress();
  m_state.Events.Report({.Id = ViewEventId::PackingStarted, .Packings = ++m_packings});
}

void CFolderArchives::EndCompressingCaption(int leftOut) {
  std::lock_guard<std::mutex> lock(m_packingLock);
  if (m_packings > 0) --m_packings;
  m_state.Events.Report({.Id = ViewEventId::PackingFinished, .Count = leftOut, .Packings = m_packings});
}

CHttpReply ServeFolderArchive(CFolderArchives& archives, SharedState& state, const std::atomic<bool>& stop,
                              const CHttpRequest& request, const std::string& folderPath) {
  // Only a shared folder has an archive; a file's token is answered as an unknown one.
  struct stat st {};
  if (::stat(folderPath.c_str(), &st) == 0 && !S_ISDIR(st.st_mode)) return CHttpReply::Dropped();

  std::vector<std::pair<std::string, std::string>> headers = {
      {"Content-Type", "application/x-zip-compressed"},
      {"Content-Disposition", AttachmentDisposition(OwnName(folderPath) + ".zip")}};
  archives.BeginCompressingCaption();
  CPreparedArchive archive = PrepareArchive(archives, state, stop, folderPath);
  if (archive.build) {
    const std::shared_ptr<CArchiveBuild>& build = archive.build;
    const bool follow = CanFollowPacking(request);
    // The packing ends by itself or, once the service stops, by its cancel flag.
    if (follow) {
      build->WaitForEnd(kFileReplyWait);
    } else {
      while (!build->WaitForEnd(std::chrono::seconds(1)) && !stop) {
      }
    }
    if (build->GetState() == CArchiveBuild::State::kBuilding && !stop) {
      EndCaptionWhenPacked(archives, build, archive.started);
      state.DownloadCount.fetch_add(1);
      CHttpReply reply;
      reply.AsHttp10 = false;  // chunked, so that a reply broken off is seen as one
      reply.Headers = std::move(headers);
      reply.Kind = CHttpReply::Body::Producer;
      reply.Producer = std::make_shared<CArchiveStream>(build, &state.Events);
      return reply;
    }
    archives.EndCompressingCaption(archive.started ? build->LeftOut() : 0);
    if (build->GetState() == CArchiveBuild::State::kDone)
      archive.path = build->Path();
    else if (!stop)
      return ArchiveError(IsDiskFull(build->Error()));
  } else {
    archives.EndCompressingCaption(0);
  }
  if (stop) return CHttpReply::Dropped();
  if (archive.path.empty()) return ArchiveError(archive.diskFull);

  CFileReply file(request, archive.path);
  if (file.StartsAtFirstByte()) state.DownloadCount.fetch_add(1);
  return file.Reply(std::move(headers), &state.Events);
}
