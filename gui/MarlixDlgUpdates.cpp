// What other threads may do to the main dialog, and how it words the core's events. Each report runs
// at once on the interface thread and is queued there from any other thread; the worker never waits.

#include <QFileInfo>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QThread>
#include <QTreeWidget>
#include <algorithm>

#include "app/SharedState.h"
#include "gui/DesktopNotifier.h"
#include "gui/DialogServices.h"
#include "gui/DropArea.h"
#include "gui/MarlixDlg.h"
#include "gui/ReceivedList.h"
#include "gui/ReceivedTextBox.h"

bool CMarlixDlg::OnInterfaceThread() const { return QThread::currentThread() == thread(); }

template <class F>
void CMarlixDlg::OnInterface(F&& change) {
  if (OnInterfaceThread())
    change();
  else
    QMetaObject::invokeMethod(this, std::forward<F>(change), Qt::QueuedConnection);
}

CWindowWords CMarlixDlg::Words(const CViewEvent& event) {
  const QString name = QString::fromStdString(event.Name);
  switch (event.Id) {
    case ViewEventId::DownloadProgress:
    case ViewEventId::RelayProgress:
    case ViewEventId::FileStored:
    case ViewEventId::ProgressShown:
    case ViewEventId::ProgressReset:
    case ViewEventId::ReceivedCount:
    case ViewEventId::TextReceived:  // shown whole in its box
      return {};
    case ViewEventId::UploadProgress:
    case ViewEventId::FileReceived:
      return {tr("正在上传: ") + name, {}};
    case ViewEventId::PackingStarted:
      return {tr("正在压缩..."), {}};
    case ViewEventId::PackingFinished:
      if (event.Count <= 0) return {};  // the caption before the packing comes back
      return {tr("有 %1 项无法读取，未打包").arg(event.Count), {}};
    case ViewEventId::NoFreePort:
      return {{}, tr("无端口可用，程序无法运行！！！")};
    case ViewEventId::WanFailed:
      return {tr("外网直连方式不可用，可能路由器不支持端口映射"), {}};
    case ViewEventId::WanBehindNat:
      return {tr("路由器处在另一层 NAT 之后，外网的手机无法这样连到本机；云中转方式可以"), {}};
    case ViewEventId::NoRelaySet:
      return {tr("未设置云中转服务器。请在右键菜单“设置…”中填写中转服务器地址。"), {}};
    case ViewEventId::RelayFolderRefused:
      return {tr("目前不提供整个文件夹进行云端中转功能！"),
              tr("不好意思，由于服务器带宽问题，目前不提供整个文件夹进行云端中转功能！")};
    case ViewEventId::RelayFileTooLarge:
      return {tr("4 GiB 及以上的文件不能云端中转！"), tr("不好意思，文件太大：云端中转只接受小于 4 GiB 的文件！")};
    case ViewEventId::RelayFailed: {
      const auto failure = static_cast<RelayFailure>(event.Code);
      const QString reason = failure == RelayFailure::NoConnection  ? tr("无法连接云中转服务器")
                             : failure == RelayFailure::NoAnswer    ? tr("云中转服务器没有回应")
                             : failure == RelayFailure::Certificate ? tr("无法验证云中转服务器的证书")
                                                                    : name;  // the relay's own words
      return {tr("云中转上传失败：") + reason, {}};
    }
    case ViewEventId::RelayUnencrypted:
      return {tr("云中转服务器不在本地网络，且未加密：文件将以明文经过网络"), {}};
    case ViewEventId::NewVersion:
      return {{}, tr("有新版本，请下载新版本")};
  }
  return {};
}

void CMarlixDlg::Report(const CViewEvent& event) {
  OnInterface([this, event] { ApplyEvent(event); });
}

