#include "gui/MarlixApp.h"

#include <memory>

#include "gui/MarlixDlg.h"

bool CMarlixApp::InitInstance() {
  auto dialog = std::make_unique<CMarlixDlg>();
  if (dialog->OnInitDialog()) dialog->exec();
  dialog.reset();
  return false;
}

int CMarlixApp::ExitInstance() { return 0; }
