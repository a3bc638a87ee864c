#pragma once
// The share flow every front end uses: a path becomes an item with its token, each reach mode gives
// it an address, and the address shown gets its QR code. Runs on the front end's thread.

#include <string>

#include "app/Modes.h"

struct SharedState;

// One shared item: its token in the item table, its kind in addresses ("d" for a folder, "f" for a
// file, "m" for a text) and its full path.
struct CSharedItem {
  std::string Token;  // empty when the random source failed: nothing was shared
  std::string Kind;
  std::string Path;
};

// Shares a file or folder (by its full path) under a new token.
CSharedItem ShareItem(SharedState& state, const std::string& path);
// Shares a text as a page (kind "m"): it is stored in the working directory's ".texts" (a dot-folder,
// never served as a local file) under a name no one guesses. At most kMaxSharedText bytes. Empty
// token on failure; `error` then says what failed (errno), 0 for a random source that failed.
CSharedItem ShareText(SharedState& state, const std::string& text, int& error);
// Removes every stored text and its folder (at the end of the run).
void RemoveSharedTexts(const SharedState& state);

// The item's address in a reach mode: "http://HOST:PORT/KIND?t=TOKEN" with the local address on the
// LAN and the router's external address on the Internet, "http://RELAY/q?t=TOKEN" by the relay.
// Empty when the mode has no address now (none found yet, no relay set).
std::string ItemAddress(const SharedState& state, ReachMode mode, const CSharedItem& item);
// The upload page's address ("http://HOST:PORT/index.html?k=SECRET") on the LAN or the Internet;
// empty by the relay (phones cannot upload through it) and without an address.
std::string UploadPageAddress(const SharedState& state, ReachMode mode);

// Makes the address the one shown: the state's CurrentAddress, and its QR code in the working
// directory's "1.bmp" (the one place that writes it). An empty address empties CurrentAddress and
// removes "1.bmp", so that no code of an earlier address (or an earlier run's secret) is left to show.
void ShowAddress(SharedState& state, const std::string& address);
