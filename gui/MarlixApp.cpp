#include "gui/MarlixApp.h"

#include <memory>

#include "gui/MarlixDlg.h"
#include "gui/StopSignals.h"

bool CMarlixApp::InitInstance() {
  auto dialog = std::make_unique<CMarlixDlg>();
  if (dialog->OnInitDialog()) {
    CloseOnStopSignals(dialog.get());
    dialog->exec();
  }
  dialog.reset();
  return false;
}

int CMarlixApp::ExitInstance() { return 0; }
