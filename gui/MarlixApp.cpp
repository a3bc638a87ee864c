#include "gui/MarlixApp.h"

#include <QCoreApplication>
#include <memory>

#include "app/WorkingDirectory.h"
#include "gui/DialogServices.h"
#include "gui/MarlixDlg.h"
#include "gui/StopSignals.h"

bool CMarlixApp::InitInstance(const std::string& home) {
  const std::string error = PrepareWorkingDirectory(home, FindDataDirectory());
  if (!error.empty()) {
    ShowMessageBox(nullptr,
                   QCoreApplication::translate("CMarlixApp", "无法准备工作目录：") + QString::fromStdString(error));
    m_exitCode = 1;
    return false;
  }
  auto dialog = std::make_unique<CMarlixDlg>();
  if (dialog->OnInitDialog()) {
    CloseOnStopSignals(dialog.get());
    dialog->exec();
  }
  dialog.reset();
  return false;
}

int CMarlixApp::ExitInstance() { return m_exitCode; }
