// The folder walk: entry order, failures that stop it, and what the archive holds afterwards.

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>

#include "support/SmallDisk.h"
#include "support/TestEnv.h"
#include "zip/FolderZip.h"
#include "zip/ZipCheck.h"
#include "zip/ZipWriter.h"

using namespace marlix_test;
namespace fs = std::filesystem;

namespace {

std::string EmptyArchive() {
  std::string b("PK\x05\x06", 4);
  b.append(18, '\0');
  return b;
}

std::vector<std::string> NamesIn(const std::string& path) {
  const CPyArchive py = InspectWithPython(path);
  EXPECT_TRUE(py.readable) << path << ": " << py.status;
  return py.Names();
}

}  // namespace

TEST(FolderZip, EmptyFolderGivesTheBareEndRecord) {
  CTempWorkDir dir;
  const fs::path out = dir.Path() / "out.zip";
  fs::create_directory(dir.Path() / "shared");
  EXPECT_EQ(ZipFolderToFile(out, dir.Path() / "shared"), 0u);
  EXPECT_EQ(ReadFile(out), EmptyArchive());
}

TEST(FolderZip, OneEmptySubfolderGivesOneFolderEntry) {
  CTempWorkDir dir;
  const fs::path out = dir.Path() / "out.zip";
  fs::create_directories(dir.Path() / "shared/sub");
  EXPECT_EQ(ZipFolderToFile(out, dir.Path() / "shared"), 0u);
  EXPECT_EQ(NamesIn(out), std::vector<std::string>{"sub/"});
  EXPECT_TRUE(UnzipTestsClean(out));
}

TEST(FolderZip, TreeIsWalkedDepthFirstInNameOrderWithoutTheFoldersOwnName) {
  CTempWorkDir dir;
  const fs::path shared = dir.Path() / "shared", out = dir.Path() / "out.zip";
  WriteFile(shared / "z.txt", "last");
  WriteFile(shared / "0.txt", "first");
  WriteFile(shared / "a/b/c.txt", "deep");
  WriteFile(shared / "a/m.txt", "middle");
  WriteFile(shared / ".hidden", "packed like others");
  fs::create_directories(shared / "a/empty");
  EXPECT_EQ(ZipFolderToFile(out, shared), 0u);
  EXPECT_EQ(NamesIn(out),
            (std::vector<std::string>{".hidden", "0.txt", "a/", "a/b/", "a/b/c.txt", "a/empty/", "a/m.txt", "z.txt"}));
  EXPECT_TRUE(UnzipTestsClean(out));
  // unzip puts the tree back as it was.
  int status = 0;
  RunCommand("cd '" + dir.Path().string() + "' && mkdir x && cd x && unzip -qq ../out.zip", status);
  EXPECT_EQ(status, 0);
  EXPECT_EQ(ReadFile(dir.Path() / "x/a/b/c.txt"), "deep");
  EXPECT_TRUE(fs::is_directory(dir.Path() / "x/a/empty"));
}

TEST(FolderZip, MissingFolderLeavesAnEmptyArchiveAndFails) {
  CTempWorkDir dir;
  const fs::path out = dir.Path() / "out.zip";
  EXPECT_EQ(ZipFolderToFile(out, dir.Path() / "nowhere"), ZIP_WALK_FAILED);
  EXPECT_EQ(ReadFile(out), EmptyArchive());
}

TEST(FolderZip, OlderArchiveIsReplacedAndUndeletableOrUncreatableArchivesAreReported) {
  CTempWorkDir dir;
  const fs::path shared = dir.Path() / "shared", out = dir.Path() / "out.zip";
  WriteFile(shared / "a.txt", "a");
  WriteFile(out, "an older archive");
  EXPECT_EQ(ZipFolderToFile(out, shared), 0u);
  EXPECT_EQ(NamesIn(out), std::vector<std::string>{"a.txt"});
  // No older file, and the new one cannot be created: 2.
  EXPECT_EQ(ZipFolderToFile(dir.Path() / "missing/out.zip", shared), 2u);
  // An older "archive" that is a folder cannot be deleted: the delete's error, and nothing else happens.
  fs::create_directories(dir.Path() / "busy.zip/inside");
  EXPECT_EQ(ZipFolderToFile(dir.Path() / "busy.zip", shared), static_cast<uint32_t>(EISDIR));
  EXPECT_TRUE(fs::exists(dir.Path() / "busy.zip/inside"));
}

// An entry that cannot be opened or listed is left out and the walk goes on; the result is the first
// failure and the report counts what is missing. As root permissions do not stop reads, so a link to
// nothing stands for an unreadable file there, and a folder that cannot be listed is tried only when
// not root.
TEST(FolderZip, UnreadableEntriesAreLeftOutAndTheWalkGoesOn) {
  CTempWorkDir dir;
  const fs::path shared = dir.Path() / "shared", out = dir.Path() / "out.zip";
  WriteFile(shared / "a.txt", "a");
  WriteFile(shared / "c.txt", "c");
  WriteFile(shared / "d/e.txt", "e");
  fs::create_symlink("/nonexistent/target", shared / "b-link");
  fs::create_symlink("/nonexistent/target", shared / "d/0-link");
  CZipWalkReport report;
  EXPECT_EQ(ZipFolderToFile(out, shared, 0, &report), ZIP_ERR_OPEN);
  EXPECT_EQ(NamesIn(out), (std::vector<std::string>{"a.txt", "c.txt", "d/", "d/e.txt"}));
  EXPECT_TRUE(UnzipTestsClean(out));
  EXPECT_EQ(report.leftOut, 2);
  EXPECT_TRUE(report.whole);
  if (::geteuid() == 0) {
    std::cout << "[ INFO     ] running as root: permission-denied reads cannot be tested\n";
    return;
  }
  fs::remove(shared / "b-link");
  WriteFile(shared / "b.txt", "b");
  fs::permissions(shared / "b.txt", fs::perms::none);
  fs::permissions(shared / "d", fs::perms::none);
  report = {};
  EXPECT_EQ(ZipFolderToFile(out, shared, 0, &report), ZIP_ERR_OPEN);
  EXPECT_EQ(NamesIn(out), (std::vector<std::string>{"a.txt", "c.txt"}));
  EXPECT_EQ(report.leftOut, 2);
  fs::permissions(shared / "d", fs::perms::owner_all);
}

