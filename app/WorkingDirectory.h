#pragma once
// The program's working directory ("home"), as the configuration names it (MarlixConfig.h); never the
// folder the program was started in. It holds the page files copied from the data folder, and receives "1.bmp", "tmp/"
// and the folder archives. Each program lays it out once at start, on its main thread, before the
// web service starts.

#include <string>
#include <vector>

// The files the program lays out for phones: the upload page with its assets, and the two pictures.
// Only these names (and regular files directly inside "tmp/") are ever served from the home.
const std::vector<std::string>& PageFiles();
bool IsPageFile(const std::string& name);

// "Marlix" in the user's home folder (userHome, else the password database's); empty when no home
// folder is known.
std::string DefaultHomeDirectory(const std::string& userHome);

// Where the page files are installed or built: the first existing of <folder of the executable>/data
// and <folder of the executable>/../share/marlix; empty when none.
std::string FindDataDirectory();

// Creates the home and its "tmp/" (private to the user) and copies each page file from dataDir that
// is missing in the home or older there. The process's current directory is left alone: the
// program names its files by the home's path. Returns empty on success, else a one-line
// description of what failed.
// A missing data folder or page file is not a failure: the upload page is then missing, nothing else.
std::string PrepareWorkingDirectory(const std::string& home, const std::string& dataDir);

// The path as an absolute path against the current directory, so that it names the same file from
// any thread and any later moment. Symbolic links are kept as they are.
std::string AbsolutePath(const std::string& path);
