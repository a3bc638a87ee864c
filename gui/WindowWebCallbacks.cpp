#include "gui/WindowWebCallbacks.h"

#include <algorithm>
#include <string>

#include "app/MainDialogView.h"
#include "app/SharedState.h"

CWebCallbacks WindowWebCallbacks() {
  CWebCallbacks cb = DefaultWebCallbacks();
  // The bar follows the bytes; the caption names the file being written. The closing delimiter
  // only names the stored file, leaving the bar where the bytes took it.
  cb.OnUploadProgress = [](const std::string& name, int percent) {
    CMainDialogView* dialog = g_State.MainDialog;
    if (!dialog) return;
    dialog->SetCaption("正在上传: " + name);  // at most about a hundred times a request
    dialog->ShowProgress();
    dialog->SetProgressPos(std::max(1, percent));
  };
  cb.OnUploadFileDone = [](const std::string& path) {
    if (CMainDialogView* dialog = g_State.MainDialog) dialog->SetCaption("正在上传: " + path);
  };
  cb.OnTextReceived = [](const std::string& text) {
    if (CMainDialogView* dialog = g_State.MainDialog) dialog->ShowReceivedText(text);
  };
  return cb;
}
