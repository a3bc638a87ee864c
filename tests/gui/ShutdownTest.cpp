// Closing the window while a phone is downloading, with the real web service on a loopback port.

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <QTest>
#include <chrono>
#include <filesystem>
#include <thread>

#include "GuiTestSupport.h"
#include "app/SharedState.h"
#include "gui/DialogServices.h"
#include "service/ServiceConfig.h"
#include "service/ServiceSession.h"
#include "support/SilentListener.h"
#include "web/WebService.h"

using namespace marlix_test;
namespace fs = std::filesystem;

TEST_F(CMainDialogTest, CloseWhileAPhoneIsDownloadingEndsAndDeletesTheArchives) {
  const std::string port = std::to_string(FreeLoopbackPort());
  DialogServices().ChoosePort = [port] { return port; };
  DialogServices().StartServer = [](CMarlix& marlix, const std::string& p) {
    return marlix.StartWeb("127.0.0.1:" + p);
  };
  Start();
  ASSERT_NE(m_dlg->Server(), nullptr);
  EXPECT_EQ(State().PortText, port);

  // A large file of the working directory, served by its name in 4096-byte pieces.
  {
    const int fd = ::open((m_dir.Path() / "big.bin").c_str(), O_CREAT | O_WRONLY | O_TRUNC, 0644);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(::ftruncate(fd, 256LL << 20), 0);
    ::close(fd);
  }
  WriteFile(m_dir.Path() / "A1B2C3D4.zip", "one");
  WriteFile(m_dir.Path() / "E5F6A7B8.zip", "two");
  State().AddTempArchive((m_dir.Path() / "A1B2C3D4.zip").string());
  State().AddTempArchive((m_dir.Path() / "E5F6A7B8.zip").string());

  // Shared by a drop, the file is delivered with progress updates from the service's worker; where
  // the shared-file route gives nothing, the file is fetched by its name in the working directory.
  Drop({PathOf("big.bin")});
  const std::string token = Session().Current().Token;

  // The phone reads slowly, so the download is still running when the window closes.
  std::atomic<long long> received{0};
  std::thread phone([&, p = std::stoi(port)] {
    for (const std::string& target : {"/f?t=" + token, std::string("/big.bin")}) {
      const int fd = ConnectLoopback(p);
      if (fd < 0) return;
      const std::string request = "GET " + target + " HTTP/1.0\r\n\r\n";
      ::send(fd, request.data(), request.size(), MSG_NOSIGNAL);
      char buf[16384];
      for (;;) {
        const ssize_t n = ::recv(fd, buf, sizeof buf, 0);
        if (n <= 0) break;
        received += n;
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
      }
      ::close(fd);
      if (received > 0) return;
    }
  });
  // Meanwhile a worker keeps updating the window, as transfers do.
  std::atomic<bool> stopUpdates{false};
  std::thread updater([&, view = static_cast<CMainDialogView*>(m_dlg.get())] {
    for (int i = 0; !stopUpdates; ++i) {
      view->Report({.Id = ViewEventId::DownloadProgress, .Done = i % 101, .Total = 100});
      view->ShowProgress();
      view->Report({.Id = ViewEventId::PackingStarted, .Packings = 1});
      view->Report({.Id = ViewEventId::PackingFinished});
      std::this_thread::sleep_for(std::chrono::microseconds(200));
    }
  });

  ASSERT_TRUE(WaitFor([&] { return received > 0; }, 10000));
  const auto began = std::chrono::steady_clock::now();
  Click(IDC_CLOSE);
  const auto seconds =
      std::chrono::duration_cast<std::chrono::seconds>(std::chrono::steady_clock::now() - began).count();
  stopUpdates = true;
  updater.join();
  phone.join();

  EXPECT_LT(seconds, 30) << "the stop hung on the running download";
  EXPECT_LT(received.load(), 256LL << 20);  // the download was cut short by the stop
  EXPECT_TRUE(m_dlg->IsShutDown());
  EXPECT_EQ(m_dlg->Server(), nullptr);
  EXPECT_EQ(ConnectLoopback(std::stoi(port)), -1);  // nothing listens any more
  EXPECT_FALSE(fs::exists(m_dir.Path() / "A1B2C3D4.zip"));
  EXPECT_FALSE(fs::exists(m_dir.Path() / "E5F6A7B8.zip"));
  EXPECT_TRUE(fs::exists(m_dir.Path() / "big.bin"));
  EXPECT_EQ(m_signOuts, 1);
}

