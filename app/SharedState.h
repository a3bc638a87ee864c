#pragma once
// The state of one running Marlix that its threads share: its web service, the start-up worker, the
// relay upload threads and the share session (CShareSession, which holds what the user sees). The
// running Marlix (CMarlix) owns it; handlers are given it. Several may live in one process.
//
// Lock discipline:
//  - ItemTable is touched only while ItemLock is held, for one insertion or one lookup at a time;
//    no other lock is taken meanwhile. It is emptied only after the web service has stopped.
//  - SelectedMode, DownloadCount, CloudRelayCount and RelayUnanswered are atomic.
//  - LocalAddress, ChosenAddress, ExternalAddress, ConfiguredRelay and ConfiguredUploadHost are
//    replaced whole (CPublishedText).
//  - Events is safe from any thread.
//  - TempArchiveList is appended to under TempArchiveLock and read at shutdown after the service stopped.
//  - WanMapping is set and taken under WanMappingLock (SetWanMapping, TakeWanMapping).
//  - PortText, Home, UploadSecret and HttpDiagnostics are fixed before the web service starts.

#include <atomic>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "app/EventChannel.h"
#include "app/Modes.h"
#include "app/PublishedText.h"

// A router port mapping this run added, with what is needed to remove it again without a new
// discovery: the gateway's control address and service type, and the external port (TCP). An empty
// port means none.
struct PortMapping {
  std::string ControlUrl;
  std::string ServiceType;
  std::string Port;
};

struct SharedState {
  // The mode the user has chosen, told by the share session whenever it changes; the web service's
  // threads read it (the upload reply's host). None after a failed port opening.
  std::atomic<::ReachMode> SelectedMode{::ReachMode::Lan};
  std::string PortText = "8081";
  CPublishedText LocalAddress;
  CPublishedText ChosenAddress;  // the local address the user picked; empty for the default rule
  CPublishedText ExternalAddress;
  // The relay (host or host:port) from the configuration, or as the user set it since; "" for none.
  // Applies from the next request on (ServiceHost).
  CPublishedText ConfiguredRelay;
  // The host for the relay upload's Host line; "" for the relay's own (UploadHost).
  CPublishedText ConfiguredUploadHost;
  std::map<std::string, std::string> ItemTable;  // token -> full path (UTF-8)
  // A shared folder's files as its page listed them: full path -> its token and that folder.
  struct CFolderFile {
    std::string Token;
    std::string Folder;
  };
  std::map<std::string, CFolderFile> FolderFiles;
  std::mutex ItemLock;
  // The run's upload secret: at least 128 bits, drawn when the state is made, fixed
  // before the web service starts. The upload page's address carries it as "k"; the receiver, the
  // received files and their deletion need it.
  std::string UploadSecret;
  // The working directory (absolute): the page files, "1.bmp", "tmp/" and the archives are in it.
  std::string Home;
  // Where every thread reports its events; the front end attaches itself to it.
  CEventChannel Events;
  // libcurl's verbose trace of the relay sign-in and sign-out on the error stream (the terminal
  // front end turns it off). Fixed before the start-up work.
  bool HttpDiagnostics = true;
  // The certificates that an https:// relay's must chain to (a file, a folder); both empty for the
  // system's store. Fixed before the start-up work.
  std::string TrustedCertificateFile;
  std::string TrustedCertificateFolder;
  std::atomic<int> DownloadCount{0};
  std::atomic<int> CloudRelayCount{0};
  // Set once a call to the relay (the sign-in, an upload) was ended by a stop or a time-out before
  // the relay had answered it: the sign-out at the end then gives it only a short time.
  std::atomic<bool> RelayUnanswered{false};
  std::vector<std::string> TempArchiveList;
  std::mutex TempArchiveLock;

  SharedState();
  SharedState(const SharedState&) = delete;
  SharedState& operator=(const SharedState&) = delete;

  // ItemTable access under ItemLock.
  void InsertItem(const std::string& token, const std::string& path);          // replaces
  bool InsertItemIfAbsent(const std::string& token, const std::string& path);  // keeps an existing entry
  std::optional<std::string> FindItem(const std::string& token);
  void ClearItems();

  // Shares `path` under a new token, drawn again while it collides with a live one; each call makes a
  // new item. Returns the token, or empty when the random source fails.
  std::string AddItem(const std::string& path);
  // The token of one file of a shared folder: the same for the whole share, so that every view of the
  // folder page links the same addresses and the table holds one entry per file. Empty when the
  // random source fails.
  std::string FolderFileToken(const std::string& folder, const std::string& path);
  // The shared folder whose page listed `path`, or "" when `path` is not a listed folder's file.
  std::string FolderOfFile(const std::string& path);

  // The upload page's path and query: "/index.html?k=SECRET".
  std::string UploadPagePath() const;
  // A file or folder in the working directory: Home + "/" + name.
  std::string HomePath(const std::string& name) const;
  // A path as the user is shown it: relative to the working directory when inside it ("tmp/NAME").
  std::string ShownPath(const std::string& path) const;

  // Appends one archive path to TempArchiveList under its lock.
  void AddTempArchive(const std::string& path);
  // Deletes every file listed in TempArchiveList (a file that cannot be deleted is skipped) and
  // empties it.
  void DeleteTempArchives();

  // The router mapping of this run (the start-up worker sets it; the shutdown takes it, leaving none).
  void SetWanMapping(PortMapping mapping);
  PortMapping TakeWanMapping();

 private:
  std::mutex WanMappingLock;
  PortMapping WanMapping;
  std::string AddItemLocked(const std::string& path);
};
