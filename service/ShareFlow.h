#pragma once
// The share flow's pieces: a path becomes an item with its token, each reach mode gives it an address,
// and the address shown gets its QR code. The share session (ShareSession.h) uses them; runs on the
// front end's thread.

#include <string>

#include "app/Modes.h"

struct SharedState;

// What a shared item is; its address names it by a letter of its own (KindLetter).
enum class ItemKind { File, Folder, Text };
// "f" for a file, "d" for a folder, "m" for a text: the path of its address.
const char* KindLetter(ItemKind kind);

// One shared item: its token in the item table, its kind and its full path.
struct CSharedItem {
  std::string Token;  // empty when the random source failed: nothing was shared
  ItemKind Kind = ItemKind::File;
  std::string Path;
};

// Shares a file or folder (by its full path) under a new token.
CSharedItem ShareItem(SharedState& state, const std::string& path);
// Shares a text as a page: it is stored in the working directory's ".texts" (a dot-folder,
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

// Writes the QR code of the address shown as the working directory's "1.bmp" (the one place that
// writes it; the share session calls it). An empty address removes "1.bmp", so that no code of an
// earlier address (or an earlier run's secret) is left to show.
void ShowAddress(const SharedState& state, const std::string& address);
