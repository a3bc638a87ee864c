#pragma once
// A small tmpfs mounted over a folder for the life of the object, so that tests can fill a real disk.
// Mounting needs root; Mounted() is false where it is not allowed (the test then skips).

#include <cstddef>
#include <string>

namespace marlix_test {

class CSmallDisk {
 public:
  CSmallDisk(const std::string& folder, size_t bytes);
  ~CSmallDisk();
  bool Mounted() const { return m_mounted; }
  // Gives the disk a new size; false when the system refuses.
  bool Resize(size_t bytes);

 private:
  std::string m_folder;
  bool m_mounted = false;
};

}  // namespace marlix_test
