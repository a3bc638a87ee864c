// The main dialog's view: pages, reachability modes, the router port opening and the addresses.

#include <QCoreApplication>
#include <QDir>
#include <QEventLoop>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <algorithm>
#include <thread>

#include "app/SharedState.h"
#include "app/UrlHost.h"
#include "gui/DialogServices.h"
#include "gui/DropArea.h"
#include "gui/MarlixDlg.h"
#include "gui/PortOpeningWaitDlg.h"
#include "net/WanSetup.h"
#include "qr/QrBitmap.h"
#include "service/CloudRelay.h"
#include "service/ServiceConfig.h"
#include "service/ShareFlow.h"

namespace {

const char* const kDropPrompt = QT_TRANSLATE_NOOP("CMarlixDlg", "将文件(夹)拖放到此处");
const char* const kLanStatus = QT_TRANSLATE_NOOP("CMarlixDlg", "手机和电脑在同一个无线(WIFI)网络下请使用此方式");
const char* const kWanStatus = QT_TRANSLATE_NOOP("CMarlixDlg", "外网直连方式，传输速度由宽带的【上行速度】决定");
const char* const kCloudStatus = QT_TRANSLATE_NOOP("CMarlixDlg", "经云端中转，下完即删除，十分钟不下载，链接失效");
const char* const kCloudUploadRefused = QT_TRANSLATE_NOOP("CMarlixDlg", "目前暂时不支持手机通过云中转上传文件到电脑");
const char* const kNoNetwork = QT_TRANSLATE_NOOP("CMarlixDlg", "没有网络连接：请把本机连到手机所在的网络");
const char* const kWaitingForUploads = QT_TRANSLATE_NOOP("CMarlixDlg", "等待从手机上传文件...");
const char* const kWanRetry =
    QT_TRANSLATE_NOOP("CMarlixDlg", "已改回局域网方式。路由器能映射端口后，再选一次“外网直连”即可重试。");

}  // namespace

void CMarlixDlg::RefreshView(ReachMode mode) {
  if (m_session.Page() == PageMode::Upload) {
    m_pCaption->hide();
    ShowUploadPage();
    return;
  }
  DrawSharePage(mode);
}

void CMarlixDlg::DrawSharePage(ReachMode mode) {
  m_pCaption->hide();
  if (mode == ReachMode::None) {
    m_session.ShowSharePage(mode);
    return;
  }
  if (!m_session.Current().Token.empty() && mode != ReachMode::None) {
    if (m_pProgress->value() != 0) m_pProgress->show();
    m_pCaption->show();
  }
  DrawView(m_session.ShowSharePage(mode));
}

void CMarlixDlg::DrawView(const CShareViewState& view) {
  switch (view.View) {
    case ShareView::Unchanged:
      return;
    case ShareView::DropPrompt:
      m_pCaption->hide();
      m_pDropArea->SetContent(QStringLiteral("dnd.png"), tr(kDropPrompt), 1);
      return;
    case ShareView::NoRelaySet:
      // No relay set: say so and how to set one, instead of a link no phone could open.
      m_pCaption->hide();
      m_pDropArea->SetContent(QStringLiteral("ban.png"), Words({ViewEventId::NoRelaySet}).Line, 1);
      return;
    case ShareView::ItemCode:
      m_pDropArea->SetContent(QStringLiteral("1.bmp"), tr("扫描二维码，下载文件到手机"), 2);
      UpdateItemCaption();
      break;
    case ShareView::NoExternalAddress: {
      // The port is not open (any more): no code, and why.
      const QString why = Words({ViewEventId::WanFailed}).Line;
      m_pStatus->setText(why);
      m_pDropArea->SetContent(QStringLiteral("ban.png"), why, 1);
      UpdateItemCaption();
      break;
    }
    case ShareView::NoNetwork:
      m_pDropArea->SetContent(QStringLiteral("ban.png"), tr(kNoNetwork), 1);
      if (m_session.Page() == PageMode::Share) UpdateItemCaption();
      break;
    case ShareView::UploadCode:
      m_pDropArea->SetContent(QStringLiteral("1.bmp"), tr("扫描二维码，从手机上传文件到电脑"), 2);
      SetCaptionText(tr(kWaitingForUploads));
      break;
    case ShareView::CloudUploadRefused:
      ShowMessageBox(this, tr(kCloudUploadRefused));
      m_pDropArea->SetContent(QStringLiteral("ban.png"), tr(kCloudUploadRefused), 1);
      SetCaptionText(QString());
      update();
      repaint();
      return;
  }
  UpdateAddressTooltip();
}

void CMarlixDlg::CheckNetwork() {
  if (m_bShutDown || m_bOpeningPort || !m_state.LocalAddress.Empty()) return;
  DialogServices().FindAddress(m_state);
  // Only the local-network mode's codes carry the local address.
  if (m_state.LocalAddress.Empty() || m_session.Mode() != ReachMode::Lan) return;
  if (m_session.Page() == PageMode::Upload)
    ShowUploadPage();
  else if (!m_session.Current().Token.empty())
    RefreshView(ReachMode::Lan);
}

