// The choice of the local address in the window: the context menu of the drop area and the dialog,
// the codes and the tooltip after a pick, and the choice kept in the settings for the next run.

#include <QApplication>
#include <QContextMenuEvent>
#include <QMenu>
#include <QSettings>
#include <QTimer>

#include "GuiTestSupport.h"
#include "app/SharedState.h"
#include "app/UrlHost.h"
#include "gui/DropArea.h"
#include "net/LocalAddress.h"

using namespace marlix_test;

namespace {

QSettings Settings() { return QSettings(QStringLiteral("Marlix"), QStringLiteral("Marlix")); }

QAction* FindAction(QMenu* menu, const QString& text) {
  for (QAction* a : menu->actions())
    if (a->text() == text) return a;
  return nullptr;
}

// The entries of the menu that a right click at the widget's centre opened ("|" after each).
QString RightClick(QWidget* widget) {
  QString entries;
  QTimer::singleShot(0, [&] {
    auto* menu = qobject_cast<QMenu*>(QApplication::activePopupWidget());
    if (!menu) return;
    for (QAction* a : menu->actions()) entries += a->text() + QLatin1Char('|');
    SaveScreenshot(menu, QStringLiteral("context-menu"));
    menu->close();
  });
  const QPoint at = widget->rect().center();
  QContextMenuEvent event(QContextMenuEvent::Mouse, at, widget->mapToGlobal(at));
  QApplication::sendEvent(widget, &event);
  return entries;
}

}  // namespace

TEST_F(CMainDialogTest, MenuListsEveryAddressAndAPickChangesTheCodesTooltipAndSettings) {
  Settings().remove(QStringLiteral("network/address"));
  Start();
  State().LocalAddress.Set("127.0.0.1");
  WriteFile(m_dir.Path() / "a.jpg", "jpeg");
  Drop({PathOf("a.jpg")});
  const std::string token = State().CurrentItemToken;
  EXPECT_EQ(m_dlg->DropArea()->toolTip(), QStringLiteral("http://127.0.0.1:8081/f?t=") + QString::fromStdString(token));

  // A right click on the drop area and on the rest of the dialog opens the one menu.
  for (QWidget* where : {static_cast<QWidget*>(m_dlg->DropArea()), Item(IDC_STATUS)}) {
    const QString entries = RightClick(where);
    EXPECT_TRUE(entries.contains(QStringLiteral("|127.0.0.1 (lo)|"))) << entries.toStdString();
    EXPECT_TRUE(entries.endsWith(QStringLiteral("|设置…|"))) << entries.toStdString();
  }

  std::unique_ptr<QMenu> menu(m_dlg->BuildContextMenu());
  const std::vector<AdapterAddress> all = ListLocalAddresses();
  int listed = 0;
  for (QAction* a : menu->actions()) listed += a->isCheckable();
  EXPECT_EQ(listed, static_cast<int>(all.size()));
  QAction* loopback = FindAction(menu.get(), QStringLiteral("127.0.0.1 (lo)"));
  ASSERT_NE(loopback, nullptr);
  EXPECT_TRUE(loopback->isChecked());
  // Pick another address where the machine has one; loopback otherwise.
  const AdapterAddress* other = &all.front();
  for (const AdapterAddress& a : all)
    if (!a.loopback) other = &a;
  QAction* pick = FindAction(menu.get(), QString::fromStdString(other->address + " (" + other->name + ")"));
  ASSERT_NE(pick, nullptr);
  pick->trigger();

  // The last address that is not loopback: an IPv6 one where the machine has one, in brackets.
  const std::string host = other->address.find(':') == std::string::npos ? other->address : "[" + other->address + "]";
  const std::string address = "http://" + host + ":8081/f?t=" + token;
  EXPECT_EQ(State().LocalAddress.Get(), other->address);
  EXPECT_EQ(State().CurrentAddress, address);
  EXPECT_EQ(DecodeQr(m_dir.Path() / "1.bmp"), address);
  EXPECT_EQ(m_dlg->DropArea()->toolTip(), QString::fromStdString(address));
  EXPECT_EQ(Settings().value(QStringLiteral("network/address")).toString().toStdString(), other->address);
  std::unique_ptr<QMenu> again(m_dlg->BuildContextMenu());
  EXPECT_TRUE(FindAction(again.get(), pick->text())->isChecked());

  Click(IDC_UPLOAD_PAGE);
  EXPECT_EQ(State().CurrentAddress, "http://" + host + ":8081" + State().UploadPagePath());
  EXPECT_EQ(m_dlg->DropArea()->toolTip(), QString::fromStdString(State().CurrentAddress));
  SaveScreenshot(m_dlg.get(), QStringLiteral("address-picked"));
}

TEST_F(CMainDialogTest, TheSavedAddressIsUsedAtTheNextStartWhileItExists) {
  Settings().setValue(QStringLiteral("network/address"), QStringLiteral("127.0.0.1"));
  Start();
  DiscoverLocalAddress(State());
  EXPECT_EQ(State().LocalAddress.Get(), "127.0.0.1");
  m_dlg->ShutDown();
  m_dlg.reset();

  // Gone since (another network): the default rule.
  Settings().setValue(QStringLiteral("network/address"), QStringLiteral("203.0.113.77"));
  Start();
  DiscoverLocalAddress(State());
  EXPECT_EQ(State().LocalAddress.Get(), ChooseLocalAddress(ListAdapterAddresses()));
  Settings().remove(QStringLiteral("network/address"));
}
