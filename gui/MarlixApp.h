#pragma once
// The application object: runs the one main dialog modally; the program ends with it.

#include <QStringList>

class CMarlixApp {
 public:
  // Starts the main dialog and runs it until it is closed; returns false so the program then ends.
  bool InitInstance();
  // The program's exit code.
  int ExitInstance();
  // Paths shared at start as a drop of them (the command line's).
  void SetStartPaths(const QStringList& paths) { m_startPaths = paths; }

 private:
  QStringList m_startPaths;
};
