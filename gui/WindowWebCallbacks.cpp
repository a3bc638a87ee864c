#include "gui/WindowWebCallbacks.h"

#include <string>

#include "app/MainDialogView.h"
#include "app/SharedState.h"

CWebCallbacks WindowWebCallbacks() {
  CWebCallbacks cb = DefaultWebCallbacks();
  cb.OnTextReceived = [](const std::string& text) {
    if (CMainDialogView* dialog = g_State.MainDialog) dialog->ShowReceivedText(text);
  };
  return cb;
}
