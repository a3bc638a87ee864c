#pragma once
// Opening a shared folder's file without passing through a symbolic link below the folder.

#include <string>

// Opens `path`, a file below the shared folder `folder` (both absolute, as the folder's page listed
// them), one step at a time from the folder: each folder on the way with O_DIRECTORY and the file
// itself with `flags`, all with O_NOFOLLOW. So a folder or file swapped for a link since the page was
// listed is not passed through, wherever it lies on the path. The shared folder itself is opened as
// the user named it. Returns the descriptor, or -1 with errno set (ELOOP or ENOTDIR for a link on the
// way, EINVAL for a path that is not below the folder). Any thread.
int OpenBeneath(const std::string& folder, const std::string& path, int flags);
