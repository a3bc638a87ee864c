#pragma once
// How the terminal words the core's events, from a table of its own: Chinese (the program's own
// texts) or English. Any thread.

#include <string>

#include "app/ViewEvent.h"

// What the terminal says for one event: a line in the place of the window's caption or status line,
// and a message in the place of its message box. Either may be empty; both are for an event that
// only moves the bar.
struct CTerminalWords {
  std::string Line;
  std::string Message;
};

CTerminalWords TerminalWords(const CViewEvent& event, bool chinese);
