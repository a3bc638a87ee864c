// Shared texts: the pasted or dropped text shared as a page (kind "m"). Interface thread.

#include <QClipboard>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QGuiApplication>
#include <QMimeData>

#include "app/Token.h"
#include "gui/DialogServices.h"
#include "gui/MarlixDlg.h"
#include "web/TextPage.h"

namespace {

// Shared texts lie in this folder of the working directory while they are shared (a dot-folder,
// never served as local files), one file per text named by a token no one guesses.
const char kTextFolder[] = ".texts";

}  // namespace

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
  QDir().mkdir(QString::fromLatin1(kTextFolder), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
  QFile file(QString::fromLatin1(kTextFolder) + QLatin1Char('/') + QString::fromStdString(MakeToken()));
  if (!file.open(QIODevice::WriteOnly | QIODevice::NewOnly) || file.write(bytes) != bytes.size() || !file.flush()) {
    ShowMessageBox(this, tr("无法保存要分享的文字：") + file.errorString());
    file.remove();
    return false;
  }
  file.close();
  ShareItem(QFile::encodeName(QFileInfo(file).absoluteFilePath()).toStdString(), 'm');
  return true;
}

void CMarlixDlg::RemoveSharedTexts() {
  QDir folder(QString::fromLatin1(kTextFolder));
  if (folder.exists()) folder.removeRecursively();
}