// Closing the window while a folder is being packed ends within 2 s, and the half-made archive goes.
TEST_F(CMainDialogTest, CloseWhileAFolderIsBeingPackedEndsWithinTwoSeconds) {
  const std::string port = std::to_string(FreeLoopbackPort());
  DialogServices().ChoosePort = [port] { return port; };
  DialogServices().StartServer = [](CMarlix& marlix, const std::string& p) {
    return marlix.StartWeb("127.0.0.1:" + p);
  };
  Start();
  ASSERT_NE(m_dlg->Server(), nullptr);
  // About 800 MB to pack from 16 MB on disk: one text file under fifty names.
  std::string text;
  for (uint64_t i = 0; text.size() < (16u << 20); ++i) text += "line " + std::to_string(i * 2654435761u) + "\n";
  const fs::path large = m_dir.Path() / "shared/Large";
  WriteFile(large / "t0.txt", text);
  for (int i = 1; i < 50; ++i)
    fs::create_hard_link(large / "t0.txt", large / std::string("t").append(std::to_string(i)).append(".txt"));
  Drop({PathOf("shared/Large")});
  const std::string token = Session().Current().Token;

  std::thread phone([p = std::stoi(port), token] {
    const int fd = ConnectLoopback(p);
    if (fd < 0) return;
    const std::string request = "GET /z?t=" + token + " HTTP/1.0\r\n\r\n";
    ::send(fd, request.data(), request.size(), MSG_NOSIGNAL);
    char buf[4096];
    while (::recv(fd, buf, sizeof buf, 0) > 0) {
    }
    ::close(fd);
  });
  const fs::path archive = m_dir.Path() / "Large.zip";
  ASSERT_TRUE(WaitFor([&] { return fs::exists(archive) && fs::file_size(archive) > 0; }, 10000));
  const auto began = std::chrono::steady_clock::now();
  Click(IDC_CLOSE);
  const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - began).count();
  phone.join();
  EXPECT_LT(seconds, 2.0);
  EXPECT_TRUE(m_dlg->IsShutDown());
  EXPECT_FALSE(fs::exists(archive));
}

// A relay that accepts connections and never answers: the sign-in of the start-up worker waits on it
// when the window closes, and the sign-out would too. The close ends all the same, worker joined.
TEST_F(CMainDialogTest, CloseWhileTheRelayNeverAnswersEndsWithinTwoSeconds) {
  CSilentListener relay;
  State().ConfiguredRelay.Set(relay.Host());
  std::atomic<bool> signingIn{false}, workerEnded{false};
  DialogServices().StartupWork = [&](SharedState& state, CMainDialogView& events, const CStopFlag& stop) {
    signingIn = true;
    RealSessionOperations().StartupWork(state, events, stop);
    workerEnded = true;
  };
  DialogServices().SignOut = [](const SharedState& state) { ServiceSignOut(state); };
  Start();
  ASSERT_TRUE(WaitFor([&] { return signingIn.load(); }));
  QTest::qWait(300);  // the sign-in's request is under way
  ASSERT_FALSE(workerEnded);

  const auto began = std::chrono::steady_clock::now();
  Click(IDC_CLOSE);
  const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - began).count();
  RecordProperty("close_seconds", std::to_string(seconds));
  EXPECT_TRUE(m_dlg->IsShutDown());
  EXPECT_TRUE(workerEnded);                                    // joined by the close
  EXPECT_LT(seconds, 5.0) << "the close waited on the relay";  // a hang check; about 1 s here
}
