#include "service/ServiceSession.h"

#include <string>

#include "app/SharedState.h"
#include "service/HttpClient.h"
#include "service/ServiceConfig.h"

namespace {

const char kNewVersionText[] = "有新版本，请下载新版本";

}  // namespace

void ServiceSignIn() {
  const std::string host = ServiceHost();
  if (host.empty()) return;  // no relay set: nothing is sent
  bool newer = false;
  {
    CHttpClient client;
    client.Request(("http://" + host + "/login").c_str());
    newer = client.BodyLength() > 0 && client.Body()[0] == '1';
  }
  // The window queues the notice and opens the home page once the user has closed it.
  if (newer && g_State.MainDialog) g_State.MainDialog->ShowMessage(kNewVersionText, "http://" + host);
}

void ServiceSignOut() {
  if (!RelayConfigured()) return;
  const std::string address = "http://" + ServiceHost() +
                              "/logout?lan=" + std::to_string(g_State.DownloadCount.load()) +
                              "&cloud=" + std::to_string(g_State.CloudRelayCount.load());
  CHttpClient client;
  client.Request(address.c_str());
}
