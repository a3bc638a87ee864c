// The shared state's item table and the temporary archive list.

#include <gtest/gtest.h>

#include <filesystem>
#include <thread>

#include "app/SharedState.h"
#include "support/TestEnv.h"

using namespace marlix_test;
namespace fs = std::filesystem;

TEST(SharedState, ItemTableKeepsTheFirstEntryOfATokenWhenAskedTo) {
  SharedState state;
  state.InsertItem("00000001", "/a");
  EXPECT_FALSE(state.InsertItemIfAbsent("00000001", "/b"));
  EXPECT_EQ(state.FindItem("00000001"), "/a");
  state.InsertItem("00000001", "/c");
  EXPECT_EQ(state.FindItem("00000001"), "/c");
  EXPECT_EQ(state.FindItem("00000002"), std::nullopt);
  state.ClearItems();
  EXPECT_EQ(state.FindItem("00000001"), std::nullopt);
}

TEST(SharedState, ConcurrentInsertionsAndLookupsAllLand) {
  SharedState state;
  std::vector<std::thread> threads;
  for (int t = 0; t < 8; ++t) {
    threads.emplace_back([t, &state] {
      for (int i = 0; i < 500; ++i) {
        const std::string token = std::to_string(t * 1000 + i);
        state.InsertItemIfAbsent(token, "/p" + token);
        EXPECT_EQ(state.FindItem(token), "/p" + token);
        ++state.DownloadCount;
      }
    });
  }
  for (auto& thread : threads) thread.join();
  EXPECT_EQ(state.ItemTable.size(), 4000u);
  EXPECT_EQ(state.DownloadCount, 4000);
}

TEST(SharedState, TempArchivesAreDeletedEvenWhenOneCannotBe) {
  CTempWorkDir dir;
  SharedState state;
  state.DeleteTempArchives();  // an empty list deletes nothing
  const fs::path keep = dir.Path() / "keep.zip", busy = dir.Path() / "busy.zip", second = dir.Path() / "second.zip";
  WriteFile(keep, "k");
  WriteFile(busy / "inside", "x");  // a folder that is not empty cannot be removed as a file
  WriteFile(second, "s");
  state.AddTempArchive(busy.string());
  state.AddTempArchive(second.string());
  state.DeleteTempArchives();
  EXPECT_TRUE(fs::exists(busy));
  EXPECT_FALSE(fs::exists(second));
  EXPECT_TRUE(fs::exists(keep));
  EXPECT_TRUE(state.TempArchiveList.empty());
}
