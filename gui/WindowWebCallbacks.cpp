#include "gui/WindowWebCallbacks.h"

#include <algorithm>
#include <string>

#include "app/MainDialogView.h"
#include "app/SharedState.h"

namespace {

// A stored file as the caption names it: relative to the working directory ("tmp/NAME").
std::string InHome(const SharedState& state, const std::string& path) {
  const std::string& home = state.Home;
  const bool inside = path.size() > home.size() && path.compare(0, home.size(), home) == 0 && path[home.size()] == '/';
  return inside ? path.substr(home.size() + 1) : path;
}

}  // namespace

CWebCallbacks WindowWebCallbacks(SharedState& state) {
  CWebCallbacks cb;
  // The bar follows the bytes; the caption names the file being written. The closing delimiter
  // only names the stored file, leaving the bar where the bytes took it.
  cb.OnUploadProgress = [&state](const std::string& name, int percent) {
    CMainDialogView* dialog = state.MainDialog;
    if (!dialog) return;
    dialog->SetCaption("正在上传: " + name);  // at most about a hundred times a request
    dialog->ShowProgress();
    dialog->SetProgressPos(std::max(1, percent));
  };
  cb.OnUploadFileDone = [&state](const std::string& path) {
    if (CMainDialogView* dialog = state.MainDialog) dialog->SetCaption("正在上传: " + InHome(state, path));
  };
  cb.OnTextReceived = [&state](const std::string& text) {
    if (CMainDialogView* dialog = state.MainDialog) dialog->ShowReceivedText(text);
  };
  return cb;
}
