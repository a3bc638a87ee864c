// The window in English: the shipped translation, found in the build tree's data folder, chosen by
// the language variables; the core's events on the caption line follow. Chinese stays the source text.

#include <QPushButton>
#include <cstdlib>

#include "GuiTestSupport.h"
#include "gui/PortOpeningWaitDlg.h"
#include "gui/UiTranslation.h"

using namespace marlix_test;

TEST_F(CMainDialogTest, AnEnglishSystemGetsTheEnglishWindowAndAChineseOneTheChinese) {
  const QString data = QStringLiteral(MARLIX_BINARY_DIR "/data");
  ::setenv("LANGUAGE", "zh_CN", 1);
  EXPECT_FALSE(InstallUiTranslation(data));
  ::setenv("LANGUAGE", "de_DE:en", 1);
  ASSERT_TRUE(InstallUiTranslation(data));
  ::unsetenv("LANGUAGE");
  Start();
  EXPECT_EQ(Text(IDC_CLOSE), QStringLiteral("Close"));
  EXPECT_EQ(Text(IDC_RADIO_LAN), QStringLiteral("LAN (fast)"));
  EXPECT_EQ(m_dlg->WaitDialog()->windowTitle(), QStringLiteral("Opening the Internet path"));
  Click(IDC_RADIO_LAN);
  EXPECT_EQ(Text(IDC_STATUS), QStringLiteral("Use this when the phone and this computer share one Wi-Fi network"));
  m_dlg->Report({.Id = ViewEventId::PackingStarted});
  EXPECT_EQ(Text(IDC_CAPTION), QStringLiteral("Compressing..."));
  Click(IDC_UPLOAD_PAGE);
  SaveScreenshot(m_dlg.get(), QStringLiteral("english-upload-page"));
  RemoveUiTranslation();
}
