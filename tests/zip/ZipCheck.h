#pragma once
// Readers of archives for the tests: unzip -t, zipinfo, Python's zipfile, and raw header fields.

#include <sys/wait.h>

#include <cstdint>
#include <cstdio>
#include <sstream>
#include <string>
#include <vector>

namespace marlix_test {

struct CPyEntry {
  std::string name, crc, extra, madeBy;
  uint64_t compressedSize = 0, size = 0, offset = 0;
  int method = -1, needed = 0;
  uint32_t attributes = 0, flags = 0;
};

struct CPyArchive {
  bool readable = false;  // the archive opened and every entry's data matched its CRC-32
  std::string status;
  std::vector<CPyEntry> entries;
  std::vector<std::string> Names() const {
    std::vector<std::string> n;
    for (const CPyEntry& e : entries) n.push_back(e.name);
    return n;
  }
};

inline std::string ShellQuote(const std::string& s) {
  std::string q = "'";
  for (char c : s) q += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return q + "'";
}

// Runs a shell command; returns its standard output and sets its exit status.
inline std::string RunCommand(const std::string& command, int& status) {
  std::string out;
  FILE* p = ::popen(command.c_str(), "r");
  if (!p) {
    status = -1;
    return out;
  }
  char buf[4096];
  size_t n;
  while ((n = std::fread(buf, 1, sizeof buf, p)) > 0) out.append(buf, n);
  const int rc = ::pclose(p);
  status = WIFEXITED(rc) ? WEXITSTATUS(rc) : -1;
  return out;
}

inline CPyArchive InspectWithPython(const std::string& path, bool readData = true) {
  int status = 0;
  const std::string out =
      RunCommand("/usr/bin/python3 " + ShellQuote(std::string(MARLIX_SOURCE_DIR) + "/tests/zip/zip_entries.py") + " " +
                     ShellQuote(path) + (readData ? "" : " --list"),
                 status);
  CPyArchive a;
  std::istringstream lines(out);
  std::string line;
  if (!std::getline(lines, a.status)) return a;
  a.readable = status == 0 && a.status == "OK";
  while (std::getline(lines, line)) {
    std::vector<std::string> f;
    std::istringstream fields(line);
    std::string x;
    while (std::getline(fields, x, '\t')) f.push_back(x);
    if (f.size() == 10) f.insert(f.begin() + 7, "");  // an empty extra field
    if (f.size() != 11) continue;
    CPyEntry e;
    e.name = f[0];
    e.crc = f[1];
    e.compressedSize = std::stoull(f[2]);
    e.size = std::stoull(f[3]);
    e.method = std::stoi(f[4]);
    e.attributes = static_cast<uint32_t>(std::stoul(f[5], nullptr, 16));
    e.flags = static_cast<uint32_t>(std::stoul(f[6], nullptr, 16));
    e.extra = f[7];
    e.offset = std::stoull(f[8]);
    e.madeBy = f[9];
    e.needed = std::stoi(f[10]);
    a.entries.push_back(e);
  }
  return a;
}

// unzip -t: true when it tests every entry without a warning or error.
inline bool UnzipTestsClean(const std::string& path) {
  int status = 0;
  RunCommand("unzip -t -qq " + ShellQuote(path) + " 2>&1", status);
  return status == 0;
}

// zipinfo's listing (names only with -1).
inline std::string ZipInfo(const std::string& path, const std::string& options = "") {
  int status = 0;
  return RunCommand("zipinfo " + options + " " + ShellQuote(path) + " 2>&1", status);
}

inline uint32_t Le16(const std::string& b, size_t at) {
  return static_cast<unsigned char>(b.at(at)) | (static_cast<uint32_t>(static_cast<unsigned char>(b.at(at + 1))) << 8);
}
inline uint32_t Le32(const std::string& b, size_t at) { return Le16(b, at) | (Le16(b, at + 2) << 16); }

}  // namespace marlix_test
