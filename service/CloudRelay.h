#pragma once
#include <memory>
#include <string>

#include "service/ShareFlow.h"

struct SharedState;

struct CloudRelayThreads;

// The relay uploads of one running Marlix (CMarlix owns it). Each upload runs on a thread of its own;
// none outlives this object. Made and driven on the front end's thread.
class CCloudRelay {
 public:
  explicit CCloudRelay(SharedState& state);
  // Stop().
  ~CCloudRelay();
  CCloudRelay(const CCloudRelay&) = delete;
  CCloudRelay& operator=(const CCloudRelay&) = delete;

  // Starts the relay upload of the item; its events go to the state's event channel, from this thread
  // and from the upload's. Folders are refused (RelayFolderRefused), and so are
  // files of 4 GiB and more, which the upload's 32-bit size field cannot carry (RelayFileTooLarge). A file that cannot
  // be opened is not uploaded, and nothing is sent while no relay is set. The upload thread reports its progress
  // (RelayProgress) and reads the relay's reply; when the relay refuses the file, or cannot be reached, or ends or
  // stalls (no byte moves for 30 s; the connection is given 5 s) before its answer, it reports
  // RelayFailed with the token and the reason. True when the item counts as tried: its upload
  // started, or its file cannot be read (false for a refusal or while no relay is set).
  bool Upload(const CSharedItem& item);

  // Upload threads not yet ended.
  int UploadsRunning();
  // Waits until no upload thread runs; false when the time ran out first.
  bool WaitIdle(int timeoutMs);

  // Ends every upload at once, wherever its request waits (a relay that never answers holds nothing
  // up), and waits for the threads; an upload ended so reports nothing more. Later uploads start
  // again normally. Any thread (a stop signal's too).
  void Stop();

 private:
  SharedState& m_state;
  std::unique_ptr<CloudRelayThreads> m_threads;
};

// A relay reply: its status (0 when the text is no HTTP reply) and the reason to show, which is the
// body's first line or else the status line's words, cut to 200 bytes of printable text.
struct RelayReply {
  int Status = 0;
  std::string Reason;
};
RelayReply ParseRelayReply(const std::string& reply);
