// What the phone sent, in front of the user: the received list (arrivals, opening, files that go)
// and the desktop notifications, against a stand-in notification service on a private session bus.

#include <QApplication>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusReply>
#include <QPushButton>
#include <QTest>
#include <QTreeWidget>
#include <filesystem>

#include "GuiTestSupport.h"
#include "app/SharedState.h"
#include "gui/DesktopNotifier.h"
#include "gui/ReceivedList.h"
#include "gui/ReceivedTextBox.h"

using namespace marlix_test;
namespace fs = std::filesystem;

namespace {

// A file a phone sent: written into tmp/ and reported as the upload receiver reports it.
void Arrive(CMarlixDlg& dialog, const fs::path& home, const std::string& name, size_t size) {
  fs::create_directories(home / "tmp");
  WriteFile(home / "tmp" / name, std::string(size, 'x'));
  dialog.Report({.Id = ViewEventId::FileStored, .Name = "tmp/" + name});
}

QStringList Names(QTreeWidget* tree) {
  QStringList names;
  for (int i = 0; i < tree->topLevelItemCount(); ++i) names << tree->topLevelItem(i)->text(0);
  return names;
}

}  // namespace

TEST_F(CMainDialogTest, TheReceivedListShowsWhatCameOpensItAndForgetsWhatIsGone) {
  Start();
  Arrive(*m_dlg, m_dir.Path(), "a.jpg", 2048);
  Arrive(*m_dlg, m_dir.Path(), "b.txt", 5);
  m_dlg->ShowReceivedText("取件码 4711\n第二行");
  ASSERT_TRUE(WaitFor([&] { return Text(IDC_RECEIVED) == QStringLiteral("2"); }));  // files of the run

  Click(IDC_RECEIVED);
  CReceivedList* list = m_dlg->ReceivedList();
  ASSERT_TRUE(list->isVisible());
  QTreeWidget* tree = list->Tree();
  EXPECT_EQ(Names(tree), (QStringList{QStringLiteral("文字：取件码 4711 第二行"), QStringLiteral("b.txt"),
                                      QStringLiteral("a.jpg")}));  // the newest first
  EXPECT_EQ(tree->topLevelItem(2)->text(1), QLocale().formattedDataSize(2048));
  EXPECT_FALSE(tree->topLevelItem(2)->text(2).isEmpty());

  // Enter opens the current entry: a text whole in the text box, a file with the desktop's program.
  m_dlg->ReceivedTextBox()->hide();
  tree->setCurrentItem(tree->topLevelItem(0));
  QTest::keyClick(tree, Qt::Key_Return);
  EXPECT_TRUE(m_dlg->ReceivedTextBox()->isVisible());
  EXPECT_EQ(m_dlg->ReceivedTextBox()->Text(), QStringLiteral("取件码 4711\n第二行"));
  tree->setCurrentItem(tree->topLevelItem(2));
  QTest::keyClick(tree, Qt::Key_Return);
  QTest::mouseClick(list->FolderButton(), Qt::LeftButton);
  EXPECT_EQ(m_opened, (QList<QUrl>{QUrl::fromLocalFile(PathOf("tmp/a.jpg")), QUrl::fromLocalFile(PathOf("tmp"))}));

  // The phone deletes a file: it leaves the list (the folder is watched).
  fs::remove(m_dir.Path() / "tmp" / "b.txt");
  EXPECT_TRUE(WaitFor([&] { return tree->topLevelItemCount() == 2; }));
  EXPECT_EQ(Names(tree).last(), QStringLiteral("a.jpg"));
  SaveScreenshot(list, QStringLiteral("received-list"));
}

