#include "web/FolderArchive.h"

#include <civetweb.h>
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
#include "zip/FolderZip.h"

namespace {

constexpr size_t kNameMax = 255;  // bytes of one file name in the working directory

// The archive of one shared folder. Its mutex makes the test for the file, the packing and the
// listing in TempArchiveList one step, so that concurrent requests pack it once and all send it whole.
struct CFolderArchive {
  std::mutex step;
  std::string path;  // the file in the working directory, once chosen
};

std::mutex g_archivesLock;  // guards the two maps below, for one look-up or choice at a time
std::map<std::string, std::shared_ptr<CFolderArchive>> g_archives;  // folder path -> its archive
std::set<std::string> g_chosenPaths;                                // archive files chosen in this run

std::mutex g_captionLock;  // the caption line is saved by the first packing request and restored by the last
int g_captionUsers = 0;
std::string g_savedCaption;

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

bool IsListed(const std::string& path) {
  std::lock_guard<std::mutex> lock(g_State.TempArchiveLock);
  for (const std::string& p : g_State.TempArchiveList)
    if (p == path) return true;
  return false;
}

// Picks a file name in the working directory that is free (no file there, none chosen for another
// folder in this run) and creates it empty to hold it: "Docs.zip", else "Docs (2).zip", ... A file
// this run did not make is never taken. Returns empty when the working directory takes no new file.
std::string ReserveArchivePath(const std::string& ownName) {
  std::lock_guard<std::mutex> lock(g_archivesLock);
  const std::string stem = CutUtf8(ownName, kNameMax - 16);
  for (int n = 1; n < 10000; ++n) {
    const std::string path = (n == 1 ? stem : stem + " (" + std::to_string(n) + ")") + ".zip";
    if (g_chosenPaths.count(path)) continue;
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
    if (fd < 0) {
      if (errno == EEXIST) continue;
      return {};
    }
    ::close(fd);
    g_chosenPaths.insert(path);
    return path;
  }
  return {};
}

std::shared_ptr<CFolderArchive> ArchiveOf(const std::string& folderPath) {
  std::lock_guard<std::mutex> lock(g_archivesLock);
  std::shared_ptr<CFolderArchive>& a = g_archives[folderPath];
  if (!a) a = std::make_shared<CFolderArchive>();
  return a;
}

// Packs the folder unless its archive made in this run is still there. Returns the archive's path,
// or empty when none could be made.
std::string PrepareArchive(const std::string& folderPath) {
  std::shared_ptr<CFolderArchive> archive = ArchiveOf(folderPath);
  std::lock_guard<std::mutex> step(archive->step);
  struct stat st {};
  if (!archive->path.empty() && IsListed(archive->path)) {
    if (::stat(archive->path.c_str(), &st) == 0) return archive->path;
  } else {
    archive->path = ReserveArchivePath(OwnName(folderPath));
    if (archive->path.empty()) return {};
    AddTempArchive(archive->path);
  }
  ZipFolderToFile(archive->path, folderPath);
  return archive->path;
}

void BeginCompressingCaption() {
  CMainDialogView* dialog = g_State.MainDialog;
  if (!dialog) return;
  {
    std::lock_guard<std::mutex> lock(g_captionLock);
    dialog->ShowCaption();
    if (g_captionUsers++ == 0) g_savedCaption = dialog->GetCaption();
    dialog->SetCaption("正在压缩...");
  }
  dialog->ShowProgress();
  dialog->SetProgressPos(1);
}

void EndCompressingCaption() {
  CMainDialogView* dialog = g_State.MainDialog;
  if (!dialog) return;
  std::lock_guard<std::mutex> lock(g_captionLock);
  if (--g_captionUsers == 0) dialog->SetCaption(g_savedCaption);
}

}  // namespace

void ServeFolderArchive(mg_connection* conn, const char* query) {
  const std::string folderPath = LookupItem(query);
  if (folderPath.empty()) return;

  BeginCompressingCaption();
  const std::string archivePath = PrepareArchive(folderPath);
  EndCompressingCaption();

  CFileReply reply(conn, archivePath);
  reply.SendHead("Content-Type: application/x-zip-compressed\r\nContent-Disposition: " +
                 AttachmentDisposition(OwnName(folderPath) + ".zip") + "\r\n");
  if (reply.StartsAtFirstByte()) g_State.DownloadCount.fetch_add(1);
  reply.SendBody(true);
}
