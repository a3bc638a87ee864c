#pragma once
// The wait dialog, shown while the router port is being opened. It has no buttons
// and cannot be closed by the user; the main dialog shows and hides it.

#include <QCoreApplication>
#include <QDialog>
#include <QString>

class QLabel;

inline constexpr int IDC_WAIT_TEXT = 1001;

class CPortOpeningWaitDlg : public QDialog {
  Q_DECLARE_TR_FUNCTIONS(CPortOpeningWaitDlg)

 public:
  // Created hidden, modal to its parent while shown.
  explicit CPortOpeningWaitDlg(QWidget* parent);
  ~CPortOpeningWaitDlg() override;

  // The centred text (control 1001); "\r\n" is a line break.
  void SetText(const QString& text);
  QString Text() const;
  // Moves the dialog so that its centre is the centre of the given widget's window.
  void CenterOn(QWidget* owner);

 protected:
  void closeEvent(QCloseEvent* event) override;
  void keyPressEvent(QKeyEvent* event) override;

 private:
  QLabel* m_pText = nullptr;
};

inline constexpr const char* kWaitInitialText =
    QT_TRANSLATE_NOOP("CPortOpeningWaitDlg", "正在进行端口映射，打通外网\r\n请稍等片刻...");
