#include "gui/DialogServices.h"

#include <QDesktopServices>
#include <QMessageBox>
#include <cstdlib>

#include "app/PortChoice.h"
#include "gui/MarlixDlg.h"
#include "gui/WindowWebCallbacks.h"
#include "net/WanSetup.h"
#include "service/CloudRelay.h"
#include "service/ServiceSession.h"
#include "web/WebService.h"

namespace {

CDialogServices RealServices() {
  CDialogServices s;
  s.MessageBox = [](QWidget* parent, const QString& text) {
    QString shown = text;
    shown.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    QMessageBox box(QMessageBox::NoIcon, QStringLiteral("Marlix"), shown, QMessageBox::Ok, parent);
    box.exec();
  };
  s.OpenUrl = [](const QUrl& url) { QDesktopServices::openUrl(url); };
  s.ExitProcess = [](int code) { std::exit(code); };
  s.ChoosePort = [] { return ChooseServerPort(); };
  s.StartServer = [](const std::string& port) { return StartWebService(port, WindowWebCallbacks()); };
  s.WanSetup = [] { return RunWanSetup(); };
  s.RelayUpload = [](const std::string& token, CMainDialogView* dialog, const std::string& path) {
    CloudRelayUpload(token, dialog, path);
  };
  s.StartupWork = [](CRevocableDialog& dialog, const std::atomic<bool>& stop) { WorkerThread(dialog, stop); };
  s.SignOut = [] { ServiceSignOut(); };
  s.DetachRelays = [] { CloudRelayDetachDialog(); };
  return s;
}

}  // namespace

CDialogServices& DialogServices() {
  static CDialogServices services = RealServices();
  return services;
}

void ResetDialogServices() { DialogServices() = RealServices(); }

void ShowMessageBox(QWidget* parent, const QString& text) { DialogServices().MessageBox(parent, text); }