// A failed write to the archive (here: a full disk) ends the packing and says the archive is not whole.
TEST(FolderZip, FullDiskEndsThePackingAsNotWhole) {
  CTempWorkDir dir;
  const CSmallDisk disk((dir.Path() / "small").string(), 1 << 20);
  if (!disk.Mounted()) GTEST_SKIP() << "mounting a tmpfs is not allowed here";
  std::string noise(3 << 20, '\0');
  unsigned x = 1;
  for (char& c : noise) c = static_cast<char>((x = x * 1103515245u + 12345u) >> 16);
  WriteFile(dir.Path() / "shared/a.bin", noise);
  WriteFile(dir.Path() / "shared/b.txt", "b");
  CZipWalkReport report;
  EXPECT_EQ(ZipFolderToFile(dir.Path() / "small/out.zip", dir.Path() / "shared", 1, &report), ZIP_ERR_WRITE);
  EXPECT_FALSE(report.whole);
  EXPECT_EQ(report.writeError, ENOSPC);
  EXPECT_EQ(report.leftOut, 0);
}

TEST(FolderZip, ArchiveInsideTheSharedFolderIsNotPackedIntoItself) {
  CTempWorkDir dir;
  const fs::path shared = dir.Path() / "shared";
  WriteFile(shared / "a.txt", "a");
  WriteFile(shared / "z.txt", "z");
  EXPECT_EQ(ZipFolderToFile(shared / "m.zip", shared), ZIP_ERR_OPEN);
  EXPECT_EQ(NamesIn(shared / "m.zip"), (std::vector<std::string>{"a.txt", "z.txt"}));
  EXPECT_TRUE(UnzipTestsClean(shared / "m.zip"));
}

TEST(FolderZip, NoLinkIsFollowedInsideTheTreeOrOutOfIt) {
  CTempWorkDir dir;
  const fs::path shared = dir.Path() / "shared", out = dir.Path() / "out.zip";
  WriteFile(shared / "sub/f.txt", "f");
  fs::create_directory_symlink("..", shared / "sub/up");
  fs::create_directory_symlink(shared, shared / "sub/top");
  WriteFile(dir.Path() / "outside/o.txt", "o");
  fs::create_directory_symlink(dir.Path() / "outside", shared / "out");
  fs::create_symlink(dir.Path() / "outside/o.txt", shared / "o-link.txt");
  CZipWalkReport report;
  EXPECT_EQ(ZipFolderToFile(out, shared, 0, &report), ZIP_ERR_OPEN);
  EXPECT_EQ(NamesIn(out), (std::vector<std::string>{"sub/", "sub/f.txt"}));
  EXPECT_EQ(report.leftOut, 4);
}

TEST(FolderZip, AddFolderTreeBelowTheTopStartsWithItsFolderEntry) {
  CTempWorkDir dir;
  const fs::path shared = dir.Path() / "shared", out = dir.Path() / "out.zip";
  WriteFile(shared / "a/b.txt", "b");
  std::unique_ptr<CZipWriter> w;
  ASSERT_EQ(CZipWriter::Create(out, w), ZIP_OK);
  EXPECT_EQ(AddFolderTree(*w, shared, "a"), 0u);
  EXPECT_EQ(AddFolderTree(*w, shared, "none"), ZIP_WALK_FAILED);
  w->Close();
  EXPECT_EQ(NamesIn(out), (std::vector<std::string>{"a/", "a/b.txt"}));
}

// Small files compressed ahead on spare threads land in their own entries, in order, whole; with
// subfolders, a stored file and larger files between them.
TEST(FolderZip, ManySmallFilesCompressedAheadKeepTheirOwnContent) {
  CTempWorkDir dir;
  const fs::path shared = dir.Path() / "shared", out = dir.Path() / "out.zip";
  std::vector<std::string> expected;
  for (int i = 0; i < 60; ++i) {
    char name[32];
    std::snprintf(name, sizeof name, "f%02d.txt", i);
    std::string content;
    for (int k = 0; k < (i % 7) * 900 + 1; ++k) content += std::to_string(i * k) + ",";
    if (i == 30) content.assign(700000, 'x');  // more than one piece
    WriteFile(shared / name, content);
    expected.push_back(name);
    if (i == 20) {
      WriteFile(shared / "f20.txt.d/inner.txt", "inner");
      expected.push_back("f20.txt.d/");
      expected.push_back("f20.txt.d/inner.txt");
    }
  }
  WriteFile(shared / "g.gz", "not really gzip");
  expected.push_back("g.gz");
  for (unsigned threads : {2u, 4u}) {
    std::unique_ptr<CZipWriter> w;
    ASSERT_EQ(CZipWriter::Create(out, w, threads), ZIP_OK);
    EXPECT_EQ(AddFolderTree(*w, shared, ""), 0u);
    w->Close();
    const CPyArchive py = InspectWithPython(out);
    ASSERT_TRUE(py.readable) << py.status;
    EXPECT_EQ(py.Names(), expected);
    EXPECT_EQ(py.entries[32].name, "f30.txt");
    EXPECT_EQ(py.entries[32].size, 700000u);
    EXPECT_TRUE(UnzipTestsClean(out));
  }
}
