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
  if (!DroppedPaths(event->mimeData()).isEmpty()) event->acceptProposedAction();
}

void CMarlixDlg::dragMoveEvent(QDragMoveEvent* event) {
  if (!DroppedPaths(event->mimeData()).isEmpty()) event->acceptProposedAction();
}

void CMarlixDlg::dropEvent(QDropEvent* event) {
  const QStringList paths = DroppedPaths(event->mimeData());
  if (paths.isEmpty()) return;
  event->acceptProposedAction();
  OnDropFiles(paths);
}

void CMarlixDlg::OnDropFiles(const QStringList& paths) {
  if (g_State.PageMode == PageMode::Upload) {
    ShowMessageBox(this, tr("正等待文件从手机上传呢，拿手机扫描一下就可以上传..."));
    return;
  }
  if (!g_State.WanAttempted && m_pRadioWan->isChecked()) {
    m_pWaitDlg->show();
    m_pWaitDlg->CenterOn(this);
    return;
  }

  m_pShare->show();
  for (const QString& dropped : paths) {
    const std::string path = QFile::encodeName(dropped).toStdString();
    g_State.ItemKind.assign(1, QFileInfo(dropped).isDir() ? 'd' : 'f');
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
}
