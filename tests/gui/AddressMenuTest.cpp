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

TEST(PhoneReachableAddresses, NoLoopbackAndLinkLocalOnlyWhenNothingElse) {
  const AdapterAddress lo4{"lo", "127.0.0.1", true}, lo6{"lo", "::1", true};
  const AdapterAddress lan{"wlan0", "192.168.1.5"}, v6{"wlan0", "2001:db8::5"};
  const AdapterAddress auto4{"eth0", "169.254.3.4"}, link6{"eth0", "fe80::1%eth0"}, link6b{"eth0", "FE9a::2%eth0"};
  const struct {
    std::vector<AdapterAddress> all;
    std::vector<std::string> listed;
  } cases[] = {
      {{lo4, lan, auto4, lo6, v6, link6}, {"192.168.1.5", "2001:db8::5"}},
      {{lo4, auto4, lo6, link6, link6b}, {"169.254.3.4", "fe80::1%eth0", "FE9a::2%eth0"}},
      {{lo4, lo6}, {}},
  };
  for (const auto& c : cases) {
    std::vector<std::string> listed;
    for (const AdapterAddress& a : PhoneReachableAddresses(c.all)) listed.push_back(a.address);
    EXPECT_EQ(listed, c.listed);
  }
  EXPECT_EQ(UrlHost("fe80::1%eth0"), "[fe80::1%25eth0]");  // the zone as a link writes it
}

TEST_F(CMainDialogTest, MenuListsThePhonesAddressesAndAPickChangesTheCodesTooltipAndSettings) {
  Settings().remove(QStringLiteral("network/address"));
  const std::vector<AdapterAddress> reachable = PhoneReachableAddresses(ListAllAddresses());
  if (reachable.empty()) GTEST_SKIP() << "this machine has no address a phone could use";
  Start(reachable.front().address);
  WriteFile(m_dir.Path() / "a.jpg", "jpeg");
  Drop({PathOf("a.jpg")});
  const std::string token = Session().Current().Token;
  const auto link = [&](const AdapterAddress& a) { return "http://" + UrlHost(a.address) + ":8081/f?t=" + token; };
  EXPECT_EQ(m_dlg->DropArea()->toolTip(), QString::fromStdString(link(reachable.front())));

  // A right click on the drop area and on the rest of the dialog opens the one menu, with no loopback.
  for (QWidget* where : {static_cast<QWidget*>(m_dlg->DropArea()), Item(IDC_STATUS)}) {
    const QString entries = RightClick(where);
    EXPECT_TRUE(
        entries.startsWith(QStringLiteral("手机访问的地址|") + QString::fromStdString(reachable.front().address)))
        << entries.toStdString();
    EXPECT_FALSE(entries.contains(QStringLiteral("127.0.0.1"))) << entries.toStdString();
    EXPECT_TRUE(entries.contains(QStringLiteral("|设置…|"))) << entries.toStdString();
  }

  std::unique_ptr<QMenu> menu(m_dlg->BuildContextMenu());
  int listed = 0;
  for (QAction* a : menu->actions()) listed += a->isCheckable();
  EXPECT_EQ(listed, static_cast<int>(reachable.size()));
  const AdapterAddress& other = reachable.back();
  QAction* pick = FindAction(menu.get(), QString::fromStdString(other.address + " (" + other.name + ")"));
  ASSERT_NE(pick, nullptr);
  pick->trigger();

  EXPECT_EQ(State().LocalAddress.Get(), other.address);
  EXPECT_EQ(Session().Address(), link(other));
  EXPECT_EQ(DecodeQr(m_dir.Path() / "1.bmp"), link(other));
  EXPECT_EQ(m_dlg->DropArea()->toolTip(), QString::fromStdString(link(other)));
  EXPECT_EQ(Settings().value(QStringLiteral("network/address")).toString().toStdString(), other.address);
  std::unique_ptr<QMenu> again(m_dlg->BuildContextMenu());
  EXPECT_TRUE(FindAction(again.get(), pick->text())->isChecked());

  Click(IDC_UPLOAD_PAGE);
  EXPECT_EQ(Session().Address(), "http://" + UrlHost(other.address) + ":8081" + State().UploadPagePath());
  EXPECT_EQ(m_dlg->DropArea()->toolTip(), QString::fromStdString(Session().Address()));
  SaveScreenshot(m_dlg.get(), QStringLiteral("address-picked"));
  Settings().remove(QStringLiteral("network/address"));
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
