#pragma once
#include <string>

class CMainDialogView;
struct SharedState;

// Starts the relay upload of the current item on a thread of its own (at most once per dropped item:
// RelayStarted). Folders are refused (RelayFolderRefused), and so are files of 4 GiB and more, which
// the upload's 32-bit size field cannot carry (RelayFileTooLarge). A file that cannot be opened is not
// uploaded, and nothing is sent while no relay is set. The upload thread reports its progress
// (RelayProgress) and reads the relay's reply; when the relay refuses the file, or cannot be reached,
// or ends or stalls (no byte moves for 30 s; the connection is given 5 s) before its answer, it
// reports RelayFailed with the token and the reason. Runs on the interface thread.
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
