// The main dialog's one context menu, opened by a right-click on the drop area or anywhere else on
// the dialog: the choice of the local address (kept for the next run) and the settings. Also the drop
// area's tooltip, which shows the address in use. Interface thread.

#include <QActionGroup>
#include <QContextMenuEvent>
#include <QMenu>
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
  for (const AdapterAddress& a : ListLocalAddresses()) {
    QAction* action = menu->addAction(QString::fromStdString(a.address + " (" + a.name + ")"));
    action->setCheckable(true);
    action->setChecked(a.address == current);
    action->setActionGroup(group);
    connect(action, &QAction::triggered, this, [this, address = a.address] { OnPickAddress(address); });
  }
  menu->addSeparator();
  menu->addAction(tr("粘贴并分享"), this, [this] { PasteText(); });
  menu->addAction(tr("设置…"), this, [this] { OpenSettings(); });
  return menu;
}

void CMarlixDlg::ShowContextMenu(const QPoint& globalPos) {
  if (m_bOpeningPort || m_bShutDown) return;
  std::unique_ptr<QMenu> menu(BuildContextMenu());
  menu->exec(globalPos);
}

void CMarlixDlg::OpenSettings() {
  CSettingsDlg settings(m_state, this);
  if (settings.exec() == QDialog::Accepted && m_state.ReachMode == ReachMode::Cloud && m_pRadioCloud->isChecked())
    OnReachModeRadio(IDC_RADIO_CLOUD);  // a relay set (or removed) shows at once
}

void CMarlixDlg::LoadChosenAddress() {
  // The discovery takes it while it is still one of the PC's addresses, else goes by its own rule.
  m_state.ChosenAddress.Set(Settings().value(QString::fromLatin1(kAddressKey)).toString().toStdString());
}

void CMarlixDlg::OnPickAddress(const std::string& address) {
  if (m_bOpeningPort || m_bShutDown) return;
  m_state.ChosenAddress.Set(address);
  m_state.LocalAddress.Set(address);
  Settings().setValue(QString::fromLatin1(kAddressKey), QString::fromStdString(address));
  // Only the local-network mode puts the local address in its codes.
  if (m_state.ReachMode == ReachMode::Lan) {
    if (m_state.PageMode == PageMode::Upload)
      ShowUploadPage();
    else
      RefreshView(ReachMode::Lan);
  }
  UpdateAddressTooltip();
}

void CMarlixDlg::UpdateAddressTooltip() {
  if (!m_pDropArea) return;
  const std::string shown = !m_state.CurrentAddress.empty() ? m_state.CurrentAddress : m_state.LocalAddress.Get();
  m_pDropArea->setToolTip(QString::fromStdString(shown));
}

bool CMarlixDlg::eventFilter(QObject* watched, QEvent* event) {
  // The address may have been found by the start-up worker since the last change of the view.
  if (watched == m_pDropArea.get() && event->type() == QEvent::ToolTip) UpdateAddressTooltip();
  return QDialog::eventFilter(watched, event);
}
