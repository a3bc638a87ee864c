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

// Folders on the way from the top to the current one: a link that leads back to one of them would
// make the walk endless, so such a folder is left out.
uint32_t Walk(CZipWriter& writer, const std::string& folderPath, const std::string& relativePath,
              std::vector<FolderId>& ancestors) {
  if (!relativePath.empty()) {
    const uint32_t rc = writer.AddFolder(relativePath);
    if (rc) return rc;
  }
  const std::string here = relativePath.empty() ? folderPath : folderPath + "/" + relativePath;
  std::vector<std::string> names;
  const uint32_t listed = ListFolder(here, names);
  if (listed == ZIP_WALK_FAILED) return listed;
  for (const std::string& name : names) {
    const std::string child = relativePath.empty() ? name : relativePath + "/" + name;
    const std::string full = folderPath + "/" + child;
    struct stat st {};
    const bool known = ::stat(full.c_str(), &st) == 0;
    uint32_t rc = 0;
    if (known && S_ISDIR(st.st_mode)) {
      const FolderId id{st.st_dev, st.st_ino};
      if (std::find(ancestors.begin(), ancestors.end(), id) != ancestors.end()) continue;
      ancestors.push_back(id);
      rc = Walk(writer, folderPath, child, ancestors);
      ancestors.pop_back();
    } else if (known && !S_ISREG(st.st_mode)) {
      continue;  // pipes, sockets and devices hold no content to pack
    } else {
      rc = writer.AddFile(child, full);
    }
    if (rc) return rc;
  }
  return listed;
}

}  // namespace

uint32_t AddFolderTree(CZipWriter& writer, const std::string& folderPath, const std::string& relativePath) {
  std::vector<FolderId> ancestors;
  struct stat st {};
  if (::stat(folderPath.c_str(), &st) == 0) ancestors.emplace_back(st.st_dev, st.st_ino);
  if (!relativePath.empty() && ::stat((folderPath + "/" + relativePath).c_str(), &st) == 0)
    ancestors.emplace_back(st.st_dev, st.st_ino);
  return Walk(writer, folderPath, relativePath, ancestors);
}

uint32_t ZipFolderToFile(const std::string& archivePath, const std::string& folderPath, unsigned threads) {
  bool hadOlder = true;
  if (::unlink(archivePath.c_str()) != 0) {
    if (errno != ENOENT) return static_cast<uint32_t>(errno);
    hadOlder = false;
  }
  std::unique_ptr<CZipWriter> writer;
  if (CZipWriter::Create(archivePath, writer, threads) != ZIP_OK) return hadOlder ? ZIP_WALK_FAILED : ENOENT;
  const uint32_t rc = AddFolderTree(*writer, folderPath, "");
  writer->Close();
  return rc;
}
