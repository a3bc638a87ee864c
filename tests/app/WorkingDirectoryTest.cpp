// Laying out the home: folders, page files copied when missing or older, the home made current.

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <map>

#include "app/MarlixConfig.h"
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
  // The configuration takes the variables it is given, never the process's own.
  struct Case {
    std::map<std::string, std::string> variables;
    CKeptSettings kept;
    std::string home;
    bool homeFromEnvironment;
  };
  const Case cases[] = {
      {{{"MARLIX_HOME", "/srv/m"}, {"HOME", "/home/a"}}, {.Home = "/kept"}, "/srv/m", true},  // the variable wins
      {{{"HOME", "/home/a"}}, {.Home = "/kept"}, "/kept", false},                             // then the kept one
      {{{"HOME", "/home/someone/"}}, {}, "/home/someone/Marlix", false},
  };
  for (const Case& c : cases) {
    const CMarlixConfig config = MakeConfig(
        [&](const char* name) {
          const auto it = c.variables.find(name);
          return it == c.variables.end() ? std::string() : it->second;
        },
        c.kept);
    EXPECT_EQ(config.Home, c.home);
    EXPECT_EQ(config.HomeFromEnvironment, c.homeFromEnvironment) << c.home;
  }
  const CMarlixConfig pages = MakeConfig(
      [](const char* name) {
        return std::string(name) == "MARLIX_DATA_DIR"       ? "/opt/pages"
               : std::string(name) == "MARLIX_SERVICE_HOST" ? "r:1"
                                                            : "";
      },
      {.Relay = "kept:2"});
  EXPECT_EQ(pages.DataDir, "/opt/pages");
  EXPECT_EQ(pages.Relay, "r:1");
  EXPECT_TRUE(pages.RelayFromEnvironment);
  // The test program lies beside the build tree's own data folder only in the cli's case; here the
  // lookup finds one of the two installed places or nothing, never the current folder.
  const std::string found = FindDataDirectory();
  EXPECT_TRUE(found.empty() || found.ends_with("/data") || found.ends_with("/../share/marlix")) << found;
  // A relative path names a file of the folder the process runs in, as the shell has it.
  EXPECT_EQ(AbsolutePath("x/y.txt"), (fs::current_path() / "x/y.txt").string());
  EXPECT_EQ(AbsolutePath("/abs"), "/abs");
}
