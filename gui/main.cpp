// marlix: the window.

#include <QApplication>
#include <QFileInfo>
#include <csignal>

#include "gui/MarlixApp.h"
#include "gui/PathHandOff.h"
#include "gui/SettingsDlg.h"
#include "gui/UiTranslation.h"

namespace {

// The folder of the files that lie beside the program: the build tree's data/, or the installed
// share/marlix.
QString DataFolder() {
  const QString exeDir = QCoreApplication::applicationDirPath();
  for (const QString& candidate : {exeDir + QStringLiteral("/data"), exeDir + QStringLiteral("/../share/marlix")})
    if (QFileInfo(candidate).isDir()) return candidate;
  return {};
}

}  // namespace

int main(int argc, char** argv) {
  std::signal(SIGPIPE, SIG_IGN);  // a phone that hangs up must not end the program
  QApplication application(argc, argv);
  QApplication::setApplicationName(QStringLiteral("Marlix"));
  ApplyKeptSettings();
  InstallUiTranslation(DataFolder());
  // `marlix PATH...` while a window runs: that window shares them, and this program ends.
  const QStringList paths = CommandLinePaths(QApplication::arguments().mid(1));
  if (!paths.isEmpty() && HandPathsToRunningWindow(paths)) return 0;
  CMarlixApp app;
  app.SetStartPaths(paths);
  app.InitInstance();
  return app.ExitInstance();
}
