#pragma once
#include <atomic>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <string>

#include "web/http/HttpReply.h"
#include "web/http/HttpRequest.h"
#include "zip/ArchiveBuild.h"

struct SharedState;

// The folder archives of one web service: which archive file belongs to which shared folder, the
// names chosen in this run, and the window told of each packing. Thread-safe.
class CFolderArchives {
 public:
  // Archives are made in the state's working directory; the state outlives this.
  explicit CFolderArchives(SharedState& state) : m_state(state) {}

  // The archive of one shared folder. Its mutex makes the test for the file, the start of its
  // packing and the listing in TempArchiveList one step, so that concurrent requests pack it once:
  // a request that finds the packing under way follows it (or waits for its end) and sends the same
  // bytes.
  struct CArchive {
    std::mutex step;
    std::string path;                      // the file in the working directory, once chosen
    std::shared_ptr<CArchiveBuild> build;  // the packing of `path` once started, until a later request
  };

  std::shared_ptr<CArchive> ArchiveOf(const std::string& folderPath);
  // Picks a free file path in the working directory ("Docs.zip", else "Docs (2).zip", ...) and
  // creates it empty to hold it; a file this run did not make is never taken. Empty when the
  // working directory takes no new file (diskFull then tells why).
  std::string ReservePath(const std::string& ownName, bool& diskFull);

  // Ends the packings under way and waits for them; their half-made archives are deleted. Called
  // once the server has stopped (no reply reads them any more).
  void StopBuilds();

  // Tell the window that a packing starts (PackingStarted) and that it ended, with the number of
  // entries it left out (PackingFinished); the window words the caption. Both carry the number of
  // packings under way, counted here and reported in the order counted. Every Begin has its End.
  void BeginCompressingCaption();
  void EndCompressingCaption(int leftOut);

 private:
  SharedState& m_state;
  std::mutex m_lock;  // guards the two maps, for one look-up or choice at a time
  std::map<std::string, std::shared_ptr<CArchive>> m_archives;  // folder path -> its archive
  std::set<std::string> m_chosenPaths;                          // archive files chosen in this run
  std::mutex m_packingLock;  // makes each change of m_packings and its report one step
  int m_packings = 0;        // packings under way (Begin without End), under m_packingLock
};

// "/z?t=TOKEN": the shared folder at `folderPath` (the item the token names) as one ZIP archive of
// `archives`, packed once per run; each download is counted in `state` and reported to its event
// channel. A packing that is not done within a moment is sent as it is packed (chunked) to an
// HTTP/1.1 request without Range, and a failure breaks that reply off; other requests wait for the
// packing's end. A finished archive is sent as a file (Content-Length, Range, validators). Once
// `stop` is set, waits and packings give up.
CHttpReply ServeFolderArchive(CFolderArchives& archives, SharedState& state, const std::atomic<bool>& stop,
                              const CHttpRequest& request, const std::string& folderPath);
