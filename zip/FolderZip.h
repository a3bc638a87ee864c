#pragma once
// Packing a folder tree into one ZIP archive.

#include <atomic>
#include <cstdint>
#include <string>

class CZipWriter;

// Result of a walk that could not list a folder, and of a creation after a deleted older archive.
constexpr uint32_t ZIP_WALK_FAILED = 0xFFFFFFFF;

// What one packing met, beyond its result code. `cancel`, when set, is watched by the walk and the
// compressor: once it is raised the packing ends within one piece of data and the archive is not whole.
struct CZipWalkReport {
  const std::atomic<bool>* cancel = nullptr;
  int leftOut = 0;     // files and folders that could not be opened or listed, and links: not in the archive
  bool whole = false;  // the archive file was created and every write to it succeeded, not cancelled
  int writeError = 0;  // errno of the first failed write to the archive (ENOSPC: the disk is full)
};

// Deletes any file at `archivePath`, then packs the tree below `folderPath` into a new archive there.
// The folder's own name is not part of the entry names. An entry that cannot be opened or listed,
// and a symbolic link (which could lead out of the folder), is left out and the walk goes on; a
// failed write to the archive or a cancel ends it. Returns 0 when every file and folder was added;
// the errno of a delete that failed (other than ENOENT); ENOENT (2) when no older archive existed and
// the new one could not be created; ZIP_WALK_FAILED when an older one was deleted and the new one
// could not be created, or the first failure was a folder that could not be listed; else the first
// failure: a CZipWriter code of an entry (ZIP_ERR_OPEN for a link), or the errno of a listing that
// broke off. The archive always ends with a central directory of the entries completed.
// `threads` is passed to the writer.
uint32_t ZipFolderToFile(const std::string& archivePath, const std::string& folderPath, unsigned threads = 0,
                         CZipWalkReport* report = nullptr);

// The recursive walk: a folder entry for `relativePath` (unless it is empty), then the folder's
// entries depth first, in name order. Returns the first failure; entries that failed are counted in
// the report's leftOut.
uint32_t AddFolderTree(CZipWriter& writer, const std::string& folderPath, const std::string& relativePath,
                       CZipWalkReport* report = nullptr);
