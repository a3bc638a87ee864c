#pragma once
#include <atomic>

class CRevocableDialog;
struct SharedState;

// Signs in to the state's relay service; tells the user of a newer release through the dialog, which the
// window may revoke meanwhile. A set stop flag ends the network call at once (the window's close).
// Runs on the start-up worker.
void ServiceSignIn(const SharedState& state, CRevocableDialog& dialog, const std::atomic<bool>* stop = nullptr);
// Signs out with the state's DownloadCount and CloudRelayCount. Runs at shutdown after the web service stopped;
// gives up after kSignOutLimitMs, so that a relay that does not answer never holds up the close.
void ServiceSignOut(const SharedState& state);

inline constexpr long kSignOutLimitMs = 1000;
