#pragma once
// The operations outside the window that the main dialog calls: message boxes, the desktop's opener,
// the end of the process, the port choice, the web service start, the router port opening, the relay
// upload and the start-up work. Each has its real default; tests replace them to record or simulate.

#include <QString>
#include <QUrl>
#include <functional>
#include <string>

class CMainDialogView;
class QWidget;
class CWebService;

struct CDialogServices {
  // A modal message box with one OK button.
  std::function<void(QWidget* parent, const QString& text)> MessageBox;
  // Opens a folder or an address with the desktop (QDesktopServices).
  std::function<void(const QUrl& url)> OpenUrl;
  // Ends the process (std::exit).
  std::function<void(int code)> ExitProcess;
  // The first free port of 8081 to 8091, or empty (ChooseServerPort).
  std::function<std::string()> ChoosePort;
  // Starts the web service on the port text (StartWebService).
  std::function<CWebService*(const std::string& port)> StartServer;
  // The router port opening; publishes ExternalAddress (RunWanSetup). Runs on a worker thread.
  std::function<bool()> WanSetup;
  // Starts the relay upload of an item (CloudRelayUpload).
  std::function<void(const std::string& token, CMainDialogView* dialog, const std::string& path)> RelayUpload;
  // The start-up worker's job (ServiceSignIn, then DiscoverLocalAddress).
  std::function<void()> StartupWork;
  // The sign-out at shutdown (ServiceSignOut).
  std::function<void()> SignOut;
  // At shutdown, before the dialog goes: relay upload threads still running stop calling it
  // (CloudRelayDetachDialog, where the relay client offers it).
  std::function<void()> DetachRelays;
};

// The services in use; every member starts as the real operation.
CDialogServices& DialogServices();
// Puts every member back to the real operation.
void ResetDialogServices();

// The one way the window shows a message box.
void ShowMessageBox(QWidget* parent, const QString& text);
