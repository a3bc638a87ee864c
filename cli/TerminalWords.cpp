#include "cli/TerminalWords.h"

namespace {

struct CPhrase {
  const char* Chinese;
  const char* English;
};

// The terminal's sentences. "%1" stands for a count.
constexpr CPhrase kUploading = {"正在上传: ", "Uploading: "};
constexpr CPhrase kCompressing = {"正在压缩...", "Compressing..."};
constexpr CPhrase kLeftOut = {"有 %1 项无法读取，未打包",
                              "%1 entries could not be read and were left out of the archive"};
constexpr CPhrase kNoFreePort = {"无端口可用，程序无法运行！！！",
                                 "No free port (8081 to 8091): the program cannot run."};
constexpr CPhrase kWanFailed = {"外网直连方式不可用，可能路由器不支持端口映射",
                                "Direct Internet mode unavailable: the router may not support port mapping."};
constexpr CPhrase kWanBehindNat = {"路由器处在另一层 NAT 之后，外网的手机无法这样连到本机；云中转方式可以",
                                   "Behind another NAT: phones outside cannot reach this PC; use the relay."};
// The terminal's own: it has no settings, the relay is named by the environment.
constexpr CPhrase kNoRelaySet = {
    "marlix-cli: 未设置云中转服务器。请启动 marlix-relay，并这样指定它:\n"
    "  MARLIX_SERVICE_HOST=主机[:端口] marlix-cli share --cloud 路径...",
    "marlix-cli: no relay is set. Start a marlix-relay and name it with\n"
    "  MARLIX_SERVICE_HOST=HOST[:PORT] marlix-cli share --cloud PATH..."};
constexpr CPhrase kRelayFolderStatus = {"目前不提供整个文件夹进行云端中转功能！",
                                        "Whole folders cannot be relayed through the cloud."};
constexpr CPhrase kRelayFolderMessage = {"不好意思，由于服务器带宽问题，目前不提供整个文件夹进行云端中转功能！",
                                         "Sorry: whole folders cannot be relayed through the cloud."};
constexpr CPhrase kRelayTooLargeStatus = {"4 GiB 及以上的文件不能云端中转！",
                                          "Files of 4 GiB or more cannot be relayed through the cloud."};
constexpr CPhrase kRelayTooLargeMessage = {
    "不好意思，文件太大：云端中转只接受小于 4 GiB 的文件！",
    "Sorry, the file is too large: the cloud relay takes only files under 4 GiB."};
constexpr CPhrase kRelayFailed = {"云中转上传失败：", "The relay upload failed: "};
constexpr CPhrase kRelayNoConnection = {"无法连接云中转服务器", "cannot connect to the relay"};
constexpr CPhrase kRelayNoAnswer = {"云中转服务器没有回应", "the relay did not answer"};
constexpr CPhrase kRelayCertificate = {"无法验证云中转服务器的证书", "the relay's certificate could not be verified"};
constexpr CPhrase kRelayUnencrypted = {
    "云中转服务器不在本地网络，且未加密：文件将以明文经过网络",
    "The relay is not on the local network and not encrypted: the file will cross the network unencrypted."};
constexpr CPhrase kNewVersion = {"有新版本，请下载新版本", "A new version is available: please download it."};

}  // namespace

CTerminalWords TerminalWords(const CViewEvent& event, bool chinese) {
  const auto say = [chinese](const CPhrase& phrase) { return std::string(chinese ? phrase.Chinese : phrase.English); };
  switch (event.Id) {
    case ViewEventId::DownloadProgress:
    case ViewEventId::UploadProgress:
    case ViewEventId::RelayProgress:
    case ViewEventId::FileStored:
    case ViewEventId::ProgressShown:
    case ViewEventId::ProgressReset:
    case ViewEventId::ReceivedCount:
    case ViewEventId::TextReceived:  // printed whole by the front end
      return {};
    case ViewEventId::FileReceived:
      return {say(kUploading) + event.Name, {}};
    case ViewEventId::PackingStarted:
      return {say(kCompressing), {}};
    case ViewEventId::PackingFinished: {
      if (event.Count <= 0) return {};  // the caption before the packing comes back
      std::string line = say(kLeftOut);
      return {line.replace(line.find("%1"), 2, std::to_string(event.Count)), {}};
    }
    case ViewEventId::NoFreePort:
      return {{}, say(kNoFreePort)};
    case ViewEventId::WanFailed:
      return {say(kWanFailed), {}};
    case ViewEventId::WanBehindNat:
      return {say(kWanBehindNat), {}};
    case ViewEventId::NoRelaySet:
      return {say(kNoRelaySet), {}};
    case ViewEventId::RelayFolderRefused:
      return {say(kRelayFolderStatus), say(kRelayFolderMessage)};
    case ViewEventId::RelayFileTooLarge:
      return {say(kRelayTooLargeStatus), say(kRelayTooLargeMessage)};
    case ViewEventId::RelayFailed: {
      const auto failure = static_cast<RelayFailure>(event.Code);
      const std::string reason = failure == RelayFailure::NoConnection  ? say(kRelayNoConnection)
                                 : failure == RelayFailure::NoAnswer    ? say(kRelayNoAnswer)
                                 : failure == RelayFailure::Certificate ? say(kRelayCertificate)
                                                                        : event.Name;  // the relay's own words
      return {say(kRelayFailed) + reason, {}};
    }
    case ViewEventId::RelayUnencrypted:
      return {say(kRelayUnencrypted), {}};
    case ViewEventId::NewVersion:
      return {{}, say(kNewVersion)};
  }
  return {};
}
