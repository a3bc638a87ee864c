// Shared texts: the pasted or dropped text shared as a page . Interface thread.

#include <QClipboard>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QGuiApplication>
#include <QMimeData>
#include <cerrno>
#include <cstring>

#include "gui/DialogServices.h"
#include "gui/MarlixDlg.h"
#include "web/send/TextPage.h"

void CMarlixDlg::PasteText() {
  const QMimeData* data = QGuiApplication::clipboard()->mimeData();
  if (!data) return;
  QStringList paths;
  if (data->hasUrls())
    for (const QUrl& url : data->urls())
      if (url.isLocalFile() && !url.toLocalFile().isEmpty()) paths << QDir::cleanPath(url.toLocalFile());
  if (!paths.isEmpty())
    OnDropFiles(paths);  // files copied in a file manager are shared as dropped ones
  else if (data->hasText())
    ShareText(data->text());
}

bool CMarlixDlg::ShareText(const QString& text) {
  const QByteArray bytes = text.toUtf8();
  if (bytes.isEmpty()) return false;
  if (static_cast<size_t>(bytes.size()) > kMaxSharedText) {
    ShowMessageBox(this, tr("文字超过 64 KB，无法分享"));
    return false;
  }
  if (!ReadyToShare()) return false;
  int error = 0;
  const CSharedItem item =
      m_session.ShareText(std::string(bytes.constData(), static_cast<size_t>(bytes.size())), error);
  if (item.Token.empty()) {
    ShowMessageBox(this, tr("无法保存要分享的文字：") + QString::fromLocal8Bit(std::strerror(error ? error : EIO)));
    return false;
  }
  ShowCurrentItem();
  return true;
}
