// marlix: the window.

#include <QApplication>
#include <csignal>

#include "gui/MarlixApp.h"
#include "gui/SettingsDlg.h"

int main(int argc, char** argv) {
  std::signal(SIGPIPE, SIG_IGN);  // a phone that hangs up must not end the program
  QApplication application(argc, argv);
  QApplication::setApplicationName(QStringLiteral("Marlix"));
  ApplyKeptSettings();
  CMarlixApp app;
  app.InitInstance();
  return app.ExitInstance();
}
