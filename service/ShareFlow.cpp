#include "service/ShareFlow.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "app/SharedState.h"
#include "app/Token.h"
#include "app/UrlHost.h"
#include "qr/QrBitmap.h"
#include "service/ServiceConfig.h"
#include "web/send/TextPage.h"

namespace {

// Shared texts lie here in the working directory while they are shared, one file per text.
constexpr char kTextFolder[] = ".texts";

CSharedItem Share(SharedState& state, const std::string& path, ItemKind kind) {
  return {.Token = state.AddItem(path), .Kind = kind, .Path = path};
}

// The LAN or Internet host of the state, bracketed when it is IPv6; empty when there is none.
std::string DirectHost(const SharedState& state, ReachMode mode) {
  const std::string address = mode == ReachMode::Lan   ? state.LocalAddress.Get()
                              : mode == ReachMode::Wan ? state.ExternalAddress.Get()
                                                       : std::string();
  return address.empty() ? address : UrlHost(address);
}

}  // namespace

const char* KindLetter(ItemKind kind) {
  switch (kind) {
    case ItemKind::Folder:
      return "d";
    case ItemKind::Text:
      return "m";
    case ItemKind::File:
      break;
  }
  return "f";
}

CSharedItem ShareItem(SharedState& state, const std::string& path) {
  struct stat st {};
  const bool folder = ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
  return Share(state, path, folder ? ItemKind::Folder : ItemKind::File);
}

CSharedItem ShareText(SharedState& state, const std::string& text, int& error) {
  error = 0;
  if (text.size() > kMaxSharedText) {
    error = EFBIG;
    return {};
  }
  const std::string folder = state.HomePath(kTextFolder);
  const std::string name = MakeToken();
  if (name.empty()) return {};
  ::mkdir(folder.c_str(), 0700);
  const std::string path = folder + "/" + name;
  const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
  size_t written = 0;
  while (fd >= 0 && written < text.size()) {
    const ssize_t n = ::write(fd, text.data() + written, text.size() - written);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    written += static_cast<size_t>(n);
  }
  if (fd < 0) {
    error = errno;
    return {};
  }
  const int writeError = written == text.size() ? 0 : errno ? errno : EIO;
  const int closeError = ::close(fd) == 0 ? 0 : errno;
  if (writeError || closeError) {
    error = writeError ? writeError : closeError;
    ::unlink(path.c_str());
    return {};
  }
  return Share(state, path, ItemKind::Text);
}

void RemoveSharedTexts(const SharedState& state) {
  const std::string folder = state.HomePath(kTextFolder);
  if (DIR* texts = ::opendir(folder.c_str())) {
    while (const dirent* entry = ::readdir(texts))
      if (entry->d_name[0] != '.') ::unlinkat(::dirfd(texts), entry->d_name, 0);
    ::closedir(texts);
    ::rmdir(folder.c_str());
  }
}

std::string ItemAddress(const SharedState& state, ReachMode mode, const CSharedItem& item) {
  if (item.Token.empty()) return {};
  if (mode == ReachMode::Cloud) {
    const std::string relay = RelayBase(state);
    return relay.empty() ? relay : relay + "/q?t=" + item.Token;
  }
  const std::string host = DirectHost(state, mode);
  if (host.empty()) return host;
  return "http://" + host + ":" + state.PortText + "/" + KindLetter(item.Kind) + "?t=" + item.Token;
}

std::string UploadPageAddress(const SharedState& state, ReachMode mode) {
  const std::string host = DirectHost(state, mode);
  if (host.empty()) return host;
  return "http://" + host + ":" + state.PortText + state.UploadPagePath();
}

void ShowAddress(const SharedState& state, const std::string& address) {
  if (address.empty())
    ::unlink(state.HomePath("1.bmp").c_str());  // no code outlives the address it was made for
  else
    GenerateQrBitmap(address, state.HomePath("1.bmp"));
}
