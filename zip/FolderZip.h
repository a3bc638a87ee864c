#pragma once
// Packing a folder tree into one ZIP archive.

#include <cstdint>
#include <string>

class CZipWriter;

// Result of a walk that could not list a folder, and of a creation after a deleted older archive.
constexpr uint32_t ZIP_WALK_FAILED = 0xFFFFFFFF;

// Deletes any file at `archivePath`, then packs the tree below `folderPath` into a new archive there.
// The folder's own name is not part of the entry names. Returns 0 when every file and folder was
// added; the errno of a delete that failed (other than ENOENT); ENOENT (2) when no older archive
// existed and the new one could not be created; ZIP_WALK_FAILED when an older one was deleted and the
// new one could not be created, or a folder could not be listed; a CZipWriter code when adding an
// entry failed; the errno of a listing that ended in an error. The archive always ends with a valid
// central directory of the entries completed before a failure. `threads` is passed to the writer.
uint32_t ZipFolderToFile(const std::string& archivePath, const std::string& folderPath, unsigned threads = 0);

// The recursive walk: a folder entry for `relativePath` (unless it is empty), then the folder's
// entries depth first, in name order. Stops at the first failure and returns it.
uint32_t AddFolderTree(CZipWriter& writer, const std::string& folderPath, const std::string& relativePath);
