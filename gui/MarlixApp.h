#pragma once
// The application object: runs the one main dialog modally; the program ends with it.

class CMarlixApp {
 public:
  // Starts the main dialog and runs it until it is closed; returns false so the program then ends.
  bool InitInstance();
  // The program's exit code.
  int ExitInstance();
};
