#pragma once
#include <atomic>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <string>

#include "web/HttpReply.h"
#include "web/HttpRequest.h"

class CWebService;
struct SharedState;

// The folder archives of one web service: which archive file belongs to which shared folder, the
// names chosen in this run, and the window told of each packing. Thread-safe.
class CFolderArchives {
 public:
  // Archives are made in the state's working directory; the state outlives this.
  explicit CFolderArchives(SharedState& state) : m_state(state) {}

  // The archive of one shared folder. Its mutex makes the test for the file, the packing and the
  // listing in TempArchiveList one step, so that concurrent requests pack it once and all send it
  // whole.
  struct CArchive {
    std::mutex step;
    std::string path;  // the file in the working directory, once chosen
  };

  std::shared_ptr<CArchive> ArchiveOf(const std::string& folderPath);
  // Picks a free file path in the working directory ("Docs.zip", else "Docs (2).zip", ...) and
  // creates it empty to hold it; a file this run did not make is never taken. Empty when the
  // working directory takes no new file (diskFull then tells why).
  std::string ReservePath(const std::string& ownName, bool& diskFull);

  // Tell the window that a packing starts (PackingStarted) and that it ended, with the number of
  // entries it left out (PackingFinished); the window words the caption.
  void BeginCompressingCaption();
  void EndCompressingCaption(int leftOut);

 private:
  SharedState& m_state;
  std::mutex m_lock;  // guards the two maps, for one look-up or choice at a time
  std::map<std::string, std::shared_ptr<CArchive>> m_archives;  // folder path -> its archive
  std::set<std::string> m_chosenPaths;                          // archive files chosen in this run
};

// "/z?t=TOKEN": the shared folder as one ZIP archive, packed once per run. May wait for the packing.
CHttpReply ServeFolderArchive(CWebService& service, const CHttpRequest& request, const char* query);
