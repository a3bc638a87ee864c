#pragma once
#include <string>

class CMainDialogView;

// Starts the relay upload of the current item on a thread of its own (at most once per dropped item:
// RelayStarted). Folders are refused with a message. Runs on the interface thread.
void CloudRelayUpload(const std::string& token, CMainDialogView* dialog, const std::string& path);

// Writes "http://" + ServiceHost + "/q?t=" + token into CurrentAddress and its QR code into "1.bmp".
void BuildCloudLink(const std::string& token);