// Runs only on a private session bus made by ctest (dbus-run-session): with the stand-in service
// (MARLIX_TEST_NOTIFICATIONS=standin), or with no notification service at all (=none).
TEST_F(CMainDialogTest, ArrivalsAreNotifiedOnlyWhileTheWindowIsNotInFront) {
  const QString bus = qEnvironmentVariable("MARLIX_TEST_NOTIFICATIONS");
  if (bus.isEmpty()) GTEST_SKIP() << "needs a private session bus: ctest runs it under dbus-run-session";
  Start();
  CDesktopNotifier* notifier = m_dlg->Notifier();
  notifier->SetBurstWindow(3600 * 1000);  // every file of this test is one burst
  QWidget other;
  other.show();

  QApplication::setActiveWindow(m_dlg.get());
  Arrive(*m_dlg, m_dir.Path(), "front.jpg", 1);  // the user sees the window: no notification
  ASSERT_TRUE(WaitFor([&] { return m_dlg->ReceivedList()->FilesReceived() == 1; }));
  EXPECT_EQ(notifier->Sent(), 0);

  QApplication::setActiveWindow(&other);
  ASSERT_FALSE(m_dlg->isActiveWindow());
  for (const char* name : {"1.jpg", "2.jpg", "3.jpg"}) Arrive(*m_dlg, m_dir.Path(), name, 1);
  ASSERT_TRUE(WaitFor([&] { return m_dlg->ReceivedList()->FilesReceived() == 4; }));
  if (bus == QStringLiteral("none")) {  // nothing to send to, and nothing fails
    EXPECT_EQ(notifier->Sent(), 0);
    return;
  }

  const auto sent = [] {
    QDBusMessage call = QDBusMessage::createMethodCall(
        QStringLiteral("org.freedesktop.Notifications"), QStringLiteral("/org/freedesktop/Notifications"),
        QStringLiteral("org.marlix.TestControl"), QStringLiteral("Sent"));
    const QDBusMessage reply = QDBusConnection::sessionBus().call(call);
    std::vector<QStringList> rows;  // id, replaced id, summary, body, actions
    if (reply.type() != QDBusMessage::ReplyMessage) return rows;
    const QDBusArgument list = reply.arguments().at(0).value<QDBusArgument>();
    list.beginArray();
    while (!list.atEnd()) {
      uint id = 0, replaces = 0;
      QString summary, body, actions;
      list.beginStructure();
      list >> id >> replaces >> summary >> body >> actions;
      list.endStructure();
      rows.push_back({QString::number(id), QString::number(replaces), summary, body, actions});
    }
    list.endArray();
    return rows;
  };
  // One notification for the burst: named by its first file, then counted in its place.
  ASSERT_TRUE(WaitFor([&] { return sent().size() == 2; })) << sent().size();
  std::vector<QStringList> rows = sent();
  EXPECT_EQ(rows[0].mid(1), (QStringList{QStringLiteral("0"), QStringLiteral("收到文件"), QStringLiteral("1.jpg"),
                                         QStringLiteral("default|打开")}));
  EXPECT_EQ(rows[1][1], rows[0][0]);  // replaces it
  EXPECT_EQ(rows[1][2], QStringLiteral("收到 3 个文件"));

  // A text shows its start, in a notification of its own.
  m_dlg->ShowReceivedText(std::string(300, 'T'));
  QApplication::setActiveWindow(&other);
  ASSERT_TRUE(WaitFor([&] { return sent().size() == 3; }));
  rows = sent();
  EXPECT_EQ(rows[2][2], QStringLiteral("收到文字"));
  EXPECT_TRUE(rows[2][3].startsWith(QStringLiteral("TTTT")));
  EXPECT_LT(rows[2][3].size(), 300);

  // Its default action brings the window to the front with the list open.
  m_dlg->ReceivedList()->hide();
  QDBusMessage invoke = QDBusMessage::createMethodCall(
      QStringLiteral("org.freedesktop.Notifications"), QStringLiteral("/org/freedesktop/Notifications"),
      QStringLiteral("org.marlix.TestControl"), QStringLiteral("Invoke"));
  invoke << rows[0][0].toUInt() << QStringLiteral("default");
  QDBusConnection::sessionBus().call(invoke);
  EXPECT_TRUE(WaitFor([&] { return m_dlg->ReceivedList()->isVisible(); }));
}
