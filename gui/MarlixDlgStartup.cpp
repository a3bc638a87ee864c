// The main dialog's controls, start-up and shutdown.

#include <QCloseEvent>
#include <QKeyEvent>
#include <QLabel>
#include <QMenu>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QSettings>
#include <QShortcut>
#include <QTimer>
#include <algorithm>
#include <system_error>
#include <thread>

#include "app/PortChoice.h"
#include "app/SharedState.h"
#include "gui/DesktopNotifier.h"
#include "gui/DialogServices.h"
#include "gui/DialogUnits.h"
#include "gui/DropArea.h"
#include "gui/MarlixDlg.h"
#include "gui/PortOpeningWaitDlg.h"
#include "gui/ReceivedList.h"
#include "gui/ReceivedTextBox.h"
#include "gui/SettingsDlg.h"
#include "gui/TextFit.h"
#include "gui/UiTranslation.h"
#include "net/LocalAddress.h"
#include "net/WanSetup.h"
#include "service/ServiceSession.h"
#include "service/ShareFlow.h"
#include "web/WebService.h"

namespace {

const char kConfirmQuitKey[] = "ui/confirmQuit";
// While there is no local address, how often the window looks for one.
constexpr int kNetworkCheckMs = 3000;

template <class W>
W* MakeControl(QWidget* parent, int id, const QString& text, QRect dluRect) {
  W* control = new W(text, parent);
  control->setProperty("controlId", id);
  control->setGeometry(dluRect);
  return control;
}

}  // namespace

CMarlixDlg::CMarlixDlg(CMarlix& marlix)
    : QDialog(nullptr, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                           Qt::WindowCloseButtonHint),
      m_marlix(marlix),
      m_state(marlix.State()),
      m_session(marlix.Session()) {
  CreateControls();
}

