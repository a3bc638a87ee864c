// marlix: the window.

#include <QApplication>
#include <csignal>
#include <cstdlib>

#include "app/MarlixConfig.h"
#include "gui/MarlixApp.h"
#include "gui/PathHandOff.h"
#include "gui/SettingsDlg.h"
#include "gui/UiTranslation.h"
#include "web/http/HttpServer.h"

int main(int argc, char** argv) {
  std::signal(SIGPIPE, SIG_IGN);  // a phone that hangs up must not end the program
  RaiseOpenFileLimit();           // every phone's connection is a descriptor
  QApplication application(argc, argv);
  QApplication::setApplicationName(QStringLiteral("Marlix"));
  const CMarlixConfig config = MakeConfig(
      [](const char* name) {
        const char* value = std::getenv(name);
        return std::string(value ? value : "");
      },
      KeptSettingsAtStart());
  InstallUiTranslation(QString::fromStdString(config.DataDir));
  // `marlix PATH...` while a window runs: that window shares them, and this program ends. The paths
  // are made absolute here, against the folder the program was started in.
  const QStringList paths = CommandLinePaths(QApplication::arguments().mid(1));
  if (!paths.isEmpty() && HandPathsToRunningWindow(paths)) return 0;
  CMarlixApp app;
  app.SetStartPaths(paths);
  app.Run(config);
  return app.ExitCode();
}
