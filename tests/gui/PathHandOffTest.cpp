// Paths from outside: a second `marlix PATH...` hands its paths to the running window over the local
// socket; the window shares them as a drop does (the last one shown) and comes to the front.

#include <unistd.h>

#include <QDir>

#include "GuiTestSupport.h"
#include "app/SharedState.h"
#include "gui/PathHandOff.h"

using namespace marlix_test;

TEST_F(CMainDialogTest, PathsHandedToTheRunningWindowAreSharedAsADrop) {
  const QString name = QStringLiteral("marlix-test-paths-%1").arg(::getpid());
  EXPECT_FALSE(HandPathsToRunningWindow({QStringLiteral("/nowhere")}, name));  // no window yet

  Start();
  CPathReceiver receiver(m_dlg.get(), name);
  ASSERT_TRUE(receiver.IsListening());
  WriteFile(m_dir.Path() / "one.txt", "1");
  WriteFile(m_dir.Path() / "两个 文件.txt", "2");
  // A relative argument names a file of the folder the command runs in, as the shell has it.
  EXPECT_EQ(CommandLinePaths({QStringLiteral("one.txt")}),
            QStringList{QDir::current().absoluteFilePath(QStringLiteral("one.txt"))});
  const QString dir = QString::fromStdString(m_dir.Path().string());
  const QStringList paths =
      CommandLinePaths({dir + QStringLiteral("/one.txt"), dir + QStringLiteral("/./两个 文件.txt")});
  EXPECT_EQ(paths, (QStringList{PathOf("one.txt"), PathOf("两个 文件.txt")}));
  ASSERT_TRUE(HandPathsToRunningWindow(paths, name));
  ASSERT_TRUE(WaitFor([&] { return QString::fromStdString(Session().Current().Path) == paths[1]; }));
  {
    std::lock_guard<std::mutex> lock(State().ItemLock);
    EXPECT_EQ(State().ItemTable.size(), 2u);
  }
  EXPECT_EQ(Text(IDC_CAPTION), QStringLiteral("已分享 2 项，正在显示：两个 文件.txt"));  // none left out unsaid
  EXPECT_TRUE(Item(IDC_SHARE)->isVisible());
  EXPECT_TRUE(m_dlg->isVisible());
}
