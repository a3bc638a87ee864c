#pragma once

// Signs in to the relay service; tells the user of a newer release. Runs on the start-up worker.
void ServiceSignIn();
// Signs out with DownloadCount and CloudRelayCount. Runs at shutdown after the web service stopped.
void ServiceSignOut();
