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
#include "web/WebServer.h"
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
std::string ReserveArchivePath(const std::string& ownName, bool& diskFull) {
  std::lock_guard<std::mutex> lock(g_archivesLock);
  const std::string stem = CutUtf8(ownName, kNameMax - 16);
  for (int n = 1; n < 10000; ++n) {
    const std::string path = (n == 1 ? stem : stem + " (" + std::to_string(n) + ")") + ".zip";
    if (g_chosenPaths.count(path)) continue;
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
    if (fd < 0) {
      if (errno == EEXIST) continue;
      diskFull = errno == ENOSPC || errno == EDQUOT;
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

// What a request finds when it needs the archive of a folder.
struct CPreparedArchive {
  std::string path;  // the archive to send; empty when none could be made
  bool diskFull = false;
  int leftOut = 0;  // entries the packing of this request left out
};

bool IsDiskFull(int error) { return error == ENOSPC || error == EDQUOT || error == EFBIG; }

// Packs the folder unless its archive made in this run is still there. An archive that could not be
// written whole is deleted at once, so it is never sent and the next request packs again.
CPreparedArchive PrepareArchive(const std::string& folderPath) {
  CPreparedArchive prepared;
  std::shared_ptr<CFolderArchive> archive = ArchiveOf(folderPath);
  std::lock_guard<std::mutex> step(archive->step);
  struct stat st {};
  if (!archive->path.empty() && IsListed(archive->path)) {
    if (::stat(archive->path.c_str(), &st) == 0) {
      prepared.path = archive->path;
      return prepared;
    }
  } else {
    archive->path = ReserveArchivePath(OwnName(folderPath), prepared.diskFull);
    if (archive->path.empty()) return prepared;
    AddTempArchive(archive->path);
  }
  CZipWalkReport report;
  report.cancel = &WebServiceStopFlag();
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

// Puts the caption back, or, when the packing left entries out, says how many.
void EndCompressingCaption(int leftOut) {
  CMainDialogView* dialog = g_State.MainDialog;
  if (!dialog) return;
  std::lock_guard<std::mutex> lock(g_captionLock);
  const bool last = --g_captionUsers == 0;
  if (leftOut > 0) {
    dialog->SetCaption(LeftOutCaption(leftOut));
  } else if (last) {
    dialog->SetCaption(g_savedCaption);
  }
}

// The page sent instead of an archive that could not be made.
void WriteArchiveError(mg_connection* conn, bool diskFull) {
  const std::string page = diskFull ? "<html><body>电脑磁盘已满，文件夹无法打包。<br>The PC's disk is full; the folder "
                                      "could not be packed.</body></html>"
                                    : "<html><body>文件夹无法打包。<br>The folder could not be packed.</body></html>";
  mg_printf(conn, "HTTP/1.0 %s\r\nContent-Type: text/html; charset=utf-8\r\nContent-Length: %zu\r\n\r\n",
            diskFull ? "507 Insufficient Storage" : "500 Internal Server Error", page.size());
  mg_write(conn, page.data(), page.size());
}

}  // namespace

std::string LeftOutCaption(int count) { return "有 " + std::to_string(count) + " 项无法读取，未打包"; }

void ServeFolderArchive(mg_connection* conn, const char* query) {
  const std::string folderPath = LookupItem(query);
  if (folderPath.empty()) return;
  // Only a shared folder has an archive; a file's token is answered as an unknown one.
  struct stat st {};
  if (::stat(folderPath.c_str(), &st) == 0 && !S_ISDIR(st.st_mode)) return;

  BeginCompressingCaption();
  const CPreparedArchive archive = PrepareArchive(folderPath);
  EndCompressingCaption(archive.leftOut);
  if (WebServiceStopping()) return;
  if (archive.path.empty()) {
    WriteArchiveError(conn, archive.diskFull);
    return;
  }

  CFileReply reply(conn, archive.path);
  reply.SendHead("Content-Type: application/x-zip-compressed\r\nContent-Disposition: " +
                 AttachmentDisposition(OwnName(folderPath) + ".zip") + "\r\n");
  if (reply.StartsAtFirstByte()) g_State.DownloadCount.fetch_add(1);
  reply.SendBody(true);
}
