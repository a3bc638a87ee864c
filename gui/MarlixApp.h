#pragma once
// The application object: lays out the working directory, then runs the one main dialog modally;
// the program ends with it.

#include <QStringList>

#include "app/MarlixConfig.h"

class CMarlixApp {
 public:
  // Lays out the configuration's working directory and makes the running Marlix there; then starts
  // the main dialog and runs it until it is closed. A home that cannot be laid out is reported in a
  // message box and the dialog is not started.
  void Run(const CMarlixConfig& config);
  // The program's exit code: 0, or 1 when the home could not be laid out.
  int ExitCode() const { return m_exitCode; }
  // Paths shared at start as a drop of them (the command line's, already absolute).
  void SetStartPaths(const QStringList& paths) { m_startPaths = paths; }

 private:
  QStringList m_startPaths;
  int m_exitCode = 0;
};
