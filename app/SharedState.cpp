#include "app/SharedState.h"

#include <cstdio>
#include <utility>

#include "app/Token.h"

SharedState::SharedState() : UploadSecret(MakeToken()) {}

std::string SharedState::UploadPagePath() const { return "/index.html?k=" + UploadSecret; }

std::string SharedState::HomePath(const std::string& name) const { return Home + "/" + name; }

std::string SharedState::ShownPath(const std::string& path) const {
  const bool inside =
      !Home.empty() && path.size() > Home.size() && path.compare(0, Home.size(), Home) == 0 && path[Home.size()] == '/';
  return inside ? path.substr(Home.size() + 1) : path;
}

void SharedState::InsertItem(const std::string& token, const std::string& path) {
  std::lock_guard<std::mutex> lock(ItemLock);
  ItemTable[token] = path;
}

bool SharedState::InsertItemIfAbsent(const std::string& token, const std::string& path) {
  std::lock_guard<std::mutex> lock(ItemLock);
  return ItemTable.emplace(token, path).second;
}

std::optional<std::string> SharedState::FindItem(const std::string& token) {
  std::lock_guard<std::mutex> lock(ItemLock);
  auto it = ItemTable.find(token);
  if (it == ItemTable.end()) return std::nullopt;
  return it->second;
}

void SharedState::ClearItems() {
  std::lock_guard<std::mutex> lock(ItemLock);
  ItemTable.clear();
  FolderFiles.clear();
}

// Enters `path` under a fresh token; ItemLock is held. A collision is drawn again, never dropped.
std::string SharedState::AddItemLocked(const std::string& path) {
  for (;;) {
    std::string token = MakeToken();
    if (token.empty()) return token;
    if (ItemTable.emplace(token, path).second) return token;
  }
}

std::string SharedState::AddItem(const std::string& path) {
  std::lock_guard<std::mutex> lock(ItemLock);
  return AddItemLocked(path);
}

std::string SharedState::FolderFileToken(const std::string& folder, const std::string& path) {
  std::lock_guard<std::mutex> lock(ItemLock);
  auto it = FolderFiles.find(path);
  if (it != FolderFiles.end()) return it->second.Token;
  std::string token = AddItemLocked(path);
  if (!token.empty()) FolderFiles.emplace(path, CFolderFile{token, folder});
  return token;
}

std::string SharedState::FolderOfFile(const std::string& path) {
  std::lock_guard<std::mutex> lock(ItemLock);
  auto it = FolderFiles.find(path);
  return it == FolderFiles.end() ? std::string() : it->second.Folder;
}

void SharedState::AddTempArchive(const std::string& path) {
  std::lock_guard<std::mutex> lock(TempArchiveLock);
  TempArchiveList.push_back(path);
}

void SharedState::DeleteTempArchives() {
  std::vector<std::string> list;
  {
    std::lock_guard<std::mutex> lock(TempArchiveLock);
    list.swap(TempArchiveList);
  }
  for (const std::string& path : list) std::remove(path.c_str());
}

void SharedState::SetWanMapping(PortMapping mapping) {
  std::lock_guard<std::mutex> lock(WanMappingLock);
  WanMapping = std::move(mapping);
}

PortMapping SharedState::TakeWanMapping() {
  std::lock_guard<std::mutex> lock(WanMappingLock);
  return std::exchange(WanMapping, PortMapping{});
}
