#include "gui/DialogServices.h"

#include <QDesktopServices>
#include <QMessageBox>
#include <cstdlib>

#include "app/PortChoice.h"
#include "gui/MarlixDlg.h"
#include "gui/WindowWebCallbacks.h"
#include "net/WanSetup.h"
#include "service/CloudRelay.h"
#include "service/Marlix.h"
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
  s.StartServer = [](CMarlix& marlix, const std::string& port) {
    return marlix.StartWeb(port, WindowWebCallbacks(marlix.State()));
  };
  s.WanSetup = [](SharedState& state) { return RunWanSetup(state); };
  s.RelayUpload = [](CMarlix& marlix, const std::string& token, CMainDialogView* dialog, const std::string& path) {
    marlix.Relay().Upload(token, dialog, path);
  };
  s.StartupWork = [](SharedState& state, CRevocableDialog& dialog, const std::atomic<bool>& stop) {
    WorkerThread(state, dialog, stop);
  };
  s.SignOut = [](const SharedState& state) { ServiceSignOut(state); };
  s.StopRelays = [](CMarlix& marlix) { marlix.Relay().Stop(); };
  return s;
}

}  // namespace

CDialogServices& DialogServices() {
  static CDialogServices services = RealServices();
  return services;
}

void ResetDialogServices() { DialogServices() = RealServices(); }

void ShowMessageBox(QWidget* parent, const QString& text) { DialogServices().MessageBox(parent, text); }
