#include "support/SmallDisk.h"

#include <sys/mount.h>

#include <filesystem>

namespace marlix_test {

CSmallDisk::CSmallDisk(const std::string& folder, size_t bytes) : m_folder(folder) {
  std::error_code ec;
  std::filesystem::create_directories(folder, ec);
  const std::string options = "size=" + std::to_string(bytes) + ",mode=0755";
  m_mounted = ::mount("marlix-test", folder.c_str(), "tmpfs", MS_NOSUID | MS_NODEV, options.c_str()) == 0;
}

bool CSmallDisk::Resize(size_t bytes) {
  const std::string options = "size=" + std::to_string(bytes);
  return m_mounted &&
         ::mount("marlix-test", m_folder.c_str(), "tmpfs", MS_REMOUNT | MS_NOSUID | MS_NODEV, options.c_str()) == 0;
}

CSmallDisk::~CSmallDisk() {
  if (m_mounted) ::umount2(m_folder.c_str(), MNT_DETACH);
}

}  // namespace marlix_test
