// The Share button: the current address on the clipboard as plain text, and a hint for the user.

#include <QClipboard>
#include <QGuiApplication>
#include <QRadioButton>

#include "app/SharedState.h"
#include "gui/DialogServices.h"
#include "gui/MarlixDlg.h"

void CMarlixDlg::CopyShareLink() {
  if (m_bOpeningPort || m_session.Address().empty()) return;
  if (m_pRadioCloud->isChecked()) {
    ShowMessageBox(this, tr("不好意思，本版本不提供云端分享，稍后版本将开放！"));
    return;
  }
  const QString address = QString::fromUtf8(m_session.Address());
  if (QClipboard* clipboard = QGuiApplication::clipboard()) clipboard->setText(address);

  QString message = tr("外发链接已生成：") + address;
  const bool upload = m_session.Page() == PageMode::Upload;
  if (m_pRadioLan->isChecked()) {
    // A local-network address: only someone on this network can open it.
    message += upload ? tr("\r\n\r\n此链接只在本局域网内有效：【Ctrl+V】粘贴给连在同一网络的人，可让对方上传！")
                      : tr("\r\n\r\n此链接只在本局域网内有效：【Ctrl+V】粘贴给连在同一网络的人，可让对方下载！");
  } else {
    message += upload ? tr("\r\n\r\n【Ctrl+V】直接粘贴到QQ等聊天窗口，可让朋友上传！")
                      : tr("\r\n\r\n【Ctrl+V】直接粘贴到QQ等聊天窗口，可让朋友下载！");
  }
  ShowMessageBox(this, message);
}
