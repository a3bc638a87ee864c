// The main dialog's one context menu, opened by a right-click on the drop area or anywhere else on
// the dialog: the settings.

#include <QContextMenuEvent>
#include <QMenu>
#include <QRadioButton>

#include "app/SharedState.h"
#include "gui/MarlixDlg.h"
#include "gui/SettingsDlg.h"

void CMarlixDlg::contextMenuEvent(QContextMenuEvent* event) {
  ShowContextMenu(event->globalPos());
  event->accept();
}

void CMarlixDlg::ShowContextMenu(const QPoint& globalPos) {
  if (m_bOpeningPort || m_bShutDown) return;
  QMenu menu(this);
  menu.addAction(tr("设置…"), this, [this] { OpenSettings(); });
  menu.exec(globalPos);
}

void CMarlixDlg::OpenSettings() {
  CSettingsDlg settings(this);
  if (settings.exec() == QDialog::Accepted && g_State.ReachMode == 3 && m_pRadioCloud->isChecked())
    OnReachModeRadio(IDC_RADIO_CLOUD);  // a relay set (or removed) shows at once
}