// The window: 294 x 273 layout units of its 8-point font (DialogUnits.h).
void CMarlixDlg::CreateControls() {
  setWindowTitle(QStringLiteral("Marlix 2.1 beta"));
  QFont font = this->font();
  font.setPixelSize(kDialogFontPixels);
  setFont(font);
  setFixedSize(DluToPixelsX(294), DluToPixelsY(273));

  m_pStatus = MakeControl<QLabel>(this, IDC_STATUS, QString(), DluRect(7, 24, 280, 8));
  m_pStatus->setAlignment(Qt::AlignHCenter | Qt::AlignTop);
  m_pClose = MakeControl<QPushButton>(this, IDC_CLOSE, tr("关闭"), DluRect(126, 254, 50, 14));
  m_pRadioLan = MakeControl<QRadioButton>(this, IDC_RADIO_LAN, tr("局域网(高速)"), DluRect(56, 8, 55, 10));
  m_pRadioWan = MakeControl<QRadioButton>(this, IDC_RADIO_WAN, tr("外网直连(稍快)"), DluRect(115, 8, 64, 10));
  m_pRadioCloud = MakeControl<QRadioButton>(this, IDC_RADIO_CLOUD, tr("云中转(慢速)"), DluRect(183, 8, 57, 10));
  m_pProgress = new QProgressBar(this);
  m_pProgress->setProperty("controlId", IDC_PROGRESS);
  m_pProgress->setGeometry(DluRect(41, 235, 211, 6));
  m_pProgress->setTextVisible(false);
  m_pShare = MakeControl<QPushButton>(this, IDC_SHARE, tr("分享"), DluRect(253, 73, 21, 17));
  m_pUploadPage = MakeControl<QPushButton>(this, IDC_UPLOAD_PAGE, tr("上传"), DluRect(253, 56, 21, 17));
  m_pCaption = MakeControl<QLabel>(this, IDC_CAPTION, QString(), DluRect(41, 241, 212, 12));
  m_pSharePage = MakeControl<QPushButton>(this, IDC_SHARE_PAGE, tr("下载"), DluRect(253, 38, 21, 17));
  m_pReceived = MakeControl<QPushButton>(this, IDC_RECEIVED, QString(), DluRect(255, 238, 15, 13));
  // The window menu: the commands of the context menu without its address list.
  m_pMenuButton = MakeControl<QPushButton>(this, IDC_MENU, tr("菜单"), DluRect(250, 7, 38, 12));
  auto* windowMenu = new QMenu(m_pMenuButton);
  m_pMenuButton->setMenu(windowMenu);
  connect(windowMenu, &QMenu::aboutToShow, this, [this, windowMenu] {
    windowMenu->clear();
    AddCommands(windowMenu);
  });

  // The small buttons hold two characters in little room.
  for (QPushButton* b : {m_pShare, m_pUploadPage, m_pSharePage, m_pReceived})
    b->setStyleSheet(QStringLiteral("QPushButton { padding: 0px; }"));
  for (QPushButton* b : {m_pClose, m_pShare, m_pUploadPage, m_pSharePage, m_pReceived, m_pMenuButton})
    b->setAutoDefault(false);

  // A text longer than its room widens its control: the radio buttons to the right, Close about its
  // centre, and the side buttons together, as one column.
  for (QRadioButton* r : {m_pRadioLan, m_pRadioWan, m_pRadioCloud}) r->resize(WidthForText(r), r->height());
  const int menuWidth = WidthForText(m_pMenuButton);  // grows to the left, from the window's edge
  m_pMenuButton->setGeometry(m_pMenuButton->geometry().right() + 1 - menuWidth, m_pMenuButton->y(), menuWidth,
                             m_pMenuButton->height());
  const int closeWidth = WidthForText(m_pClose);
  m_pClose->setGeometry(m_pClose->x() - (closeWidth - m_pClose->width()) / 2, m_pClose->y(), closeWidth,
                        m_pClose->height());
  int column = 0;
  for (QPushButton* b : {m_pSharePage, m_pUploadPage, m_pShare}) column = std::max(column, WidthForText(b));
  for (QPushButton* b : {m_pSharePage, m_pUploadPage, m_pShare}) b->resize(column, b->height());

  // What each control runs.
  connect(m_pClose, &QPushButton::clicked, this, [this] { RequestClose(); });
  for (QRadioButton* r : {m_pRadioLan, m_pRadioWan, m_pRadioCloud}) {
    const int id = r->property("controlId").toInt();
    connect(r, &QRadioButton::clicked, this, [this, id] { OnReachModeRadio(id); });
    connect(r, &QRadioButton::toggled, this, [this] { MirrorRadios(); });
  }
  connect(m_pShare, &QPushButton::clicked, this, [this] { CopyShareLink(); });
  connect(m_pUploadPage, &QPushButton::clicked, this, [this] { ShowUploadPage(); });
  connect(m_pSharePage, &QPushButton::clicked, this, [this] { ShowSharePage(); });
  connect(m_pReceived, &QPushButton::clicked, this, [this] { OpenReceivedList(); });
  connect(new QShortcut(QKeySequence::Paste, this), &QShortcut::activated, this, [this] { PasteText(); });
  connect(new QShortcut(QKeySequence(Qt::CTRL | Qt::Key_O), this), &QShortcut::activated, this,
          [this] { OpenFiles(); });
  connect(new QShortcut(QKeySequence(Qt::CTRL | Qt::Key_Q), this), &QShortcut::activated, this, [this] { close(); });

  m_pNetworkCheck = new QTimer(this);
  m_pNetworkCheck->setInterval(kNetworkCheckMs);
  connect(m_pNetworkCheck, &QTimer::timeout, this, [this] { CheckNetwork(); });
}

CMarlixDlg::~CMarlixDlg() {
  m_session.End();  // as the close does, when it did not
  m_state.Events.Detach();
}

QWidget* CMarlixDlg::GetDlgItem(int id) const {
  if (id == IDC_DROP_AREA && m_pDropArea) return m_pDropArea.get();
  for (QWidget* w : findChildren<QWidget*>(QString(), Qt::FindDirectChildrenOnly))
    if (w->property("controlId").isValid() && w->property("controlId").toInt() == id) return w;
  return nullptr;
}

