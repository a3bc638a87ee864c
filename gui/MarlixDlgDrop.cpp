// Drop intake: files and folders dropped from the desktop's file managers become shared items.

#include <QDir>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFile>
#include <QFileInfo>
#include <QMimeData>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>

#include "app/SharedState.h"
#include "gui/DialogServices.h"
#include "gui/MarlixDlg.h"
#include "gui/SystemNotReadyDlg.h"
#include "net/LocalAddress.h"
#include "service/CloudRelay.h"

namespace {

// The local paths of a drop (a URI list), in its order.
QStringList DroppedPaths(const QMimeData* data) {
  QStringList paths;
  if (!data || !data->hasUrls()) return paths;
  for (const QUrl& url : data->urls())
    if (url.isLocalFile() && !url.toLocalFile().isEmpty()) paths << QDir::cleanPath(url.toLocalFile());
  return paths;
}

}  // namespace

void CMarlixDlg::dragEnterEvent(QDragEnterEvent* event) {
  if (!DroppedPaths(event->mimeData()).isEmpty() || event->mimeData()->hasText()) event->acceptProposedAction();
}

void CMarlixDlg::dragMoveEvent(QDragMoveEvent* event) {
  if (!DroppedPaths(event->mimeData()).isEmpty() || event->mimeData()->hasText()) event->acceptProposedAction();
}

void CMarlixDlg::dropEvent(QDropEvent* event) {
  const QStringList paths = DroppedPaths(event->mimeData());
  if (paths.isEmpty() && !event->mimeData()->hasText()) return;
  event->acceptProposedAction();
  if (paths.isEmpty())
    ShareText(event->mimeData()->text());  // text, or links that are not local files
  else
    OnDropFiles(paths);
}

bool CMarlixDlg::ReadyToShare() {
  if (g_State.PageMode == PageMode::Upload) {
    ShowMessageBox(this, tr("正等待文件从手机上传呢，拿手机扫描一下就可以上传..."));
    return false;
  }
  if (!g_State.WanAttempted && m_pRadioWan->isChecked()) {
    m_pWaitDlg->show();
    m_pWaitDlg->CenterOn(this);
    return false;
  }
  return true;
}

void CMarlixDlg::OnDropFiles(const QStringList& paths) {
  if (!ReadyToShare()) return;
  for (const QString& dropped : paths)
    ShareItem(QFile::encodeName(dropped).toStdString(), QFileInfo(dropped).isDir() ? 'd' : 'f');
}

void CMarlixDlg::ShareItem(const std::string& path, char kind) {
  m_pShare->show();
  g_State.ItemKind.assign(1, kind);
  const std::string token = AddItem(path);
  g_State.RelayStarted = 0;
  ResetProgress();
  if (m_pRadioCloud->isChecked()) DialogServices().RelayUpload(token, this, path);
  if (g_State.LocalAddress.Empty()) DiscoverLocalAddress();

  switch (g_State.ReachMode) {
    case ReachMode::Lan:
      BuildLanAddress(token);
      break;
    case ReachMode::Wan:
      BuildWanAddress(this, token);
      break;
    case ReachMode::Cloud:
      BuildCloudLink(token);
      break;
    default:
      break;
  }
  g_State.CurrentItemPath = path;
  g_State.CurrentItemToken = token;
  RefreshView(g_State.ReachMode);
}
