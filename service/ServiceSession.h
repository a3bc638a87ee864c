#pragma once

class CMainDialogView;
class CStopFlag;
struct SharedState;

// Signs in to the state's relay service with this program's release; when the relay knows of a newer
// one, reports NewVersion to `events`. The stop flag's Set ends the network call at once (the close, a
// stop signal); a call cut short marks the state's RelayUnanswered. Runs on the start-up worker.
void ServiceSignIn(SharedState& state, CMainDialogView& events, const CStopFlag* stop = nullptr);
// Signs out with the state's DownloadCount and CloudRelayCount. Runs at shutdown after the web service
// stopped; gives up after kSignOutLimitMs, so that a relay that does not answer never holds up the
// close, and after kSignOutShortLimitMs once the relay has left a call unanswered this run.
void ServiceSignOut(const SharedState& state);

inline constexpr long kSignOutLimitMs = 500;
inline constexpr long kSignOutShortLimitMs = 100;
