#include "gui/DialogServices.h"

#include <QCheckBox>
#include <QDesktopServices>
#include <QFileDialog>
#include <QMessageBox>
#include <QPushButton>
#include <cstdlib>

#include "app/PortChoice.h"
#include "gui/MarlixDlg.h"
#include "gui/SettingsDlg.h"
#include "net/LocalAddress.h"
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
  s.AskToQuit = [](QWidget* parent, bool& dontAskAgain) {
    QMessageBox box(QMessageBox::Question, QStringLiteral("Marlix"), CMarlixDlg::tr("停止分享并退出？"),
                    QMessageBox::NoButton, parent);
    QPushButton* quit = box.addButton(CMarlixDlg::tr("退出"), QMessageBox::AcceptRole);
    box.addButton(CMarlixDlg::tr("取消"), QMessageBox::RejectRole);
    box.setDefaultButton(quit);
    auto* never = new QCheckBox(CMarlixDlg::tr("不再询问"), &box);
    box.setCheckBox(never);
    box.exec();
    dontAskAgain = never->isChecked();
    return box.clickedButton() == quit;
  };
  s.ChoosePaths = [](QWidget* parent, bool folder) {
    if (folder) {
      const QString chosen = QFileDialog::getExistingDirectory(parent, CMarlixDlg::tr("选择要分享的文件夹"));
      return chosen.isEmpty() ? QStringList() : QStringList{chosen};
    }
    return QFileDialog::getOpenFileNames(parent, CMarlixDlg::tr("选择要分享的文件"));
  };
  s.FindAddress = [](SharedState& state) { DiscoverLocalAddress(state); };
  s.OpenUrl = [](const QUrl& url) { QDesktopServices::openUrl(url); };
  s.ExitProcess = [](int code) { std::exit(code); };
  s.ChoosePort = [] {
    // The port kept in the settings, and only that one while it is free.
    const int kept = KeptPort();
    if (kept > 0 && ProbePort(kept)) return std::to_string(kept);
    return ChooseServerPort();
  };
  // The port chosen at start, else the next free one when another program took it meanwhile.
  s.StartServer = [](CMarlix& marlix, const std::string& port) {
    return marlix.StartWeb(port) || marlix.StartWebOnFreePort();
  };
  s.WanSetup = [](SharedState& state) { return RunWanSetup(state); };
  const CSessionOperations session = RealSessionOperations();
  s.RelayUpload = session.RelayUpload;
  s.StartupWork = session.StartupWork;
  s.SignOut = session.SignOut;
  return s;
}

}  // namespace

CDialogServices& DialogServices() {
  static CDialogServices services = RealServices();
  return services;
}

void ResetDialogServices() { DialogServices() = RealServices(); }

void ShowMessageBox(QWidget* parent, const QString& text) { DialogServices().MessageBox(parent, text); }
