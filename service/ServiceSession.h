#pragma once
#include <atomic>

class CMainDialogView;
struct SharedState;

// Signs in to the state's relay service with this program's release; when the relay knows of a newer
// one, reports NewVersion to `events`. A set stop flag ends the network call at once (the close, a
// stop signal). Runs on the start-up worker.
void ServiceSignIn(const SharedState& state, CMainDialogView& events, const std::atomic<bool>* stop = nullptr);
// Signs out with the state's DownloadCount and CloudRelayCount. Runs at shutdown after the web service stopped;
// gives up after kSignOutLimitMs, so that a relay that does not answer never holds up the close.
void ServiceSignOut(const SharedState& state);

inline constexpr long kSignOutLimitMs = 500;
