// Laying out the home: folders, page files copied when missing or older, the home made current.

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>

#include "app/WorkingDirectory.h"
#include "support/TestEnv.h"

using namespace marlix_test;
namespace fs = std::filesystem;

TEST(WorkingDirectory, LaysOutTheHomeAndKeepsNewerPageFiles) {
  const fs::path started = fs::current_path();
  CTempWorkDir dir;
  EXPECT_EQ(fs::current_path(), started);  // the fixture leaves the process where it started
  for (const std::string& name : PageFiles()) WriteFile(dir.Path() / "data" / name, "new " + name);
  const fs::path home = dir.Path() / "a/b/Marlix";
  WriteFile(home / "upload.js", "edited by hand");  // newer than the data folder's: kept
  WriteFile(home / "index.html", "old page");
  fs::last_write_time(home / "index.html", fs::last_write_time(dir.Path() / "data/index.html") - std::chrono::hours(1));

  ASSERT_EQ(PrepareWorkingDirectory(home.string(), (dir.Path() / "data").string()), "");
  EXPECT_EQ(fs::current_path(), started);  // the process stays where it was
  EXPECT_TRUE(fs::is_directory(home / "tmp"));
  EXPECT_EQ(ReadFile(home / "index.html"), "new index.html");
  EXPECT_EQ(ReadFile(home / "upload.js"), "edited by hand");
  EXPECT_EQ(ReadFile(home / "ban.png"), "new ban.png");
  // Laid out again: nothing changes, and no copy is left half-written beside the files.
  WriteFile(home / "ban.png", "replaced");
  fs::last_write_time(home / "ban.png", fs::last_write_time(dir.Path() / "data/ban.png"));
  ASSERT_EQ(PrepareWorkingDirectory(home.string(), "/nonexistent"), "");
  EXPECT_EQ(ReadFile(home / "ban.png"), "replaced");
  size_t entries = 0;
  for (const auto& e : fs::directory_iterator(home)) entries += e.path().filename().string()[0] == '.' ? 100 : 1;
  EXPECT_EQ(entries, PageFiles().size() + 1);
}

TEST(WorkingDirectory, RefusesAHomeItCannotUseAndStaysWhereItWas) {
  const fs::path started = fs::current_path();
  CTempWorkDir dir;
  WriteFile(dir.Path() / "file", "x");
  EXPECT_NE(PrepareWorkingDirectory((dir.Path() / "file").string(), ""), "");
  fs::create_directories(dir.Path() / "home");
  // Received files are never served through a link.
  fs::create_directory_symlink(dir.Path(), dir.Path() / "home/tmp");
  EXPECT_NE(PrepareWorkingDirectory((dir.Path() / "home").string(), ""), "");
  EXPECT_EQ(fs::current_path(), started);
}

TEST(WorkingDirectory, HomeAndDataFolderLookups) {
  CTempWorkDir dir;  // sets MARLIX_HOME
  EXPECT_EQ(DefaultHomeDirectory(), dir.Path().string());
  ::unsetenv("MARLIX_HOME");
  const char* user = std::getenv("HOME");
  const std::string saved = user ? user : "";
  ::setenv("HOME", "/home/someone/", 1);
  EXPECT_EQ(DefaultHomeDirectory(), "/home/someone/Marlix");
  ::setenv("HOME", saved.c_str(), 1);
  ::setenv("MARLIX_DATA_DIR", "/opt/pages", 1);
  EXPECT_EQ(FindDataDirectory(), "/opt/pages");
  ::unsetenv("MARLIX_DATA_DIR");
  // The test program lies beside the build tree's own data folder only in the cli's case; here the
  // lookup finds one of the two installed places or nothing, never the current folder.
  const std::string found = FindDataDirectory();
  EXPECT_TRUE(found.empty() || found.ends_with("/data") || found.ends_with("/../share/marlix")) << found;
  // A relative path names a file of the folder the process runs in, as the shell has it.
  EXPECT_EQ(AbsolutePath("x/y.txt"), (fs::current_path() / "x/y.txt").string());
  EXPECT_EQ(AbsolutePath("/abs"), "/abs");
}
