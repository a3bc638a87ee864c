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
#include "gui/PortOpeningWaitDlg.h"
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
  if (m_bShutDown || m_bOpeningPort) return false;
  if (!m_session.PortOpen() && m_pRadioWan->isChecked()) {
    m_pWaitDlg->show();
    m_pWaitDlg->CenterOn(this);
    return false;
  }
  return true;
}

void CMarlixDlg::OnDropFiles(const QStringList& paths) {
  if (paths.isEmpty() || !ReadyToShare()) return;
  for (const QString& dropped : paths) {
    m_session.Share(QFile::encodeName(dropped).toStdString());
    ShowCurrentItem();
  }
}

void CMarlixDlg::OpenFiles() {
  if (m_bShutDown || m_bOpeningPort) return;
  OnDropFiles(DialogServices().ChoosePaths(this, false));
}

void CMarlixDlg::OpenFolder() {
  if (m_bShutDown || m_bOpeningPort) return;
  OnDropFiles(DialogServices().ChoosePaths(this, true));
}

void CMarlixDlg::ShowSharedItem(size_t index) {
  if (index >= m_session.Items().size() || !ReadyToShare()) return;
  m_session.ShowItem(index);
  ShowCurrentItem();
}

void CMarlixDlg::ShowCurrentItem() {
  m_pShare->show();
  ResetProgress();
  DrawSharePage(m_session.Mode());
}
