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
  if (m_state.PageMode == PageMode::Upload) {
    ShowMessageBox(this, tr("正等待文件从手机上传呢，拿手机扫描一下就可以上传..."));
    return false;
  }
  if (!m_state.WanAttempted && m_pRadioWan->isChecked()) {
    m_pWaitDlg->show();
    m_pWaitDlg->CenterOn(this);
    return false;
  }
  return true;
}

void CMarlixDlg::OnDropFiles(const QStringList& paths) {
  if (!ReadyToShare()) return;
  for (const QString& dropped : paths) ShowItem(::ShareItem(m_state, QFile::encodeName(dropped).toStdString()));
}

void CMarlixDlg::ShowItem(const CSharedItem& item) {
  const std::string& path = item.Path;
  const std::string& token = item.Token;
  m_pShare->show();
  m_state.ItemKind = item.Kind;
  m_state.RelayStarted = 0;
  ResetProgress();
  if (m_pRadioCloud->isChecked()) DialogServices().RelayUpload(m_marlix, token, this, path);
  if (m_state.LocalAddress.Empty()) DiscoverLocalAddress(m_state);

  switch (m_state.ReachMode) {
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
  m_state.CurrentItemPath = path;
  m_state.CurrentItemToken = token;
  RefreshView(m_state.ReachMode);
}
