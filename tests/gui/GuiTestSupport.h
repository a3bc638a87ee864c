#pragma once
// What the window's tests share: test pictures, a QR bitmap written as the program writes "1.bmp",
// screenshots, and a fixture that starts the main dialog with recorded message boxes and openers.

#include <gtest/gtest.h>

#include <QImage>
#include <QList>
#include <QString>
#include <QStringList>
#include <QUrl>
#include <atomic>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "gui/MarlixDlg.h"
#include "support/TestEnv.h"

namespace marlix_test {

// A PNG of one colour, with a differently coloured top-left pixel to tell its orientation.
void WritePicture(const QString& path, int width, int height, QColor fill, QColor corner);
// The QR code of a text as a top-down 24-bit bitmap at 8 pixels a module without quiet zone.
bool WriteQrBitmap(const QString& path, const std::string& text);
// Decodes a QR image with zbarimg; empty when nothing was decoded.
std::string DecodeQr(const std::string& path);
// Saves the window's picture as <build>/screenshots/<name>.png.
void SaveScreenshot(QWidget* window, const QString& name);
// Processes events until the condition holds or the time is up.
bool WaitFor(const std::function<bool()>& condition, int timeoutMs = 5000);

class CMainDialogTest : public ::testing::Test {
 protected:
  void SetUp() override;
  void TearDown() override;

  // Constructs and initialises the dialog, shows it and sets LocalAddress to the address (none when empty).
  void Start(const std::string& address = "192.168.1.5");
  // Sends a drop of the paths as a file manager does (a URI list).
  void Drop(const QStringList& paths);
  void Click(int id);
  QWidget* Item(int id) const { return m_dlg->GetDlgItem(id); }
  QString Text(int id) const;
  bool Checked(int id) const;

  // The running Marlix the dialog is the front end of, in m_dir.
  SharedState& State() { return m_marlix->State(); }
  CShareSession& Session() { return m_marlix->Session(); }
  // The absolute path of a name in m_dir, as a file manager drops it.
  QString PathOf(const std::string& name) const { return QString::fromStdString((m_dir.Path() / name).string()); }

  CTempWorkDir m_dir;
  std::unique_ptr<CMarlix> m_marlix;
  std::unique_ptr<CMarlixDlg> m_dlg;
  QStringList m_messages;
  QList<QUrl> m_opened;
  std::vector<int> m_exitCodes;
  std::vector<std::string> m_serverPorts;
  std::vector<std::string> m_relays;  // tokens
  int m_signOuts = 0;
  int m_quitQuestions = 0;
  bool m_quitAnswer = true;
  QStringList m_chosen;               // what the file chooser returns
  std::vector<bool> m_chooserOpened;  // each opening: true for the folder chooser
  static std::atomic<int> s_startupRuns;
};

}  // namespace marlix_test
