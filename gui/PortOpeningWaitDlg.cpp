#include "gui/PortOpeningWaitDlg.h"

#include <QCloseEvent>
#include <QKeyEvent>
#include <QLabel>

#include "gui/DialogUnits.h"

CPortOpeningWaitDlg::CPortOpeningWaitDlg(QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint) {
  setWindowTitle(tr("正在打通外网"));
  QFont font = this->font();
  font.setPixelSize(kDialogFontPixels);
  setFont(font);
  setFixedSize(DluToPixelsX(179), DluToPixelsY(78));
  setWindowModality(Qt::WindowModal);
  m_pText = new QLabel(this);
  m_pText->setProperty("controlId", IDC_WAIT_TEXT);
  m_pText->setAlignment(Qt::AlignHCenter | Qt::AlignTop);
  m_pText->setGeometry(DluRect(7, 25, 165, 20));
  SetText(tr(kWaitInitialText));
  setVisible(false);
}

CPortOpeningWaitDlg::~CPortOpeningWaitDlg() = default;

void CPortOpeningWaitDlg::SetText(const QString& text) {
  QString shown = text;
  shown.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
  m_pText->setText(shown);
}

QString CPortOpeningWaitDlg::Text() const {
  QString text = m_pText->text();
  return text.replace(QStringLiteral("\n"), QStringLiteral("\r\n"));
}

void CPortOpeningWaitDlg::CenterOn(QWidget* owner) {
  const QRect frame = owner->window()->frameGeometry();
  QRect mine = frameGeometry();
  mine.moveCenter(frame.center());
  move(mine.topLeft());
}

void CPortOpeningWaitDlg::closeEvent(QCloseEvent* event) { event->ignore(); }

void CPortOpeningWaitDlg::keyPressEvent(QKeyEvent* event) {
  // Escape would close a dialog; this one stays until the port opening ends.
  if (event->key() == Qt::Key_Escape) return;
  QDialog::keyPressEvent(event);
}
