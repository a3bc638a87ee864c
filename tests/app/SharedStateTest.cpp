// The shared state's item table and the temporary archive list.

#include <gtest/gtest.h>

#include <filesystem>
#include <thread>

#include "app/SharedState.h"
#include "support/TestEnv.h"

using namespace marlix_test;

TEST(SharedState, ItemTableKeepsTheFirstEntryOfATokenWhenAskedTo) {
  g_State.Reset();
  InsertItem("00000001", "/a");
  EXPECT_FALSE(InsertItemIfAbsent("00000001", "/b"));
  EXPECT_EQ(FindItem("00000001"), "/a");
  InsertItem("00000001", "/c");
  EXPECT_EQ(FindItem("00000001"), "/c");
  EXPECT_EQ(FindItem("00000002"), std::nullopt);
  ClearItems();
  EXPECT_EQ(FindItem("00000001"), std::nullopt);
}

TEST(SharedState, ConcurrentInsertionsAndLookupsAllLand) {
  g_State.Reset();
  std::vector<std::thread> threads;
  for (int t = 0; t < 8; ++t) {
    threads.emplace_back([t] {
      for (int i = 0; i < 500; ++i) {
        const std::string token = std::to_string(t * 1000 + i);
        InsertItemIfAbsent(token, "/p" + token);
        EXPECT_EQ(FindItem(token), "/p" + token);
        ++g_State.DownloadCount;
      }
    });
  }
  for (auto& thread : threads) thread.join();
  EXPECT_EQ(g_State.ItemTable.size(), 4000u);
  EXPECT_EQ(g_State.DownloadCount, 4000);
  g_State.Reset();
}

TEST(SharedState, TempArchivesAreDeletedEvenWhenOneCannotBe) {
  CTempWorkDir dir;
  g_State.Reset();
  DeleteTempArchives();  // an empty list deletes nothing
  WriteFile("keep.zip", "k");
  std::filesystem::create_directory("busy.zip");
  WriteFile("busy.zip/inside", "x");  // a folder that is not empty cannot be removed as a file
  WriteFile("second.zip", "s");
  AddTempArchive("busy.zip");
  AddTempArchive("second.zip");
  DeleteTempArchives();
  EXPECT_TRUE(std::filesystem::exists("busy.zip"));
  EXPECT_FALSE(std::filesystem::exists("second.zip"));
  EXPECT_TRUE(std::filesystem::exists("keep.zip"));
  EXPECT_TRUE(g_State.TempArchiveList.empty());
}
