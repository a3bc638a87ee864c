// The context menu's settings: kept in QSettings (a test folder), applied to the relay at once,
// refused when the address is not HOST or HOST:PORT.

#include <QApplication>
#include <QLineEdit>
#include <QMenu>
#include <QSettings>
#include <QTimer>

#include "GuiTestSupport.h"
#include "app/MarlixConfig.h"
#include "gui/SettingsDlg.h"
#include "service/ServiceConfig.h"

using namespace marlix_test;

TEST_F(CMainDialogTest, TheContextMenuOpensTheSettingsWhichKeepAndApplyTheRelay) {
  ::unsetenv("MARLIX_SERVICE_HOST");
  ::unsetenv("MARLIX_HOME");
  Start();
  ASSERT_FALSE(qEnvironmentVariable("XDG_CONFIG_HOME").isEmpty());
  QString entries;
  QTimer::singleShot(0, [&] {
    auto* menu = qobject_cast<QMenu*>(QApplication::activePopupWidget());
    ASSERT_NE(menu, nullptr);
    for (QAction* action : menu->actions()) entries += action->text() + QLatin1Char('|');
    // The settings entry opens the dialog, which the next timer fills in and confirms.
    QTimer::singleShot(0, [] {
      auto* dialog = dynamic_cast<CSettingsDlg*>(QApplication::activeModalWidget());
      ASSERT_NE(dialog, nullptr);
      dialog->RelayEdit()->setText(QStringLiteral("relay.test:8200"));
      dialog->HomeEdit()->setText(QStringLiteral("/tmp/marlix-home"));
      static_cast<QDialog*>(dialog)->accept();
    });
    for (QAction* action : menu->actions())
      if (action->text() == QStringLiteral("设置…")) action->trigger();
    menu->close();
  });
  m_dlg->ShowContextMenu(m_dlg->mapToGlobal(m_dlg->rect().center()));
  EXPECT_TRUE(entries.contains(QStringLiteral("||打开文件…|"))) << entries.toStdString();  // after the addresses
  EXPECT_TRUE(entries.contains(QStringLiteral("|设置…|"))) << entries.toStdString();
  EXPECT_EQ(ServiceHost(State()), "relay.test:8200");
  QSettings kept(QStringLiteral("Marlix"), QStringLiteral("Marlix"));
  EXPECT_EQ(kept.value(QStringLiteral("relay/address")).toString(), QStringLiteral("relay.test:8200"));
  EXPECT_EQ(kept.value(QStringLiteral("paths/home")).toString(), QStringLiteral("/tmp/marlix-home"));

  CSettingsDlg bad(State(), {}, m_dlg.get());
  bad.RelayEdit()->setText(QStringLiteral("http://relay.test/"));
  EXPECT_FALSE(bad.Save());
  EXPECT_EQ(m_messages.size(), 1);
  EXPECT_EQ(ServiceHost(State()), "relay.test:8200");

  // The port for the next start: a number of 1 to 65535, or none (the default range).
  const struct {
    const char* text;
    bool saved;
    int port;
  } ports[] = {{"70000", false, 0}, {"80x", false, 0}, {"9000", true, 9000}, {"", true, 0}};
  for (const auto& p : ports) {
    CSettingsDlg settings(State(), {}, m_dlg.get());
    settings.RelayEdit()->setText(QStringLiteral("relay.test:8200"));
    settings.PortEdit()->setText(QString::fromLatin1(p.text));
    EXPECT_EQ(settings.Save(), p.saved) << p.text;
    if (p.saved) {
      EXPECT_EQ(KeptPort(), p.port) << p.text;
    }
  }

  // The home chosen here is the next start's, and can be chosen again; MARLIX_HOME wins while set,
  // and the dialog says so instead of offering the field.
  const auto next = [](const char* variable) {
    return MakeConfig(
        [variable](const char* name) { return std::string(name) == std::string("MARLIX_HOME") ? variable : ""; },
        KeptSettingsAtStart());
  };
  EXPECT_EQ(next("").Home, "/tmp/marlix-home");
  CSettingsDlg again(State(), next(""), m_dlg.get());
  EXPECT_TRUE(again.HomeEdit()->isEnabled());
  EXPECT_EQ(again.HomeEdit()->text(), QStringLiteral("/tmp/marlix-home"));
  again.HomeEdit()->setText(QStringLiteral("/tmp/marlix-other"));
  ASSERT_TRUE(again.Save());
  EXPECT_EQ(next("").Home, "/tmp/marlix-other");
  CSettingsDlg forced(State(), next("/srv/marlix"), m_dlg.get());
  EXPECT_FALSE(forced.HomeEdit()->isEnabled());
  EXPECT_EQ(forced.HomeEdit()->text(), QStringLiteral("/srv/marlix"));
  EXPECT_TRUE(forced.HomeEdit()->toolTip().contains(QStringLiteral("MARLIX_HOME")));
  kept.clear();
}
