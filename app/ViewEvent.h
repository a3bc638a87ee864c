#pragma once
// What the core tells a front end: an event id with its values. The core words nothing; each front
// end says it in its user's language (the window through Qt's translations, the terminal from a
// table of its own). Reported through the running Marlix's event channel (EventChannel.h), from any
// thread.

#include <algorithm>
#include <cstdint>
#include <string>

enum class ViewEventId {
  // Transfers: Done of Total bytes. The core reports a transfer at most about a hundred times (when
  // its whole percent changes); the front end turns the bytes into its bar.
  DownloadProgress,  // a shared file or a folder archive going to a phone; Done counts from the file's start
  UploadProgress,    // a file coming from a phone; Name: its name as sent. Total is the request's
                     // declared length for a multipart upload, the file's size for a resumable one
  RelayProgress,     // the item going to the relay; Token: the item's
  // Uploads.
  FileReceived,  // a file part's last byte has arrived; Name: where it is kept ("tmp/photo.jpg")
  FileStored,    // that file has been saved and answered; Name: its path
  // Folder archives.
  PackingStarted,   // a folder archive is being packed; Packings: how many are now (they may overlap)
  PackingFinished,  // one packing ended; Count: the entries it left out (they could not be read);
                    // Packings: how many are still under way
  // Set-up of the program and of the modes.
  NoFreePort,    // none of the server ports is free: the program cannot run
  WanFailed,     // the router would not map the port (or there is no router that speaks UPnP)
  WanBehindNat,  // the router sits behind another NAT: phones outside cannot reach this PC directly
  NoRelaySet,    // the cloud mode was chosen, but no relay is set
  // Refusals and failures.
  RelayFolderRefused,  // the relay takes no folders
  RelayFileTooLarge,   // the relay takes no file of 4 GiB or more
  RelayFailed,         // the relay stored nothing; Token: the item's; Code: a RelayFailure; Name: the
                       // relay's own reason (its words, shown as they are) when Code is Refused
  RelayUnencrypted,    // the relay is reached by http:// at an address that is neither loopback nor
                       // private: the file crosses the network unencrypted (told once a run)
  NewVersion,          // a newer release exists; Name: the address to open once the user has been told
  // The progress bar and what phones sent.
  ProgressShown,  // a transfer starts: the bar shows; it then follows the progress events
  ProgressReset,  // the bar is hidden and set back to its start (the relay upload, before it connects)
  ReceivedCount,  // an upload request has ended; Count: the files it stored
  TextReceived,   // a phone sent a text; Name: the text (UTF-8, at most 64 KiB, as sent: show it escaped)
};
// The last id, for tables that cover them all.
inline constexpr ViewEventId kLastViewEventId = ViewEventId::TextReceived;

// Why a relay upload stored nothing (CViewEvent::Code of RelayFailed).
enum class RelayFailure : int {
  NoConnection = 1,  // the relay could not be reached
  NoAnswer = 2,      // it ended or stalled before its answer
  Refused = 3,       // it answered with a refusal, whose reason is in Name
  Certificate = 4,   // its certificate could not be verified: nothing was sent
};

// Made with designated initializers: {.Id = ViewEventId::FileReceived, .Name = path}.
struct CViewEvent {
  ViewEventId Id{};
  int64_t Done = 0;
  int64_t Total = 0;
  int Count = 0;
  int Code = 0;
  std::string Name{};   // a file's name or path, an address, or a reason, as the Id says
  std::string Token{};  // the shared item's token, as the Id says
  int Packings = 0;     // folder archives being packed, counted by the core once for every front end
};

// The whole percent of Done of Total, from 0 to 100 (0 while Total is not known).
inline int PercentDone(const CViewEvent& event) {
  if (event.Total <= 0 || event.Done <= 0) return 0;
  if (event.Done >= event.Total) return 100;
  // Done * 100 would overflow only beyond 92 PB: there the divisor is cut instead (Done < Total).
  if (event.Done > INT64_MAX / 100) return static_cast<int>(std::min<int64_t>(99, event.Done / (event.Total / 100)));
  return static_cast<int>(event.Done * 100 / event.Total);
}
