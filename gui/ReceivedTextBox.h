#pragma once
// The box that shows the latest text a phone sent: read-only, selectable, scrolling when long, with
// a button that puts it on the clipboard. Non-modal, owned by the main dialog; interface thread.

#include <QCoreApplication>
#include <QDialog>
#include <QString>

class QPlainTextEdit;
class QPushButton;

class CReceivedTextBox : public QDialog {
  Q_DECLARE_TR_FUNCTIONS(CReceivedTextBox)

 public:
  explicit CReceivedTextBox(QWidget* parent);

  // Shows the text in place of the one before and brings the box up.
  void ShowText(const QString& text);
  QString Text() const;
  QPushButton* CopyButton() const { return m_pCopy; }

 private:
  QPlainTextEdit* m_pText = nullptr;
  QPushButton* m_pCopy = nullptr;
};
