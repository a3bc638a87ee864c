// The main dialog's menus: the context menu, opened by a right-click on the drop area or anywhere
// else on the dialog, with the choice of the local address (kept for the next run) and the window's
// commands; the window menu (its menu button) with the commands alone. Also the drop area's tooltip,
// which shows the address in use, and its click, which opens the file chooser. Interface thread.

#include <QActionGroup>
#include <QContextMenuEvent>
#include <QFileInfo>
#include <QMenu>
#include <QMouseEvent>
#include <QRadioButton>
#include <QSettings>
#include <memory>

#include "app/SharedState.h"
#include "gui/DropArea.h"
#include "gui/MarlixDlg.h"
#include "gui/SettingsDlg.h"
#include "net/LocalAddress.h"

namespace {

const char kAddressKey[] = "network/address";

QSettings Settings() { return QSettings(QStringLiteral("Marlix"), QStringLiteral("Marlix")); }

}  // namespace

void CMarlixDlg::contextMenuEvent(QContextMenuEvent* event) {
  // The drop area and the other controls leave their right clicks to the dialog.
  ShowContextMenu(event->globalPos());
  event->accept();
}

QMenu* CMarlixDlg::BuildContextMenu() {
  auto* menu = new QMenu(this);
  menu->addSection(tr("手机访问的地址"));
  auto* group = new QActionGroup(menu);
  const std::string current = m_state.LocalAddress.Get();
  // Only what a phone can use: no loopback, link-local ones (with their zone) only when alone.
  for (const AdapterAddress& a : PhoneReachableAddresses(ListAllAddresses())) {
    QAction* action = menu->addAction(QString::fromStdString(a.address + " (" + a.name + ")"));
    action->setCheckable(true);
    action->setChecked(a.address == current);
    action->setActionGroup(group);
    connect(action, &QAction::triggered, this, [this, address = a.address] { OnPickAddress(address); });
  }
  menu->addSeparator();
  AddCommands(menu);
  return menu;
}

QMenu* CMarlixDlg::BuildWindowMenu() {
  auto* menu = new QMenu(this);
  AddCommands(menu);
  return menu;
}

void CMarlixDlg::AddCommands(QMenu* menu) {
  menu->addAction(tr("打开文件…"), QKeySequence(Qt::CTRL | Qt::Key_O), this, [this] { OpenFiles(); });
  menu->addAction(tr("打开文件夹…"), this, [this] { OpenFolder(); });
  menu->addAction(tr("粘贴并分享"), QKeySequence::Paste, this, [this] { PasteText(); });
  if (SharedItems().size() > 1) {
    QMenu* items = menu->addMenu(tr("已分享的项目"));
    auto* group = new QActionGroup(items);
    for (size_t i = SharedItems().size(); i-- > 0;) {  // the newest first
      const CSharedItem& item = SharedItems()[i];
      const QString name =
          item.Kind == ItemKind::Text ? tr("文字") : QFileInfo(QString::fromUtf8(item.Path)).fileName();
      QAction* action = items->addAction(name, this, [this, i] { ShowSharedItem(i); });
      action->setCheckable(true);
      action->setChecked(item.Token == m_session.Current().Token);
      action->setActionGroup(group);
    }
  }
  menu->addAction(tr("设置…"), this, [this] { OpenSettings(); });
  menu->addSeparator();
  menu->addAction(tr("退出"), QKeySequence(Qt::CTRL | Qt::Key_Q), this, [this] { close(); });
}

void CMarlixDlg::ShowContextMenu(const QPoint& globalPos) {
  if (m_bOpeningPort || m_bShutDown) return;
  std::unique_ptr<QMenu> menu(BuildContextMenu());
  menu->exec(globalPos);
}

void CMarlixDlg::OpenSettings() {
  CSettingsDlg settings(m_state, m_marlix.Config(), this);
  if (settings.exec() == QDialog::Accepted && m_session.Mode() == ReachMode::Cloud && m_pRadioCloud->isChecked())
    OnReachModeRadio(IDC_RADIO_CLOUD);  // a relay set (or removed) shows at once
}

void CMarlixDlg::LoadChosenAddress() {
  // The discovery takes it while it is still one of the PC's addresses, else goes by its own rule.
  m_state.ChosenAddress.Set(Settings().value(QString::fromLatin1(kAddressKey)).toString().toStdString());
}

void CMarlixDlg::OnPickAddress(const std::string& address) {
  if (m_bOpeningPort || m_bShutDown) return;
  m_session.ChooseAddress(address);
  Settings().setValue(QString::fromLatin1(kAddressKey), QString::fromStdString(address));
  // Only the local-network mode puts the local address in its codes.
  if (m_session.Mode() == ReachMode::Lan) {
    if (m_session.Page() == PageMode::Upload)
      ShowUploadPage();
    else
      RefreshView(ReachMode::Lan);
  }
  UpdateAddressTooltip();
}

void CMarlixDlg::UpdateAddressTooltip() {
  if (!m_pDropArea) return;
  const std::string shown = !m_session.Address().empty() ? m_session.Address() : m_state.LocalAddress.Get();
  m_pDropArea->setToolTip(QString::fromStdString(shown));
}

bool CMarlixDlg::eventFilter(QObject* watched, QEvent* event) {
  // The address may have been found by the start-up worker since the last change of the view.
  if (watched == m_pDropArea.get() && event->type() == QEvent::ToolTip) UpdateAddressTooltip();
  // A left click on the drop area chooses files as a drop brings them.
  if (watched == m_pDropArea.get() &&
      (event->type() == QEvent::MouseButtonPress || event->type() == QEvent::MouseButtonRelease)) {
    const auto* mouse = static_cast<QMouseEvent*>(event);
    if (mouse->button() != Qt::LeftButton) return QDialog::eventFilter(watched, event);
    // The press is taken too, so that the release comes here.
    if (event->type() == QEvent::MouseButtonRelease && m_pDropArea->rect().contains(mouse->position().toPoint()))
      OpenFiles();
    return true;
  }
  return QDialog::eventFilter(watched, event);
}
