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

void CMarlixApp::Run(const CMarlixConfig& config) {
  const std::string error = PrepareWorkingDirectory(config.Home, config.DataDir);
  if (!error.empty()) {
    ShowMessageBox(nullptr,
                   QCoreApplication::translate("CMarlixApp", "无法准备工作目录：") + QString::fromStdString(error));
    m_exitCode = 1;
    return;
  }
  CMarlix marlix(config);
  auto dialog = std::make_unique<CMarlixDlg>(marlix);
  if (dialog->OnInitDialog()) {
    CloseOnStopSignals(dialog.get(), [d = dialog.get()] { d->ShutDown(); });
    CPathReceiver receiver(dialog.get());  // later `marlix PATH...` hand their paths to this window
    if (!m_startPaths.isEmpty())
      QTimer::singleShot(0, dialog.get(), [d = dialog.get(), paths = m_startPaths] { d->OnDropFiles(paths); });
    dialog->exec();
  }
  dialog.reset();
}
