#include "service/ServiceSession.h"

#include <string>

#include "app/MainDialogView.h"
#include "app/SharedState.h"
#include "service/HttpClient.h"
#include "service/ServiceConfig.h"

void ServiceSignIn(SharedState& state, CMainDialogView& events, const CStopFlag* stop) {
  const std::string host = RelayBase(state);
  if (host.empty()) return;  // no relay set: nothing is sent
  bool newer = false;
  {
    CHttpClient client;
    UseRelaySettings(client, state);
    client.SetStopFlag(stop);
    newer = client.Request((host + "/login?release=" MARLIX_VERSION).c_str()) == 0 && client.BodyLength() > 0 &&
            client.Body()[0] == '1';
    if (client.CutShort()) state.RelayUnanswered = true;
  }
  // The window queues the notice and opens the home page once the user has closed it.
  if (newer) events.Report({.Id = ViewEventId::NewVersion, .Name = host});
}

void ServiceSignOut(const SharedState& state) {
  if (!RelayConfigured(state)) return;
  const std::string address = RelayBase(state) + "/logout?lan=" + std::to_string(state.DownloadCount.load()) +
                              "&cloud=" + std::to_string(state.CloudRelayCount.load());
  CHttpClient client;
  UseRelaySettings(client, state);
  client.SetTimeLimit(state.RelayUnanswered ? kSignOutShortLimitMs : kSignOutLimitMs);
  client.Request(address.c_str());
}
