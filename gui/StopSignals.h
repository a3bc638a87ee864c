#pragma once
// SIGINT and SIGTERM (Ctrl+C in the terminal that started the window, or a session ending) close the
// window as its Close button does, so the shutdown sequence still runs; they ask nothing.

#include <functional>

class QObject;

// Installs the handlers; each signal then runs `close` on the interface thread while `owner` lives.
void CloseOnStopSignals(QObject* owner, std::function<void()> close);
