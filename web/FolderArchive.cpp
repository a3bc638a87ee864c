#include "web/FolderArchive.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <string>

#include "app/SharedState.h"
#include "web/AttachmentDisposition.h"
#include "web/ItemLookup.h"
#include "web/StreamFile.h"
#include "web/WebService.h"
#include "zip/FolderZip.h"

namespace {

constexpr size_t kNameMax = 255;  // bytes of one file name in the working directory

std::string OwnName(const std::string& folderPath) {
  const size_t slash = folderPath.rfind('/');
  return slash == std::string::npos ? folderPath : folderPath.substr(slash + 1);
}

// Cuts UTF-8 text to at most `max` bytes without splitting a character.
std::string CutUtf8(const std::string& s, size_t max) {
  if (s.size() <= max) return s;
  size_t end = max;
  while (end > 0 && (static_cast<unsigned char>(s[end]) & 0xC0) == 0x80) --end;
  return s.substr(0, end);
}

bool IsListed(SharedState& state, const std::string& path) {
  std::lock_guard<std::mutex> lock(state.TempArchiveLock);
  for (const std::string& p : state.TempArchiveList)
    if (p == path) return true;
  return false;
}

// What a request finds when it needs the archive of a folder.
struct CPreparedArchive {
  std::string path;  // the archive to send; empty when none could be made
  bool diskFull = false;
  int leftOut = 0;  // entries the packing of this request left out
};

bool IsDiskFull(int error) { return error == ENOSPC || error == EDQUOT || error == EFBIG; }

// Packs the folder unless its archive made in this run is still there. An archive that could not be
// written whole is deleted at once, so it is never sent and the next request packs again.
CPreparedArchive PrepareArchive(CWebService& service, const std::string& folderPath) {
  CPreparedArchive prepared;
  std::shared_ptr<CFolderArchives::CArchive> archive = service.Archives().ArchiveOf(folderPath);
  std::lock_guard<std::mutex> step(archive->step);
  struct stat st {};
  if (!archive->path.empty() && IsListed(service.State(), archive->path)) {
    if (::stat(archive->path.c_str(), &st) == 0) {
      prepared.path = archive->path;
      return prepared;
    }
  } else {
    archive->path = service.Archives().ReservePath(OwnName(folderPath), prepared.diskFull);
    if (archive->path.empty()) return prepared;
    service.State().AddTempArchive(archive->path);
  }
  CZipWalkReport report;
  report.cancel = &service.StopFlag();
  ZipFolderToFile(archive->path, folderPath, 0, &report);
  prepared.leftOut = report.leftOut;
  if (!report.whole) {
    ::unlink(archive->path.c_str());
    prepared.diskFull = IsDiskFull(report.writeError);
    return prepared;
  }
  prepared.path = archive->path;
  return prepared;
}

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

void CFolderArchives::BeginCompressingCaption() {
  CMainDialogView* dialog = m_state.MainDialog;
  if (!dialog) return;
  dialog->ShowProgress();
  dialog->Report({ViewEventId::PackingStarted});
}

void CFolderArchives::EndCompressingCaption(int leftOut) {
  CMainDialogView* dialog = m_state.MainDialog;
  if (!dialog) return;
  dialog->Report({.Id = ViewEventId::PackingFinished, .Count = leftOut});
}

CHttpReply ServeFolderArchive(CWebService& service, const CHttpRequest& request, const char* query) {
  const std::string folderPath = LookupItem(service.State(), query);
  if (folderPath.empty()) return CHttpReply::Dropped();
  // Only a shared folder has an archive; a file's token is answered as an unknown one.
  struct stat st {};
  if (::stat(folderPath.c_str(), &st) == 0 && !S_ISDIR(st.st_mode)) return CHttpReply::Dropped();

  service.Archives().BeginCompressingCaption();
  const CPreparedArchive archive = PrepareArchive(service, folderPath);
  service.Archives().EndCompressingCaption(archive.leftOut);
  if (service.Stopping()) return CHttpReply::Dropped();
  if (archive.path.empty()) return ArchiveError(archive.diskFull);

  CFileReply file(request, archive.path);
  if (file.StartsAtFirstByte()) service.State().DownloadCount.fetch_add(1);
  return file.Reply({{"Content-Type", "application/x-zip-compressed"},
                     {"Content-Disposition", AttachmentDisposition(OwnName(folderPath) + ".zip")}},
                    service.State().MainDialog);
}