void CMarlixDlg::ApplyEvent(const CViewEvent& event) {
  const CWindowWords words = Words(event);
  switch (event.Id) {
    case ViewEventId::DownloadProgress:
    case ViewEventId::RelayProgress:
      m_pProgress->setValue(PercentDone(event));
      break;
    case ViewEventId::UploadProgress:  // the file's name, and the bar follows its bytes; 100 is for the stored file
      SetCaptionText(words.Line);
      m_pProgress->show();
      m_pProgress->setValue(std::clamp(PercentDone(event), 1, 99));
      break;
    case ViewEventId::FileReceived:  // names the stored file; the bar stays where the bytes took it
      SetCaptionText(words.Line);
      break;
    case ViewEventId::FileStored:  // the transfer has ended: the page's own caption comes back
      m_pProgress->setValue(100);
      if (m_packings == 0) RestorePageCaption();
      OnFileStored(event.Name);
      break;
    case ViewEventId::PackingStarted:
      m_pCaption->show();
      if (m_packings == 0) m_savedCaption = m_pCaption->text();
      m_packings = event.Packings;
      SetCaptionText(words.Line);
      m_pProgress->setValue(1);
      break;
    case ViewEventId::PackingFinished: {
      const bool last = m_packings > 0 && event.Packings == 0;
      m_packings = event.Packings;
      if (event.Count > 0) {
        SetCaptionText(words.Line);
      } else if (last) {
        SetCaptionText(m_savedCaption);
      }
      break;
    }
    case ViewEventId::WanFailed:
    case ViewEventId::WanBehindNat:
    case ViewEventId::NoRelaySet:
    case ViewEventId::RelayUnencrypted:
      m_pStatus->setText(words.Line);
      break;
    case ViewEventId::RelayFolderRefused:
    case ViewEventId::RelayFileTooLarge:
      m_pStatus->setText(words.Line);
      ShowMessageBox(this, words.Message);
      break;
    case ViewEventId::RelayFailed:
      ShowRelayFailure(event.Token, words.Line);
      break;
    case ViewEventId::NoFreePort:
      ShowMessageBox(this, words.Message);
      break;
    case ViewEventId::NewVersion:
      // The home page opens once the user has closed the notice.
      ShowMessageBox(this, words.Message);
      if (!event.Name.empty()) DialogServices().OpenUrl(QUrl(QString::fromStdString(event.Name)));
      break;
    case ViewEventId::ProgressShown:
      m_pProgress->show();
      break;
    case ViewEventId::ProgressReset:
      ResetProgress();
      break;
    case ViewEventId::ReceivedCount:  // the button counts the files of the whole run (OnFileStored)
      if (event.Count > 0 && m_pReceivedList) m_pReceived->show();
      break;
    case ViewEventId::TextReceived:
      ShowReceivedText(event.Name);
      break;
  }
}

bool CMarlixDlg::InFront() const { return isActiveWindow() && !isMinimized(); }

void CMarlixDlg::OnFileStored(const std::string& shownPath) {
  if (m_bShutDown || !m_pReceivedList) return;
  const QString path = QString::fromStdString(shownPath.rfind('/', 0) == 0 ? shownPath : m_state.HomePath(shownPath));
  m_pReceivedList->AddFile(path);
  m_pReceived->setText(QString::number(m_pReceivedList->FilesReceived()));
  m_pReceived->show();
  if (!InFront()) m_pNotifier->FileArrived(QFileInfo(path).fileName());
}

void CMarlixDlg::OpenReceivedList() {
  if (!m_pReceivedList) return;
  m_pReceivedList->DropMissing();
  m_pReceivedList->show();
  m_pReceivedList->raise();
  m_pReceivedList->activateWindow();
  m_pReceivedList->Tree()->setFocus();
}

void CMarlixDlg::BringToFrontWithList() {
  if (m_bShutDown) return;
  if (isMinimized()) showNormal();
  show();
  raise();
  activateWindow();
  OpenReceivedList();
}

void CMarlixDlg::ShowTextBox(const QString& text) {
  if (!m_pReceivedText) m_pReceivedText = std::make_unique<CReceivedTextBox>(this);
  m_pReceivedText->ShowText(text);
}

void CMarlixDlg::ShowRelayFailure(const std::string& token, const QString& text) {
  if (m_bShutDown) return;
  m_pStatus->setText(text);
  if (!m_session.RelayFailed(token)) return;  // an earlier item's upload: its link is gone already
  if (m_session.Page() != PageMode::Share || m_session.Mode() != ReachMode::Cloud || !m_pDropArea) return;
  ResetProgress();
  m_pDropArea->SetContent(QStringLiteral("ban.png"), text, 1);
  UpdateAddressTooltip();
}

void CMarlixDlg::ShowReceivedText(const std::string& text) {
  if (m_bShutDown) return;
  const QString shown = QString::fromUtf8(text);
  if (m_pReceivedList) m_pReceivedList->AddText(shown);
  if (!InFront() && m_pNotifier) m_pNotifier->TextArrived(shown);
  ShowTextBox(shown);
}