bool CMarlixDlg::OnInitDialog() {
  CDialogServices& services = DialogServices();

  // The port: the first free one of 8081 to 8091.
  const std::string port = services.ChoosePort();
  if (port.empty()) {
    ShowMessageBox(nullptr, Words({ViewEventId::NoFreePort}).Message);
    services.ExitProcess(0);
    return false;
  }
  m_state.PortText = port;
  if (const int kept = KeptPort(); kept > 0 && port != std::to_string(kept))
    ShowMessageBox(this, tr("端口 %1 已被其他程序占用，本次使用端口 %2。").arg(kept).arg(QString::fromStdString(port)));

  m_pWaitDlg = std::make_unique<CPortOpeningWaitDlg>(this);

  m_pProgress->setRange(0, 100);
  m_pProgress->setValue(0);
  m_pProgress->hide();
  m_pShare->hide();
  m_pReceived->hide();

  setAcceptDrops(true);
  m_session.ClearAddress();  // an earlier run's code is no code of this one

  // The drop area covers the client area less 61 pixels left and right and 62 at top and bottom.
  m_pDropArea = std::make_unique<CDropArea>(this, IDC_DROP_AREA);
  m_pDropArea->SetFolder(QString::fromStdString(m_marlix.Home()));
  m_pDropArea->setGeometry(rect().adjusted(61, 62, -61, -62));
  m_pDropArea->show();
  m_pDropArea->raise();
  m_pDropArea->installEventFilter(this);
  LoadChosenAddress();

  m_pReceivedList = std::make_unique<CReceivedList>(
      this, QString::fromStdString(m_state.HomePath("tmp")), [this](const QString& text) { ShowTextBox(text); },
      [this] { OpenReceivedFolder(); });
  m_pNotifier = new CDesktopNotifier(this);
  m_pNotifier->OnActivated = [this] { BringToFrontWithList(); };

  // The session's operations outside the program, as the window's services do them.
  CSessionOperations& operations = m_session.Operations();
  operations.FindAddress = [](SharedState& state) { DialogServices().FindAddress(state); };
  operations.RelayUpload = [](CMarlix& marlix, const CSharedItem& item) {
    return DialogServices().RelayUpload(marlix, item);
  };
  operations.StartupWork = DialogServices().StartupWork;
  operations.SignOut = [](const SharedState& state) { DialogServices().SignOut(state); };

  DrawSharePage(ReachMode::Lan);

  m_state.Events.Attach(this);

  if (!m_marlix.Web()) services.StartServer(m_marlix, m_state.PortText);

  m_pRadioLan->setChecked(true);
  MirrorRadios();
  m_pStatus->setText(tr("手机和电脑在同一个无线(WIFI)网络下请使用此方式"));  // the checked mode's hint
  m_pNetworkCheck->start();

  // Without the worker, the local address is looked for at the first drop.
  m_session.StartWorker();
  return true;
}

void CMarlixDlg::ShutDown() {
  if (m_bShutDown || m_bOpeningPort) return;
  m_bShutDown = true;
  m_pStatus->setText(tr("正在关闭软件，请稍后..."));
  m_pStatus->repaint();
  // Workers' events are queued, never waited for, so the end cannot hang on them.
  m_session.End();
  m_pDropArea.reset();
  m_pReceivedList.reset();
  m_pWaitDlg.reset();
  QDialog::done(QDialog::Rejected);
}

bool CMarlixDlg::Busy() const {
  const bool transfer = m_pProgress->isVisible() && m_pProgress->value() > 0 && m_pProgress->value() < 100;
  return !m_session.Items().empty() || transfer || m_packings > 0;
}

bool CMarlixDlg::RequestClose() {
  if (m_bShutDown) return true;
  if (m_bOpeningPort) return false;
  QSettings settings(QStringLiteral("Marlix"), QStringLiteral("Marlix"));
  if (Busy() && settings.value(QString::fromLatin1(kConfirmQuitKey), true).toBool()) {
    bool dontAskAgain = false;
    const bool quit = DialogServices().AskToQuit(this, dontAskAgain);
    if (dontAskAgain) settings.setValue(QString::fromLatin1(kConfirmQuitKey), false);
    if (!quit || m_bShutDown) return m_bShutDown;
  }
  ShutDown();
  return true;
}

// A dialog's reject is Escape's: the program's one window stays.
void CMarlixDlg::reject() {}

void CMarlixDlg::keyPressEvent(QKeyEvent* event) {
  if (event->matches(QKeySequence::Cancel)) {
    event->accept();
    return;
  }
  QDialog::keyPressEvent(event);
}

void CMarlixDlg::closeEvent(QCloseEvent* event) {
  if (RequestClose())
    event->accept();
  else
    event->ignore();
}
