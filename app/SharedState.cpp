#include "app/SharedState.h"

#include <cstdio>

#include "app/Token.h"

SharedState g_State;

SharedState::SharedState() : UploadSecret(MakeToken()) {}

std::string UploadPagePath() { return "/index.html?k=" + g_State.UploadSecret; }

void SharedState::Reset() {
  UploadSecret = MakeToken();
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
  g_State.FolderFileTokens.clear();
}

namespace {
// Enters `path` under a fresh token; ItemLock is held. A collision is drawn again, never dropped.
std::string AddItemLocked(const std::string& path) {
  for (;;) {
    std::string token = MakeToken();
    if (token.empty()) return token;
    if (g_State.ItemTable.emplace(token, path).second) return token;
  }
}
}  // namespace

std::string AddItem(const std::string& path) {
  std::lock_guard<std::mutex> lock(g_State.ItemLock);
  return AddItemLocked(path);
}

std::string FolderFileToken(const std::string& path) {
  std::lock_guard<std::mutex> lock(g_State.ItemLock);
  auto it = g_State.FolderFileTokens.find(path);
  if (it != g_State.FolderFileTokens.end()) return it->second;
  std::string token = AddItemLocked(path);
  if (!token.empty()) g_State.FolderFileTokens.emplace(path, token);
  return token;
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
