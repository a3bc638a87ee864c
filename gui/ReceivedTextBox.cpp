#include "gui/ReceivedTextBox.h"

#include <QClipboard>
#include <QCoreApplication>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QVBoxLayout>

CReceivedTextBox::CReceivedTextBox(QWidget* parent) : QDialog(parent) {
  setWindowTitle(tr("手机发来的文字"));
  setModal(false);
  m_pText = new QPlainTextEdit(this);
  m_pText->setReadOnly(true);
  m_pText->setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);
  m_pCopy = new QPushButton(tr("复制"), this);
  auto* close = new QPushButton(tr("关闭"), this);
  connect(m_pCopy, &QPushButton::clicked, this,
          [this] { QGuiApplication::clipboard()->setText(m_pText->toPlainText()); });
  connect(close, &QPushButton::clicked, this, &QDialog::hide);
  auto* buttons = new QHBoxLayout;
  buttons->addStretch();
  buttons->addWidget(m_pCopy);
  buttons->addWidget(close);
  auto* layout = new QVBoxLayout(this);
  layout->addWidget(m_pText);
  layout->addLayout(buttons);
  resize(360, 240);
}

void CReceivedTextBox::ShowText(const QString& text) {
  m_pText->setPlainText(text);
  show();
  raise();
  activateWindow();
}

QString CReceivedTextBox::Text() const { return m_pText->toPlainText(); }