void CMarlixDlg::UpdateItemCaption() {
  const CSharedItem& item = m_session.Current();
  const QString path = QString::fromUtf8(item.Path);
  const qsizetype last = path.lastIndexOf(QLatin1Char('/'));
  const QString name = item.Kind == ItemKind::Text ? tr("文字")  // a text's file name is only its token
                       : last > 0                  ? path.mid(last + 1)
                                                   : path;
  // Several items: how many, and which one is shown (the menus switch between them).
  const size_t count = m_session.Items().size();
  QString pattern = count > 1 ? tr("已分享 %1 项，正在显示：%2").arg(count) : tr("下载:") + "%1";
  const QFontMetrics metrics(m_pCaption->font());
  const int room = m_pCaption->contentsRect().width() - metrics.horizontalAdvance(QString(pattern).arg(QString()));
  SetCaptionText(pattern.arg(metrics.elidedText(name, Qt::ElideMiddle, std::max(room, 0))));
}

void CMarlixDlg::RestorePageCaption() {
  if (m_session.Page() == PageMode::Upload)
    SetCaptionText(m_session.Address().empty() ? QString() : tr(kWaitingForUploads));
  else if (!m_session.Current().Token.empty())
    UpdateItemCaption();
  else
    SetCaptionText(QString());
}

void CMarlixDlg::ShowSharePage() {
  if (m_bOpeningPort) return;
  DrawSharePage(m_session.Mode());
}

void CMarlixDlg::ShowUploadPage() {
  if (m_bOpeningPort) return;
  ResetProgress();
  const ReachMode mode = m_pRadioCloud->isChecked() ? ReachMode::Cloud
                         : m_pRadioWan->isChecked() ? ReachMode::Wan
                                                    : ReachMode::Lan;
  const CShareViewState view = m_session.ShowUploadPage(mode);
  if (view.View != ShareView::CloudUploadRefused) m_pCaption->show();
  if (view.View != ShareView::UploadCode && view.View != ShareView::CloudUploadRefused) SetCaptionText(QString());
  DrawView(view);
}

void CMarlixDlg::OnReachModeRadio(int id) {
  if (m_bOpeningPort) return;
  m_session.ClearAddress();
  m_pDropArea->SetContent(QStringLiteral("dnd.png"), tr(kDropPrompt), 2);
  SetCaptionText(QString());
  ResetProgress();

  ReachMode mode = ReachMode::None;
  switch (id) {
    case IDC_RADIO_LAN:
      m_pStatus->setText(tr(kLanStatus));
      mode = ReachMode::Lan;
      break;
    case IDC_RADIO_WAN:
      mode = ReachMode::Wan;
      if (m_session.PortOpen()) {
        m_pStatus->setText(tr(kWanStatus));
      } else if (!RunPortOpening()) {
        // Back to the local network, which is checked again; choosing the Internet tries anew.
        m_pStatus->setText(tr(kLanStatus));
        mode = ReachMode::Lan;
      }
      break;
    case IDC_RADIO_CLOUD:
      m_pStatus->setText(RelayConfigured(m_state) ? tr(kCloudStatus) : Words({ViewEventId::NoRelaySet}).Line);
      mode = ReachMode::Cloud;
      break;
    default:
      return;
  }
  RefreshView(mode);
}

bool CMarlixDlg::RunPortOpening() {
  m_bOpeningPort = true;
  CPortOpeningWaitDlg* wait = m_pWaitDlg.get();
  wait->SetText(tr("正在进行端口映射（打通外网）\r\n请稍等片刻..."));
  wait->show();
  wait->CenterOn(this);
  QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
  wait->repaint();

  // The UPnP exchange runs on a thread of its own; meanwhile the interface keeps painting and
  // applying queued updates, and the modal wait dialog keeps input away from the main dialog.
  WanSetupResult outcome = WanSetupResult::Failed;
  QEventLoop loop;
  std::thread exchange([&loop, &outcome, state = &m_state, setup = DialogServices().WanSetup] {
    outcome = setup(*state);
    QMetaObject::invokeMethod(
        &loop, [&loop] { loop.quit(); }, Qt::QueuedConnection);
  });
  loop.exec();
  exchange.join();

  const bool success = m_session.PortOpened(outcome);
  if (success) {
    wait->SetText(tr("外网已经打通，可正常使用!"));
    m_pStatus->setText(tr(kWanStatus));
  } else {
    // The local network is checked again; the Internet mode stays to be tried once more.
    m_pRadioLan->setChecked(true);
    MirrorRadios();
  }
  wait->hide();
  update();
  repaint();
  m_bOpeningPort = false;
  if (!success) {
    // Mapped without an address counts as failed.
    const WanSetupResult failure = outcome == WanSetupResult::BehindNat ? outcome : WanSetupResult::Failed;
    ShowMessageBox(this, Words({WanSetupFailureEvent(failure)}).Line + QStringLiteral("\r\n\r\n") + tr(kWanRetry));
  }
  return success;
}

void CMarlixDlg::OpenReceivedFolder() {
  DialogServices().OpenUrl(QUrl::fromLocalFile(QString::fromStdString(m_state.HomePath("tmp"))));
}

void CMarlixDlg::ResetProgress() {
  m_pProgress->hide();
  m_pProgress->setValue(0);
}

void CMarlixDlg::SetCaptionText(const QString& text) { m_pCaption->setText(text); }

void CMarlixDlg::MirrorRadios() {
  m_session.SelectMode(m_pRadioLan->isChecked()     ? ReachMode::Lan
                       : m_pRadioWan->isChecked()   ? ReachMode::Wan
                       : m_pRadioCloud->isChecked() ? ReachMode::Cloud
                                                    : ReachMode::None);
}
