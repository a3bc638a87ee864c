#include "gui/MarlixApp.h"

#include <QCoreApplication>
#include <QTimer>
#include <memory>

#include "app/WorkingDirectory.h"
#include "gui/DialogServices.h"
#include "gui/MarlixDlg.h"
#include "gui/PathHandOff.h"
#include "gui/SettingsDlg.h"
#include "gui/StopSignals.h"
#include "service/Marlix.h"

bool CMarlixApp::InitInstance(const std::string& home) {
  const std::string error = PrepareWorkingDirectory(home, FindDataDirectory());
  if (!error.empty()) {
    ShowMessageBox(nullptr,
                   QCoreApplication::translate("CMarlixApp", "无法准备工作目录：") + QString::fromStdString(error));
    m_exitCode = 1;
    return false;
  }
  CMarlix marlix(home);
  marlix.State().ConfiguredRelay.Set(KeptRelay());
  // An https:// relay's certificate is checked against the store that other programs use here.
  marlix.State().TrustedCertificateFile = qEnvironmentVariable("SSL_CERT_FILE").toStdString();
  marlix.State().TrustedCertificateFolder = qEnvironmentVariable("SSL_CERT_DIR").toStdString();
  auto dialog = std::make_unique<CMarlixDlg>(marlix);
  if (dialog->OnInitDialog()) {
    CloseOnStopSignals(dialog.get(), [d = dialog.get()] { d->ShutDown(); });
    CPathReceiver receiver(dialog.get());  // later `marlix PATH...` hand their paths to this window
    if (!m_startPaths.isEmpty())
      QTimer::singleShot(0, dialog.get(), [d = dialog.get(), paths = m_startPaths] { d->OnDropFiles(paths); });
    dialog->exec();
  }
  dialog.reset();
  return false;
}

int CMarlixApp::ExitInstance() { return m_exitCode; }
