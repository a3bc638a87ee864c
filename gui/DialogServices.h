#pragma once
// The operations outside the window that the main dialog calls: message boxes, the desktop's opener,
// the end of the process, the port choice, the web service start, the router port opening, and the
// share session's operations outside the program (CSessionOperations). Each has its real default; tests replace them to
// record or simulate.

#include <QString>
#include <QStringList>
#include <QUrl>
#include <functional>
#include <string>

#include "net/WanSetup.h"
#include "service/ShareFlow.h"

class CMainDialogView;
class CStopFlag;
class QWidget;
class CWebService;
class CMarlix;
struct SharedState;

struct CDialogServices {
  // A modal message box with one OK button.
  std::function<void(QWidget* parent, const QString& text)> MessageBox;
  // Asks whether to stop sharing and quit; true to quit. Sets dontAskAgain when the user ticked it.
  std::function<bool(QWidget* parent, bool& dontAskAgain)> AskToQuit;
  // The desktop's file chooser: the files chosen (several at once), or with `folder` one folder;
  // empty when cancelled.
  std::function<QStringList(QWidget* parent, bool folder)> ChoosePaths;
  // Looks for the local address (DiscoverLocalAddress).
  std::function<void(SharedState& state)> FindAddress;
  // Opens a folder or an address with the desktop (QDesktopServices).
  std::function<void(const QUrl& url)> OpenUrl;
  // Ends the process (std::exit).
  std::function<void(int code)> ExitProcess;
  // The first free port of 8081 to 8091, or empty (ChooseServerPort).
  std::function<std::string()> ChoosePort;
  // Starts the running Marlix's web service on the port text (CMarlix::StartWeb), else on the first
  // free port of 8081 to 8091; false when it cannot listen.
  std::function<bool(CMarlix& marlix, const std::string& port)> StartServer;
  // The router port opening; publishes ExternalAddress (RunWanSetup). Runs on a worker thread.
  std::function<WanSetupResult(SharedState& state)> WanSetup;
  // Starts the relay upload of an item (CCloudRelay::Upload); true when the item counts as tried.
  std::function<bool(CMarlix& marlix, const CSharedItem& item)> RelayUpload;
  // The start-up worker's job (ServiceSignIn, then DiscoverLocalAddress), on the worker thread: the
  // event channel and the stop flag that the close sets.
  std::function<void(SharedState& state, CMainDialogView& events, const CStopFlag& stop)> StartupWork;
  // The sign-out at shutdown (ServiceSignOut).
  std::function<void(const SharedState& state)> SignOut;
};

// The services in use; every member starts as the real operation.
CDialogServices& DialogServices();
// Puts every member back to the real operation.
void ResetDialogServices();

// The one way the window shows a message box.
void ShowMessageBox(QWidget* parent, const QString& text);
