// What other threads may do to the main dialog. Each change runs at once on the interface thread and
// is queued there from any other thread; the worker never waits. The caption text and the checked
// radio button are mirrored under a lock for workers to read.

#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QThread>

#include "app/SharedState.h"
#include "gui/DialogServices.h"
#include "gui/DropArea.h"
#include "gui/MarlixDlg.h"
#include "gui/ReceivedTextBox.h"
#include "gui/UiTranslation.h"

bool CMarlixDlg::OnInterfaceThread() const { return QThread::currentThread() == thread(); }

template <class F>
void CMarlixDlg::OnInterface(F&& change) {
  if (OnInterfaceThread())
    change();
  else
    QMetaObject::invokeMethod(this, std::forward<F>(change), Qt::QueuedConnection);
}

void CMarlixDlg::ShowProgress() {
  OnInterface([this] { m_pProgress->show(); });
}

void CMarlixDlg::SetProgressPos(int pos) {
  OnInterface([this, pos] { m_pProgress->setValue(pos); });
}

void CMarlixDlg::HideProgress() {
  OnInterface([this] { m_pProgress->hide(); });
}

void CMarlixDlg::ShowCaption() {
  OnInterface([this] { m_pCaption->show(); });
}

void CMarlixDlg::SetCaption(const std::string& text) {
  {
    std::lock_guard<std::mutex> lock(m_mirrorLock);
    m_mirrorCaption = text;
  }
  OnInterface([this, shown = CoreTextForUi(text)] { SetCaptionText(shown); });
}

std::string CMarlixDlg::GetCaption() {
  std::lock_guard<std::mutex> lock(m_mirrorLock);
  return m_mirrorCaption;
}

void CMarlixDlg::SetReceivedCount(int count) {
  OnInterface([this, count] {
    m_pReceived->setText(QString::number(count));
    m_pReceived->show();
  });
}

void CMarlixDlg::SetStatus(const std::string& text) {
  OnInterface([this, shown = CoreTextForUi(text)] { m_pStatus->setText(shown); });
}

void CMarlixDlg::ShowMessage(const std::string& text, const std::string& openAfter) {
  OnInterface([this, shown = CoreTextForUi(text), openAfter] {
    ShowMessageBox(this, shown);
    if (!openAfter.empty()) DialogServices().OpenUrl(QUrl(QString::fromStdString(openAfter)));
  });
}

void CMarlixDlg::RelayUploadFailed(const std::string& token, const std::string& text) {
  OnInterface([this, token, shown = CoreTextForUi(text)] {
    if (m_bShutDown) return;
    m_pStatus->setText(shown);
    if (token != m_state.CurrentItemToken) return;  // an earlier item's upload: its link is gone already
    m_state.RelayStarted = 0;
    if (m_state.PageMode != PageMode::Share || m_state.ReachMode != ReachMode::Cloud || !m_pDropArea) return;
    m_state.CurrentAddress.clear();
    ResetProgress();
    m_pDropArea->SetContent(QStringLiteral("ban.png"), shown, 1);
    UpdateAddressTooltip();
  });
}

void CMarlixDlg::ShowReceivedText(const std::string& text) {
  OnInterface([this, shown = QString::fromUtf8(text)] {
    if (m_bShutDown) return;
    if (!m_pReceivedText) m_pReceivedText = std::make_unique<CReceivedTextBox>(this);
    m_pReceivedText->ShowText(shown);
  });
}
