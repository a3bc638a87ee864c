#include "gui/MarlixApp.h"

#include <QTimer>
#include <memory>

#include "gui/MarlixDlg.h"
#include "gui/PathHandOff.h"
#include "gui/StopSignals.h"

bool CMarlixApp::InitInstance() {
  auto dialog = std::make_unique<CMarlixDlg>();
  if (dialog->OnInitDialog()) {
    CloseOnStopSignals(dialog.get());
    CPathReceiver receiver(dialog.get());  // later `marlix PATH...` hand their paths to this window
    if (!m_startPaths.isEmpty())
      QTimer::singleShot(0, dialog.get(), [d = dialog.get(), paths = m_startPaths] { d->OnDropFiles(paths); });
    dialog->exec();
  }
  dialog.reset();
  return false;
}

int CMarlixApp::ExitInstance() { return 0; }
