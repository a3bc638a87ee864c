#pragma once
// SIGINT and SIGTERM (Ctrl+C in the terminal that started the window, or a session ending) close the
// window as its Close button does, so the shutdown sequence still runs.

class QWidget;

// Installs the handlers; each signal then calls the window's close() on the interface thread.
void CloseOnStopSignals(QWidget* window);
