#include "app/SharedState.h"

#include <cstdio>

SharedState g_State;

void SharedState::Reset() {
  PageMode = ::PageMode::Share;
  ReachMode = ::ReachMode::Lan;
  SelectedMode = ::ReachMode::Lan;
  PortText = "8081";
  LocalAddress.Set("");
  ChosenAddress.Set("");
  ExternalAddress.Set("");
  CurrentItemPath.clear();
  CurrentItemToken.clear();
  ItemKind.clear();
  ClearItems();
  CurrentAddress.clear();
  MainDialog = nullptr;
  WaitDialog = nullptr;
  WanAttempted = 0;
  RelayStarted = 0;
  DownloadCount = 0;
  CloudRelayCount = 0;
  std::lock_guard<std::mutex> lock(TempArchiveLock);
  TempArchiveList.clear();
}

void InsertItem(const std::string& token, const std::string& path) {
  std::lock_guard<std::mutex> lock(g_State.ItemLock);
  g_State.ItemTable[token] = path;
}

bool InsertItemIfAbsent(const std::string& token, const std::string& path) {
  std::lock_guard<std::mutex> lock(g_State.ItemLock);
  return g_State.ItemTable.emplace(token, path).second;
}

std::optional<std::string> FindItem(const std::string& token) {
  std::lock_guard<std::mutex> lock(g_State.ItemLock);
  auto it = g_State.ItemTable.find(token);
  if (it == g_State.ItemTable.end()) return std::nullopt;
  return it->second;
}

void ClearItems() {
  std::lock_guard<std::mutex> lock(g_State.ItemLock);
  g_State.ItemTable.clear();
}

void AddTempArchive(const std::string& path) {
  std::lock_guard<std::mutex> lock(g_State.TempArchiveLock);
  g_State.TempArchiveList.push_back(path);
}

void DeleteTempArchives() {
  std::vector<std::string> list;
  {
    std::lock_guard<std::mutex> lock(g_State.TempArchiveLock);
    list.swap(g_State.TempArchiveList);
  }
  for (const std::string& path : list) std::remove(path.c_str());
}
