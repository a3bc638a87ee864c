#pragma once
// Received files enter the upload folder under a name of their own: the sent name made safe
// (UploadName), or the first numbered form of it that no file holds. Taking a name never replaces a
// file, so concurrent uploads of one name each get their own.

#include <functional>
#include <string>

// Tries `take(path)` with folder + "/" + the stored name, then with its numbered names, until one
// does not answer EEXIST. take returns 0 or an errno, and must fail with EEXIST (never replace)
// when the path is taken. Returns 0 with the path taken, or the errno (EINVAL for a name that
// cannot be stored).
int TakeFreeName(const std::string& folder, const std::string& sent, const std::function<int(const std::string&)>& take,
                 std::string& path);

// Creates a new empty file for the sent name in the folder. Returns the descriptor (open for
// writing), or -1 with errno set.
int CreateSavedFile(const std::string& folder, const std::string& sent, std::string& path);

// Moves the whole file at `from` into the folder under a free name for the sent name: renamed where
// both lie on one file system, else copied and the original removed. 0, or an errno (nothing is left
// in the folder then).
int MoveToSavedFile(const std::string& from, const std::string& folder, const std::string& sent, std::string& path);

// Files still arriving lie in the upload folder under hidden names of their own (".upload-" and six
// characters), which no route serves or deletes, until MoveToSavedFile gives them their name.
// Creates one: the descriptor (open for writing, mode 0600), or -1 with errno set.
int CreateHiddenFile(const std::string& folder, std::string& path);
// Removes every such hidden file of the folder (left by a run that ended without cleaning up).
void RemoveHiddenFiles(const std::string& folder);
