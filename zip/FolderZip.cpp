#include "zip/FolderZip.h"

#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <memory>
#include <utility>
#include <vector>

#include "zip/ZipWriter.h"

namespace {

using FolderId = std::pair<dev_t, ino_t>;

// Lists a folder's names (without "." and ".."), sorted by their bytes. Returns 0, ZIP_WALK_FAILED
// when the folder cannot be opened, or the errno of a listing that broke off.
uint32_t ListFolder(const std::string& path, std::vector<std::string>& names) {
  DIR* dir = ::opendir(path.c_str());
  if (!dir) return ZIP_WALK_FAILED;
  uint32_t rc = 0;
  for (;;) {
    errno = 0;
    const dirent* d = ::readdir(dir);
    if (!d) {
      if (errno != 0) rc = static_cast<uint32_t>(errno);
      break;
    }
    const std::string name = d->d_name;
    if (name != "." && name != "..") names.push_back(name);
  }
  ::closedir(dir);
  std::sort(names.begin(), names.end());
  return rc;
}

// Whether a failure ends the whole packing: the archive itself is broken, or it was cancelled.
bool EndsThePacking(const CZipWriter& writer, uint32_t rc) {
  return writer.WriteError() != 0 || rc == ZIP_ERR_CANCELLED || rc == ZIP_ERR_CLOSED;
}

// Folders on the way from the top to the current one: a link that leads back to one of them would
// make the walk endless, so such a folder is left out.
uint32_t Walk(CZipWriter& writer, const std::string& folderPath, const std::string& relativePath,
              std::vector<FolderId>& ancestors, CZipWalkReport& report) {
  const std::string here = relativePath.empty() ? folderPath : folderPath + "/" + relativePath;
  std::vector<std::string> names;
  const uint32_t listed = ListFolder(here, names);
  if (listed == ZIP_WALK_FAILED) {
    if (!relativePath.empty()) ++report.leftOut;
    return listed;
  }
  if (!relativePath.empty()) {
    const uint32_t rc = writer.AddFolder(relativePath);
    if (rc) {
      if (!EndsThePacking(writer, rc)) ++report.leftOut;
      return rc;
    }
  }
  // What each name is, links not followed; a name that cannot be looked up goes to AddFile as a file.
  std::vector<struct stat> facts(names.size());
  std::vector<bool> known(names.size());
  for (size_t i = 0; i < names.size(); ++i) known[i] = ::lstat((here + "/" + names[i]).c_str(), &facts[i]) == 0;
  auto childOf = [&](size_t i) { return relativePath.empty() ? names[i] : relativePath + "/" + names[i]; };
  uint32_t first = listed;
  size_t hinted = 0;  // files before this index have been handed to Prefetch
  for (size_t i = 0; i < names.size(); ++i) {
    if (writer.Cancelled()) return ZIP_ERR_CANCELLED;
    const std::string child = childOf(i);
    const std::string full = folderPath + "/" + child;
    // Small files coming next in this folder may be compressed ahead while this one is added.
    for (hinted = std::max(hinted, i + 1); hinted < names.size() && hinted < i + 8; ++hinted)
      if (known[hinted] && S_ISREG(facts[hinted].st_mode))
        writer.Prefetch(childOf(hinted), folderPath + "/" + childOf(hinted));
    const struct stat& st = facts[i];
    uint32_t rc = 0;
    if (known[i] && S_ISDIR(st.st_mode)) {
      const FolderId id{st.st_dev, st.st_ino};
      if (std::find(ancestors.begin(), ancestors.end(), id) != ancestors.end()) continue;
      ancestors.push_back(id);
      rc = Walk(writer, folderPath, child, ancestors, report);
      ancestors.pop_back();
    } else if (known[i] && S_ISLNK(st.st_mode)) {
      // A link may lead out of the folder: nothing is packed through one. Left out as a file that
      // cannot be opened is.
      ++report.leftOut;
      if (!first) first = ZIP_ERR_OPEN;
      continue;
    } else if (known[i] && !S_ISREG(st.st_mode)) {
      continue;  // pipes, sockets and devices hold no content to pack
    } else {
      rc = writer.AddFile(child, full);
      if (rc && !EndsThePacking(writer, rc)) ++report.leftOut;
    }
    if (rc && EndsThePacking(writer, rc)) return rc;
    if (rc && !first) first = rc;
  }
  return first;
}

}  // namespace

uint32_t AddFolderTree(CZipWriter& writer, const std::string& folderPath, const std::string& relativePath,
                       CZipWalkReport* report) {
  CZipWalkReport local;
  std::vector<FolderId> ancestors;
  struct stat st {};
  if (::stat(folderPath.c_str(), &st) == 0) ancestors.emplace_back(st.st_dev, st.st_ino);
  if (!relativePath.empty() && ::stat((folderPath + "/" + relativePath).c_str(), &st) == 0)
    ancestors.emplace_back(st.st_dev, st.st_ino);
  return Walk(writer, folderPath, relativePath, ancestors, report ? *report : local);
}

uint32_t ZipFolderToFile(const std::string& archivePath, const std::string& folderPath, unsigned threads,
                         CZipWalkReport* report) {
  CZipWalkReport local;
  CZipWalkReport& r = report ? *report : local;
  r.whole = false;
  bool hadOlder = true;
  if (::unlink(archivePath.c_str()) != 0) {
    if (errno != ENOENT) return static_cast<uint32_t>(errno);
    hadOlder = false;
  }
  std::unique_ptr<CZipWriter> writer;
  if (CZipWriter::Create(archivePath, writer, threads) != ZIP_OK) {
    r.writeError = errno;
    return hadOlder ? ZIP_WALK_FAILED : ENOENT;
  }
  writer->SetCancel(r.cancel);
  const uint32_t rc = AddFolderTree(*writer, folderPath, "", &r);
  const uint32_t closed = writer->Close();
  r.writeError = writer->WriteError();
  r.whole = closed == ZIP_OK && r.writeError == 0 && rc != ZIP_ERR_CANCELLED && !writer->Cancelled();
  return rc;
}
