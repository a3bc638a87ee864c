#include "gui/WindowWebCallbacks.h"

#include <string>

#include "app/MainDialogView.h"
#include "app/SharedState.h"

CWebCallbacks WindowWebCallbacks(SharedState& state) {
  CWebCallbacks cb;
  cb.OnTextReceived = [&state](const std::string& text) {
    if (CMainDialogView* dialog = state.MainDialog) dialog->ShowReceivedText(text);
  };
  return cb;
}
