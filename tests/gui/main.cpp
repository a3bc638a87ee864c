// The window's tests run on Qt's offscreen platform: no display is needed.

#include <gtest/gtest.h>

#include <QApplication>
#include <cstdlib>
#include <filesystem>

int main(int argc, char** argv) {
  ::setenv("QT_QPA_PLATFORM", "offscreen", 0);
  // QSettings of the tests live in a folder of their own, never in the user's configuration.
  char config[] = "/tmp/marlix-gui-tests-config-XXXXXX";
  if (::mkdtemp(config)) ::setenv("XDG_CONFIG_HOME", config, 1);
  // Nothing reaches the desktop's notifications: a session bus only where the test made one
  // (dbus-run-session with a stand-in service, from ctest).
  if (qEnvironmentVariableIsEmpty("MARLIX_TEST_NOTIFICATIONS"))
    ::setenv("DBUS_SESSION_BUS_ADDRESS", "unix:path=/nonexistent/marlix-test-bus", 1);
  QApplication app(argc, argv);
  ::testing::InitGoogleTest(&argc, argv);
  const int result = RUN_ALL_TESTS();
  std::filesystem::remove_all(config);
  return result;
}
