// The main dialog's view: pages, reachability modes, the router port opening and the addresses.

#include <QCoreApplication>
#include <QDir>
#include <QEventLoop>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <thread>

#include "app/SharedState.h"
#include "app/UrlHost.h"
#include "gui/DialogServices.h"
#include "gui/DropArea.h"
#include "gui/MarlixDlg.h"
#include "gui/SystemNotReadyDlg.h"
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
const char* const kMappingPending = QT_TRANSLATE_NOOP("CMarlixDlg", "正在进行端口映射，请稍后再试");
const char* const kCloudUploadRefused = QT_TRANSLATE_NOOP("CMarlixDlg", "目前暂时不支持手机通过云中转上传文件到电脑");

}  // namespace

void CMarlixDlg::RefreshView(ReachMode mode) {
  m_pCaption->hide();
  m_state.ReachMode = mode;

  if (m_state.PageMode == PageMode::Upload) {
    ShowUploadPage();
    return;
  }
  if (mode == ReachMode::None) return;

  if (m_state.CurrentItemPath.empty()) {
    m_pDropArea->SetContent(QStringLiteral("dnd.png"), tr(kDropPrompt), 1);
    return;
  }

  if (mode == ReachMode::Cloud && !RelayConfigured(m_state)) {
    // No relay set: say so and how to set one, instead of a link no phone could open.
    m_state.CurrentAddress.clear();
    m_pDropArea->SetContent(QStringLiteral("ban.png"), Words({ViewEventId::NoRelaySet}).Line, 1);
    return;
  }
  if (mode == ReachMode::Cloud)
    DialogServices().RelayUpload(m_marlix, m_state.CurrentItemToken, this, m_state.CurrentItemPath);

  if (m_pProgress->value() != 0) m_pProgress->show();
  m_pCaption->show();

  if (mode == ReachMode::Lan) {
    BuildLanAddress(m_state.CurrentItemToken);
  } else if (mode == ReachMode::Wan) {
    BuildWanAddress(this, m_state.CurrentItemToken);
  } else {
    BuildCloudLink(m_state.CurrentItemToken);
  }

  // Without an address (no external address in the Internet mode) "1.bmp" still holds an earlier
  // address's code; the drop area keeps what it shows rather than offer that stale code.
  if (!m_state.CurrentAddress.empty())
    m_pDropArea->SetContent(QStringLiteral("1.bmp"), tr("扫描二维码，下载文件到手机"), 2);

  UpdateItemCaption();
  UpdateAddressTooltip();
}

void CMarlixDlg::BuildLanAddress(const std::string& token) {
  ShowAddress(m_state, ItemAddress(m_state, ReachMode::Lan, {token, m_state.ItemKind, m_state.CurrentItemPath}));
}

void CMarlixDlg::BuildCloudLink(const std::string& token) {
  ShowAddress(m_state, ItemAddress(m_state, ReachMode::Cloud, {token, m_state.ItemKind, m_state.CurrentItemPath}));
}

void CMarlixDlg::BuildWanAddress(CMainDialogView*, const std::string& token) {
  const std::string address = ItemAddress(m_state, ReachMode::Wan, {token, m_state.ItemKind, m_state.CurrentItemPath});
  if (address.empty()) {
    ShowMessageBox(this, tr(kMappingPending));
    m_pStatus->setText(tr(kMappingPending));
  }
  ShowAddress(m_state, address);
}

void CMarlixDlg::UpdateItemCaption() {
  // The platform's separator stands for the backslash.
  if (m_state.ItemKind == "m") {  // a text's file name is only its token
    SetCaptionText(tr("下载:") + tr("文字"));
    return;
  }
  const QString path = QString::fromUtf8(m_state.CurrentItemPath);
  const qsizetype last = path.lastIndexOf(QLatin1Char('/'));
  if (last > 0)
    SetCaptionText(tr("下载:") + path.mid(last + 1));
  else
    SetCaptionText(path);
}

void CMarlixDlg::ShowSharePage() {
  if (m_bOpeningPort) return;
  m_state.PageMode = PageMode::Share;
  RefreshView(m_state.ReachMode);
  UpdateItemCaption();
}

void CMarlixDlg::ShowUploadPage() {
  if (m_bOpeningPort) return;
  m_state.PageMode = PageMode::Upload;
  m_state.CurrentAddress.clear();
  ResetProgress();
  ReachMode mode = ReachMode::None;
  if (m_pRadioLan->isChecked()) {
    mode = ReachMode::Lan;
  } else if (m_pRadioWan->isChecked()) {
    mode = ReachMode::Wan;
  } else if (m_pRadioCloud->isChecked()) {
    ShowMessageBox(this, tr(kCloudUploadRefused));
    m_pDropArea->SetContent(QStringLiteral("ban.png"), tr(kCloudUploadRefused), 1);
    SetCaptionText(QString());
    update();
    repaint();
    return;
  }
  ShowAddress(m_state, UploadPageAddress(m_state, mode));
  m_pDropArea->SetContent(QStringLiteral("1.bmp"), tr("扫描二维码，从手机上传文件到电脑"), 2);
  m_pCaption->show();
  SetCaptionText(tr("等待从手机上传文件..."));
  UpdateAddressTooltip();
}

void CMarlixDlg::OnReachModeRadio(int id) {
  if (m_bOpeningPort) return;
  m_state.CurrentAddress.clear();
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
      if (m_state.WanAttempted) {
        m_pStatus->setText(tr(kWanStatus));
      } else if (!RunPortOpening()) {
        // The failure picture and status stay: no address can be composed in this mode.
        m_state.ReachMode = mode;
        return;
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
  CSystemNotReadyDlg* wait = m_pWaitDlg.get();
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

  const bool success = outcome == WanSetupResult::Mapped && !m_state.ExternalAddress.Empty();
  if (success) {
    wait->SetText(tr("外网已经打通，可正常使用!"));
    m_pStatus->setText(tr(kWanStatus));
  } else {
    // Mapped without an address counts as failed.
    const WanSetupResult failure = outcome == WanSetupResult::BehindNat ? outcome : WanSetupResult::Failed;
    m_pStatus->setText(Words({WanSetupFailureEvent(failure)}).Line);
    m_pRadioWan->setAutoExclusive(false);
    m_pRadioWan->setChecked(false);
    m_pRadioWan->setAutoExclusive(true);
    m_pRadioWan->setEnabled(false);
    MirrorRadios();
    m_pDropArea->SetContent(QStringLiteral("ban.png"), tr("外网模式开启失败，无法传输文件"), 1);
  }
  m_state.WanAttempted = 1;
  wait->hide();
  update();
  repaint();
  m_bOpeningPort = false;
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
  m_state.SelectedMode = m_pRadioLan->isChecked()     ? ReachMode::Lan
                         : m_pRadioWan->isChecked()   ? ReachMode::Wan
                         : m_pRadioCloud->isChecked() ? ReachMode::Cloud
                                                      : ReachMode::None;
}
