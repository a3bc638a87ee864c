#pragma once
#include <string>

class CMainDialogView;
struct SharedState;

// Starts the relay upload of the current item on a thread of its own (at most once per dropped item:
// RelayStarted). Folders are refused with a message, and so are files of 4 GiB and more, which the
// upload's 32-bit size field cannot carry. A file that cannot be opened is not uploaded, and nothing
// is sent while no relay is set. The upload thread reads the relay's reply; when the relay refuses
// the file, or cannot be reached, or ends or stalls (no byte moves for 30 s; the connection is given
// 5 s) before its answer, it calls dialog->RelayUploadFailed with the token and
// RelayFailureText(reason). Runs on the interface thread.
void CloudRelayUpload(SharedState& state, const std::string& token, CMainDialogView* dialog, const std::string& path);

// Called by the window and the terminal front end at shutdown, before the dialog is destroyed: upload
// threads still running stop touching the dialog (they go on sending, and do not hold the process
// back from ending). Returns once no upload thread is inside a dialog call.
void CloudRelayDetachDialog();

// Upload threads not yet ended.
int CloudRelayUploadsRunning();
// Waits until no upload thread runs; false when the time ran out first.
bool WaitCloudRelayIdle(int timeoutMs);

// A relay reply: its status (0 when the text is no HTTP reply) and the reason to show, which is the
// body's first line or else the status line's words, cut to 200 bytes of printable text.
struct RelayReply {
  int Status = 0;
  std::string Reason;
};
RelayReply ParseRelayReply(const std::string& reply);

// kRelayFailedPattern completed with the reason.
std::string RelayFailureText(const std::string& reason);

// Texts of the relay refusals.
inline constexpr const char* kRelayFailedPattern = "云中转上传失败：%s";
inline constexpr const char* kRelayNoConnection = "无法连接云中转服务器";
inline constexpr const char* kRelayNoAnswer = "云中转服务器没有回应";
inline constexpr const char* kRelayFolderStatus = "目前不提供整个文件夹进行云端中转功能！";
inline constexpr const char* kRelayFolderMessage =
    "不好意思，由于服务器带宽问题，目前不提供整个文件夹进行云端中转功能！";
inline constexpr const char* kRelayTooLargeStatus = "4 GiB 及以上的文件不能云端中转！";
inline constexpr const char* kRelayTooLargeMessage = "不好意思，文件太大：云端中转只接受小于 4 GiB 的文件！";
