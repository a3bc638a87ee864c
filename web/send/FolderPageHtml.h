#pragma once
// The folder page as a phone shows it: one row per file (at least 44 px tall: a thumbnail or a file
// mark, the name wrapped, the size in human units), the files of each subfolder under its relative
// path, and the archive link with the folder's file count and total size. Pictures' thumbnails are
// loaded as they scroll into view (<img loading=lazy>: the page runs no script). Every name is
// escaped. No outside resources.

#include <cstdint>
#include <string>
#include <vector>

struct CFolderPageFile {
  std::string token;         // the file's download token ("/f?t=")
  std::string relativePath;  // inside the shared folder, "/"-separated
  int64_t size = 0;
  bool picture = false;  // a thumbnail is offered ("/t?t=" with the same token)
};

struct CFolderPage {
  std::string folderName;
  std::string archiveToken;  // "/z?t="
  std::vector<CFolderPageFile> files;
  bool chinese = true;
};

std::string FolderPageHtml(const CFolderPage& page);

// A size as people read it: "0 B", "999 B", "1.5 KB", "12 MB", "3.2 GB" (1024 steps).
std::string HumanSize(int64_t bytes);

// Text for an element or an attribute value.
std::string EscapeHtml(const std::string& text);
