#include "service/CloudRelay.h"

#include "app/SharedState.h"
#include "qr/QrBitmap.h"
#include "service/ServiceConfig.h"

// Filled in with the relay client.
void CloudRelayUpload(const std::string&, CMainDialogView*, const std::string&) {}

void BuildCloudLink(const std::string& token) {
  g_State.CurrentAddress = "http://" + ServiceHost() + "/q?t=" + token;
  GenerateQrBitmap(g_State.CurrentAddress);
}
