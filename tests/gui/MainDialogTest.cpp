// The main dialog on Qt's offscreen platform: start-up, drops, pages, modes and the Share button.

#include <QApplication>
#include <QClipboard>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFile>
#include <QMenu>
#include <QMimeData>
#include <QProgressBar>
#include <QRegularExpression>
#include <QSettings>
#include <QTest>
#include <QTimer>
#include <filesystem>
#include <functional>
#include <thread>

#include "GuiTestSupport.h"
#include "app/SharedState.h"
#include "gui/DialogServices.h"
#include "gui/DropArea.h"
#include "gui/PortOpeningWaitDlg.h"
#include "service/CloudRelay.h"
#include "service/ServiceConfig.h"

using namespace marlix_test;
namespace fs = std::filesystem;

namespace {

const QString kDropPrompt = QStringLiteral("将文件(夹)拖放到此处");
const QString kScanDownload = QStringLiteral("扫描二维码，下载文件到手机");

bool IsToken(const std::string& token) {
  return QRegularExpression(QStringLiteral("^[A-Za-z0-9_-]{22}$")).match(QString::fromStdString(token)).hasMatch();
}

}  // namespace

TEST_F(CMainDialogTest, StartsWithLanCheckedAndTheDropPrompt) {
  Start();
  EXPECT_EQ(m_dlg->windowTitle(), QStringLiteral("Marlix 2.1 beta"));
  // 294 x 273 layout units at 6 x 13 base units make 441 x 444 pixels.
  EXPECT_EQ(m_dlg->size(), QSize(441, 444));
  EXPECT_EQ(Item(IDC_STATUS)->geometry(), QRect(11, 39, 420, 13));
  EXPECT_EQ(Item(IDC_CLOSE)->geometry(), QRect(189, 413, 75, 23));
  EXPECT_EQ(Item(IDC_RADIO_WAN)->geometry(), QRect(173, 13, 96, 16));
  EXPECT_EQ(Item(IDC_SHARE)->geometry(), QRect(380, 119, 32, 28));
  EXPECT_EQ(Item(IDC_PROGRESS)->geometry(), QRect(62, 382, 317, 10));
  EXPECT_EQ(Item(IDC_DROP_AREA)->geometry(), QRect(61, 62, 319, 320));
  EXPECT_EQ(Text(IDC_CLOSE), QStringLiteral("关闭"));
  EXPECT_EQ(Text(IDC_RADIO_LAN), QStringLiteral("局域网(高速)"));
  EXPECT_EQ(Text(IDC_SHARE_PAGE), QStringLiteral("下载"));

  EXPECT_TRUE(Checked(IDC_RADIO_LAN));
  EXPECT_FALSE(Checked(IDC_RADIO_WAN));
  EXPECT_FALSE(Checked(IDC_RADIO_CLOUD));
  EXPECT_TRUE(Item(IDC_RADIO_WAN)->isEnabled());
  EXPECT_EQ(State().SelectedMode, ReachMode::Lan);
  EXPECT_EQ(Text(IDC_STATUS), QStringLiteral("手机和电脑在同一个无线(WIFI)网络下请使用此方式"));
  EXPECT_FALSE(Item(IDC_PROGRESS)->isVisible());
  EXPECT_FALSE(Item(IDC_SHARE)->isVisible());
  EXPECT_FALSE(Item(IDC_RECEIVED)->isVisible());
  EXPECT_FALSE(Item(IDC_CAPTION)->isVisible());
  EXPECT_TRUE(Item(IDC_SHARE_PAGE)->isVisible());

  CDropArea* area = m_dlg->DropArea();
  ASSERT_NE(area, nullptr);
  EXPECT_EQ(area->ImagePath(), QStringLiteral("dnd.png"));
  EXPECT_EQ(area->Caption(), kDropPrompt);
  EXPECT_EQ(area->Layout(), 1);
  ASSERT_NE(area->Canvas(), nullptr);
  EXPECT_EQ(area->Canvas()->size(), area->contentsRect().size());

  EXPECT_EQ(Session().Page(), PageMode::Share);
  EXPECT_EQ(State().PortText, "8081");
  EXPECT_EQ(m_serverPorts, std::vector<std::string>{"8081"});
  ASSERT_NE(m_dlg->WaitDialog(), nullptr);
  EXPECT_FALSE(m_dlg->WaitDialog()->isVisible());
  EXPECT_EQ(m_dlg->WaitDialog()->Text(), QStringLiteral("正在进行端口映射，打通外网\r\n请稍等片刻..."));
  EXPECT_TRUE(m_messages.isEmpty());
  const int runs = s_startupRuns;
  EXPECT_TRUE(WaitFor([&] { return s_startupRuns > 0; })) << runs;
  SaveScreenshot(m_dlg.get(), QStringLiteral("drop-prompt"));
}

TEST_F(CMainDialogTest, NoFreePortShowsTheMessageAndEnds) {
  DialogServices().ChoosePort = [] { return std::string(); };
  CMarlixDlg dialog(*m_marlix);
  EXPECT_FALSE(dialog.OnInitDialog());
  EXPECT_EQ(m_messages, QStringList{QStringLiteral("无端口可用，程序无法运行！！！")});
  EXPECT_EQ(m_exitCodes, std::vector<int>{0});
  EXPECT_TRUE(m_serverPorts.empty());
  EXPECT_EQ(dialog.DropArea(), nullptr);
}

TEST_F(CMainDialogTest, FileAndFolderDroppedInLanMode) {
  Start();
  WriteFile(m_dir.Path() / "a.jpg", "jpeg");
  fs::create_directory(m_dir.Path() / "photos");
  const QString file = PathOf("a.jpg");
  const QString folder = PathOf("photos");

  Drop({file});
  const std::string token = Session().Current().Token;
  EXPECT_TRUE(IsToken(token)) << token;
  EXPECT_EQ(State().FindItem(token), file.toStdString());
  EXPECT_EQ(State().ItemTable.size(), 1u);
  EXPECT_EQ(Session().Current().Kind, ItemKind::File);
  EXPECT_EQ(Session().Address(), "http://192.168.1.5:8081/f?t=" + token);
  EXPECT_TRUE(Item(IDC_SHARE)->isVisible());
  EXPECT_TRUE(Item(IDC_CAPTION)->isVisible());
  EXPECT_EQ(Text(IDC_CAPTION), QStringLiteral("下载:a.jpg"));
  EXPECT_EQ(m_dlg->DropArea()->ImagePath(), QStringLiteral("1.bmp"));
  EXPECT_EQ(m_dlg->DropArea()->Caption(), kScanDownload);
  EXPECT_EQ(m_dlg->DropArea()->Layout(), 2);

  Drop({folder});
  const std::string folderToken = Session().Current().Token;
  EXPECT_NE(folderToken, token);
  EXPECT_EQ(Session().Current().Kind, ItemKind::Folder);
  EXPECT_EQ(Session().Address(), "http://192.168.1.5:8081/d?t=" + folderToken);
  EXPECT_EQ(Text(IDC_CAPTION), QStringLiteral("已分享 2 项，正在显示：photos"));
  EXPECT_EQ(State().FindItem(token), file.toStdString());  // the first stays shared
  EXPECT_EQ(State().FindItem(folderToken), folder.toStdString());
  EXPECT_TRUE(m_messages.isEmpty());
}

TEST_F(CMainDialogTest, DroppedFileQrCodeDecodesToItsAddress) {
  Start();
  WriteFile(m_dir.Path() / "a.jpg", "jpeg");
  Drop({PathOf("a.jpg")});
  if (!QFile::exists(PathOf("1.bmp"))) GTEST_SKIP() << "GenerateQrBitmap wrote no 1.bmp yet";
  EXPECT_EQ(DecodeQr(m_dir.Path() / "1.bmp"), Session().Address());
  SaveScreenshot(m_dlg.get(), QStringLiteral("shared-file-qr"));
}

TEST_F(CMainDialogTest, ThreeFilesAtOnceEndOnTheThird) {
  Start();
  QStringList paths;
  for (const char* name : {"one.txt", "two.txt", "three.txt"}) {
    WriteFile(m_dir.Path() / name, name);
    paths << PathOf(name);
  }
  Drop(paths);
  ASSERT_EQ(State().ItemTable.size(), 3u);
  std::vector<std::string> found;
  for (const auto& [token, path] : State().ItemTable) {
    EXPECT_TRUE(IsToken(token));
    found.push_back(path);
  }
  std::sort(found.begin(), found.end());
  QStringList sorted = paths;
  sorted.sort();
  for (int i = 0; i < 3; ++i) EXPECT_EQ(found[static_cast<size_t>(i)], sorted[i].toStdString());
  EXPECT_EQ(Session().Current().Path, paths[2].toStdString());
  EXPECT_EQ(State().FindItem(Session().Current().Token), paths[2].toStdString());
  EXPECT_EQ(Text(IDC_CAPTION), QStringLiteral("已分享 3 项，正在显示：three.txt"));
  EXPECT_EQ(Session().Address(), "http://192.168.1.5:8081/f?t=" + Session().Current().Token);

  // The window menu switches between them (the newest first).
  std::unique_ptr<QMenu> menu(m_dlg->BuildWindowMenu());
  QMenu* items = nullptr;
  for (QAction* a : menu->actions())
    if (a->menu()) items = a->menu();
  ASSERT_NE(items, nullptr);
  ASSERT_EQ(items->actions().size(), 3);
  EXPECT_TRUE(items->actions()[0]->isChecked());
  items->actions()[2]->trigger();
  EXPECT_EQ(Session().Current().Path, paths[0].toStdString());
  EXPECT_EQ(Session().Address(), "http://192.168.1.5:8081/f?t=" + Session().Current().Token);
  EXPECT_EQ(Text(IDC_CAPTION), QStringLiteral("已分享 3 项，正在显示：one.txt"));
  EXPECT_EQ(State().ItemTable.size(), 3u);
}

// Whatever brings files while the upload page is shown (a drop, a hand-over, the chooser, a paste)
// turns to the download page and shares them.
TEST_F(CMainDialogTest, FilesBroughtToTheUploadPageAreSharedOnTheDownloadPage) {
  Start();
  WriteFile(m_dir.Path() / "a.jpg", "jpeg");
  WriteFile(m_dir.Path() / "b.pdf", "pdf");
  const std::function<void()> ways[] = {
      [&] { Drop({PathOf("a.jpg")}); },
      [&] {
        m_dlg->OnDropFiles({PathOf("a.jpg"), PathOf("b.pdf")});
      },
      [&] {
        m_chosen = QStringList{PathOf("b.pdf")};
        QTest::mouseClick(m_dlg->DropArea(), Qt::LeftButton);
      },
      [&] {
        m_chosen = QStringList{PathOf("a.jpg")};
        QTest::keyClick(m_dlg.get(), Qt::Key_O, Qt::ControlModifier);
      },
  };
  size_t shared = 0;
  for (const auto& bring : ways) {
    Click(IDC_UPLOAD_PAGE);
    bring();
    EXPECT_GT(State().ItemTable.size(), shared);
    shared = State().ItemTable.size();
    EXPECT_EQ(Session().Page(), PageMode::Share);
    EXPECT_EQ(Session().Address(), "http://192.168.1.5:8081/f?t=" + Session().Current().Token);
    EXPECT_EQ(m_dlg->DropArea()->Caption(), kScanDownload);
  }
  EXPECT_EQ(shared, 5u);
  EXPECT_EQ(m_chooserOpened, (std::vector<bool>{false, false}));
  EXPECT_TRUE(m_messages.isEmpty());
  m_chosen.clear();  // a cancelled chooser shares nothing
  m_dlg->OpenFolder();
  EXPECT_EQ(State().ItemTable.size(), shared);
}

TEST_F(CMainDialogTest, UploadPageInLanModeAndTheSharePageBroughtBack) {
  Start();
  WriteFile(m_dir.Path() / "a.jpg", "jpeg");
  Drop({PathOf("a.jpg")});
  const std::string itemAddress = Session().Address();
  m_dlg->Report({.Id = ViewEventId::DownloadProgress, .Done = 8, .Total = 8});
  m_dlg->ShowProgress();

  Click(IDC_UPLOAD_PAGE);
  EXPECT_EQ(Session().Page(), PageMode::Upload);
  EXPECT_EQ(Session().Address(), "http://192.168.1.5:8081" + State().UploadPagePath());
  EXPECT_EQ(m_dlg->DropArea()->ImagePath(), QStringLiteral("1.bmp"));
  EXPECT_EQ(m_dlg->DropArea()->Caption(), QStringLiteral("扫描二维码，从手机上传文件到电脑"));
  EXPECT_EQ(m_dlg->DropArea()->Layout(), 2);
  EXPECT_TRUE(Item(IDC_CAPTION)->isVisible());
  EXPECT_EQ(Text(IDC_CAPTION), QStringLiteral("等待从手机上传文件..."));
  EXPECT_FALSE(Item(IDC_PROGRESS)->isVisible());
  EXPECT_EQ(static_cast<QProgressBar*>(Item(IDC_PROGRESS))->value(), 0);
  EXPECT_TRUE(Item(IDC_SHARE)->isVisible());
  if (QFile::exists(PathOf("1.bmp"))) {
    EXPECT_EQ(DecodeQr(m_dir.Path() / "1.bmp"), Session().Address());
  }
  SaveScreenshot(m_dlg.get(), QStringLiteral("upload-page"));

  Click(IDC_SHARE_PAGE);
  EXPECT_EQ(Session().Page(), PageMode::Share);
  EXPECT_EQ(Session().Address(), itemAddress);
  EXPECT_EQ(m_dlg->DropArea()->Caption(), kScanDownload);
  EXPECT_EQ(Text(IDC_CAPTION), QStringLiteral("下载:a.jpg"));
  EXPECT_TRUE(Item(IDC_CAPTION)->isVisible());
  EXPECT_TRUE(m_messages.isEmpty());
}

TEST_F(CMainDialogTest, SharePageWithNothingSharedShowsThePrompt) {
  Start();
  Click(IDC_UPLOAD_PAGE);
  Click(IDC_SHARE_PAGE);
  EXPECT_EQ(m_dlg->DropArea()->ImagePath(), QStringLiteral("dnd.png"));
  EXPECT_EQ(m_dlg->DropArea()->Layout(), 1);
  EXPECT_FALSE(Item(IDC_CAPTION)->isVisible());
}

TEST_F(CMainDialogTest, UploadPageInCloudModeIsRefused) {
  Start();
  State().ConfiguredRelay.Set("relay.test:8200");
  Click(IDC_RADIO_CLOUD);
  EXPECT_EQ(Text(IDC_STATUS), QStringLiteral("经云端中转，下完即删除，十分钟不下载，链接失效"));
  EXPECT_EQ(State().SelectedMode, ReachMode::Cloud);
  Click(IDC_UPLOAD_PAGE);
  const QString refusal = QStringLiteral("目前暂时不支持手机通过云中转上传文件到电脑");
  EXPECT_EQ(m_messages, QStringList{refusal});
  EXPECT_EQ(m_dlg->DropArea()->ImagePath(), QStringLiteral("ban.png"));
  EXPECT_EQ(m_dlg->DropArea()->Caption(), refusal);
  EXPECT_EQ(m_dlg->DropArea()->Layout(), 1);
  EXPECT_EQ(Text(IDC_CAPTION), QString());
  EXPECT_EQ(Session().Address(), "");  // no address to offer
}

TEST_F(CMainDialogTest, RadioClickRebuildsTheAddress) {
  Start();
  WriteFile(m_dir.Path() / "a.jpg", "jpeg");
  Drop({PathOf("a.jpg")});
  const std::string token = Session().Current().Token;
  m_dlg->Report({.Id = ViewEventId::DownloadProgress, .Done = 40, .Total = 100});
  m_dlg->ShowProgress();

  State().LocalAddress.Set("10.0.0.7");
  Click(IDC_RADIO_LAN);  // already checked: the handler runs all the same
  EXPECT_EQ(Text(IDC_STATUS), QStringLiteral("手机和电脑在同一个无线(WIFI)网络下请使用此方式"));
  EXPECT_EQ(Session().Address(), "http://10.0.0.7:8081/f?t=" + token);
  EXPECT_FALSE(Item(IDC_PROGRESS)->isVisible());
  EXPECT_EQ(Text(IDC_CAPTION), QStringLiteral("下载:a.jpg"));
  EXPECT_EQ(m_dlg->DropArea()->Caption(), kScanDownload);

  Click(IDC_RADIO_CLOUD);  // no relay set: said in plain words, no link, nothing sent
  EXPECT_EQ(Session().Mode(), ReachMode::Cloud);
  EXPECT_EQ(Session().Address(), "");
  EXPECT_EQ(Text(IDC_STATUS), QStringLiteral("未设置云中转服务器。请在右键菜单“设置…”中填写中转服务器地址。"));
  EXPECT_EQ(m_dlg->DropArea()->ImagePath(), QStringLiteral("ban.png"));
  EXPECT_TRUE(m_relays.empty());
  State().ConfiguredRelay.Set("relay.test:8200");
  Click(IDC_RADIO_CLOUD);
  EXPECT_EQ(Session().Address(), "http://relay.test:8200/q?t=" + token);
  EXPECT_EQ(m_relays, std::vector<std::string>{token});
  EXPECT_EQ(State().SelectedMode, ReachMode::Cloud);
  EXPECT_EQ(m_dlg->DropArea()->ImagePath(), QStringLiteral("1.bmp"));

  // The relay refuses the upload (told from its upload thread): its reason replaces the QR code.
  const QString refusal = QStringLiteral("云中转上传失败：relay storage full");
  std::thread([&, view = static_cast<CMainDialogView*>(m_dlg.get())] {
    view->Report({.Id = ViewEventId::RelayFailed,
                  .Code = static_cast<int>(RelayFailure::Refused),
                  .Name = "relay storage full",
                  .Token = token});
  }).join();
  ASSERT_TRUE(WaitFor([&] { return Text(IDC_STATUS) == refusal; }));
  EXPECT_EQ(Session().Address(), "");
  EXPECT_EQ(m_dlg->DropArea()->ImagePath(), QStringLiteral("ban.png"));
  EXPECT_EQ(m_dlg->DropArea()->Caption(), refusal);
  m_dlg->CopyShareLink();  // no address: nothing to copy or say
  EXPECT_TRUE(m_messages.isEmpty());
}

// An item goes to the relay once: its page shown again (the mode switched back and forth, the item
// picked again from the list) starts no second upload; only one that failed is tried again.
TEST_F(CMainDialogTest, EachItemIsUploadedToTheRelayOnceUnlessItFailed) {
  Start();
  State().ConfiguredRelay.Set("relay.test:8200");
  WriteFile(m_dir.Path() / "a.jpg", "jpeg");
  WriteFile(m_dir.Path() / "b.jpg", "jpeg");
  Drop({PathOf("a.jpg"), PathOf("b.jpg")});
  const std::string a = Session().Items().at(0).Token, b = Session().Items().at(1).Token;
  for (int i = 0; i < 2; ++i) {
    Click(IDC_RADIO_CLOUD);
    Click(IDC_RADIO_LAN);
  }
  Click(IDC_RADIO_CLOUD);
  for (const size_t shown : {0, 1, 0}) m_dlg->ShowSharedItem(shown);
  EXPECT_EQ(m_relays, (std::vector<std::string>{b, a}));

  m_dlg->Report({.Id = ViewEventId::RelayFailed, .Code = static_cast<int>(RelayFailure::NoAnswer), .Token = a});
  ASSERT_TRUE(WaitFor([&] { return Session().Address().empty(); }));
  Click(IDC_RADIO_CLOUD);
  EXPECT_EQ(m_relays, (std::vector<std::string>{b, a, a}));
}

TEST_F(CMainDialogTest, InternetModeOpensThePortBehindTheWaitDialog) {
  Start();
  WriteFile(m_dir.Path() / "a.jpg", "jpeg");
  Drop({PathOf("a.jpg")});
  const std::string token = Session().Current().Token;

  // The exchange waits until the interface thread has looked at the wait dialog.
  std::atomic<int> setupCalls{0};
  std::atomic<bool> started{false}, seen{false};
  DialogServices().WanSetup = [&](SharedState&) {
    ++setupCalls;
    started = true;
    for (int i = 0; i < 500 && !seen; ++i) std::this_thread::sleep_for(std::chrono::milliseconds(10));
    State().ExternalAddress.Set("198.51.100.7");
    return WanSetupResult::Mapped;
  };
  bool visible = false, centred = false, blocked = false, ignored = false;
  QString waitText;
  QTimer probe;
  probe.setInterval(5);
  QObject::connect(&probe, &QTimer::timeout, [&] {
    if (!started || seen) return;
    CPortOpeningWaitDlg* wait = m_dlg->WaitDialog();
    visible = wait->isVisible();
    centred = (wait->frameGeometry().center() - m_dlg->frameGeometry().center()).manhattanLength() <= 2;
    blocked = QApplication::activeModalWidget() == wait;
    waitText = wait->Text();
    // Nothing else is taken meanwhile: a drop, a page button, the Close button.
    m_dlg->OnDropFiles({PathOf("a.jpg")});
    m_dlg->ShowUploadPage();
    m_dlg->close();
    ignored = State().ItemTable.size() == 1 && Session().Page() == PageMode::Share && !m_dlg->IsShutDown() &&
              wait->isVisible();
    seen = true;
  });
  probe.start();
  Click(IDC_RADIO_WAN);
  probe.stop();

  EXPECT_TRUE(seen);
  EXPECT_TRUE(visible);
  EXPECT_TRUE(centred);
  EXPECT_TRUE(blocked);
  EXPECT_TRUE(ignored);
  EXPECT_EQ(waitText, QStringLiteral("正在进行端口映射（打通外网）\r\n请稍等片刻..."));
  EXPECT_FALSE(m_dlg->WaitDialog()->isVisible());
  EXPECT_EQ(m_dlg->WaitDialog()->Text(), QStringLiteral("外网已经打通，可正常使用!"));
  EXPECT_TRUE(Session().PortOpen());
  EXPECT_EQ(Session().Mode(), ReachMode::Wan);
  EXPECT_TRUE(Checked(IDC_RADIO_WAN));
  const QString speed = QStringLiteral("外网直连方式，传输速度由宽带的【上行速度】决定");
  EXPECT_EQ(Text(IDC_STATUS), speed);
  EXPECT_EQ(Session().Address(), "http://198.51.100.7:8081/f?t=" + token);
  EXPECT_EQ(m_dlg->DropArea()->Caption(), kScanDownload);

  // A second choice runs no exchange.
  Click(IDC_RADIO_LAN);
  Click(IDC_RADIO_WAN);
  EXPECT_EQ(setupCalls, 1);
  EXPECT_EQ(Text(IDC_STATUS), speed);
  EXPECT_EQ(Session().Address(), "http://198.51.100.7:8081/f?t=" + token);

  // The upload page takes the external address.
  Click(IDC_UPLOAD_PAGE);
  EXPECT_EQ(Session().Address(), "http://198.51.100.7:8081" + State().UploadPagePath());
  EXPECT_TRUE(m_messages.isEmpty());
}

// A failed port opening says why, falls back to the local network, and can be tried again.
TEST_F(CMainDialogTest, FailedPortOpeningFallsBackToTheLanAndCanBeRetried) {
  Start();
  WriteFile(m_dir.Path() / "a.jpg", "jpeg");
  Drop({PathOf("a.jpg")});
  const QString lanHint = QStringLiteral("手机和电脑在同一个无线(WIFI)网络下请使用此方式");
  const struct {
    WanSetupResult result;
    const char* reason;
  } failures[] = {
      {WanSetupResult::Failed, "外网直连方式不可用，可能路由器不支持端口映射"},
      {WanSetupResult::BehindNat, "路由器处在另一层 NAT 之后，外网的手机无法这样连到本机；云中转方式可以"},
  };
  int setupCalls = 0;
  for (const auto& failure : failures) {
    SCOPED_TRACE(failure.reason);
    m_messages.clear();
    DialogServices().WanSetup = [&](SharedState&) {
      ++setupCalls;
      return failure.result;
    };
    Click(IDC_RADIO_WAN);
    ASSERT_EQ(m_messages.size(), 1);
    EXPECT_TRUE(m_messages[0].startsWith(QString::fromUtf8(failure.reason))) << m_messages[0].toStdString();
    EXPECT_TRUE(Checked(IDC_RADIO_LAN));
    EXPECT_TRUE(Item(IDC_RADIO_WAN)->isEnabled());
    EXPECT_EQ(State().SelectedMode, ReachMode::Lan);
    EXPECT_EQ(Session().Mode(), ReachMode::Lan);
    EXPECT_EQ(Text(IDC_STATUS), lanHint);  // the checked mode's
    EXPECT_EQ(Session().Address(), "http://192.168.1.5:8081/f?t=" + Session().Current().Token);
    EXPECT_EQ(m_dlg->DropArea()->Caption(), kScanDownload);
    Click(IDC_UPLOAD_PAGE);  // the upload page too has the LAN code, and says so
    EXPECT_EQ(Session().Address(), "http://192.168.1.5:8081" + State().UploadPagePath());
    EXPECT_EQ(Text(IDC_STATUS), lanHint);
    Click(IDC_SHARE_PAGE);
  }
  SaveScreenshot(m_dlg.get(), QStringLiteral("internet-mode-failed"));

  // The router is fixed: choosing the Internet again tries again.
  DialogServices().WanSetup = [&](SharedState& state) {
    ++setupCalls;
    state.ExternalAddress.Set("198.51.100.7");
    return WanSetupResult::Mapped;
  };
  m_messages.clear();
  Click(IDC_RADIO_WAN);
  EXPECT_EQ(setupCalls, 3);
  EXPECT_TRUE(Checked(IDC_RADIO_WAN));
  EXPECT_EQ(Session().Address(), "http://198.51.100.7:8081/f?t=" + Session().Current().Token);
  EXPECT_TRUE(m_messages.isEmpty());
}

TEST_F(CMainDialogTest, ShareButtonOnBothPages) {
  Start();
  WriteFile(m_dir.Path() / "a.jpg", "jpeg");
  Drop({PathOf("a.jpg")});
  const QString address = QString::fromStdString(Session().Address());
  Click(IDC_SHARE);
  EXPECT_EQ(QApplication::clipboard()->text(), address);
  ASSERT_EQ(m_messages.size(), 1);
  // A LAN address: only for someone on the same network.
  EXPECT_EQ(m_messages[0],
            QStringLiteral("外发链接已生成：") + address +
                QStringLiteral("\r\n\r\n此链接只在本局域网内有效：【Ctrl+V】粘贴给连在同一网络的人，可让对方下载！"));

  Click(IDC_UPLOAD_PAGE);
  Click(IDC_SHARE);
  const QString upload = QString::fromStdString("http://192.168.1.5:8081" + State().UploadPagePath());
  EXPECT_EQ(QApplication::clipboard()->text(), upload);
  ASSERT_EQ(m_messages.size(), 2);
  EXPECT_EQ(m_messages[1],
            QStringLiteral("外发链接已生成：") + upload +
                QStringLiteral("\r\n\r\n此链接只在本局域网内有效：【Ctrl+V】粘贴给连在同一网络的人，可让对方上传！"));

  // In the Internet mode the link reaches anyone: a chat will do.
  State().ExternalAddress.Set("198.51.100.7");
  Session().PortOpened(WanSetupResult::Mapped);
  Click(IDC_RADIO_WAN);
  Click(IDC_SHARE);
  ASSERT_EQ(m_messages.size(), 3);
  EXPECT_TRUE(m_messages[2].endsWith(QStringLiteral("【Ctrl+V】直接粘贴到QQ等聊天窗口，可让朋友上传！")));
}

TEST_F(CMainDialogTest, ShareButtonInCloudModeAndWithoutAddress) {
  Start();
  QApplication::clipboard()->setText(QStringLiteral("before"));
  m_dlg->CopyShareLink();  // nothing shared yet
  EXPECT_TRUE(m_messages.isEmpty());

  WriteFile(m_dir.Path() / "a.jpg", "jpeg");
  Drop({PathOf("a.jpg")});
  State().ConfiguredRelay.Set("relay.test:8200");
  Click(IDC_RADIO_CLOUD);
  ASSERT_FALSE(Session().Address().empty());
  Click(IDC_SHARE);
  EXPECT_EQ(m_messages, QStringList{QStringLiteral("不好意思，本版本不提供云端分享，稍后版本将开放！")});
  EXPECT_EQ(QApplication::clipboard()->text(), QStringLiteral("before"));
}

TEST_F(CMainDialogTest, UpdatesFromOtherThreadsAreQueued) {
  Start();
  Click(IDC_UPLOAD_PAGE);
  // The interface thread waits for the worker without handling events: a blocking call would hang.
  std::thread worker([&] {
    CMainDialogView* view = &State().Events;
    for (int i = 0; i < 3; ++i) view->Report({.Id = ViewEventId::FileStored, .Name = "tmp/photo.jpg"});
    for (int64_t done = 0; done <= 37; ++done)
      view->Report({.Id = ViewEventId::DownloadProgress, .Done = done * 1000, .Total = 100000});
    view->HideProgress();
    view->ShowProgress();
    // Two packings overlap: the caption before them comes back when the last one ends.
    view->Report({.Id = ViewEventId::PackingStarted, .Packings = 1});
    view->Report({.Id = ViewEventId::PackingStarted, .Packings = 2});
    view->Report({.Id = ViewEventId::PackingFinished, .Packings = 1});
    view->Report({.Id = ViewEventId::RelayProgress, .Done = 37, .Total = 100});
    view->Report({.Id = ViewEventId::ReceivedCount, .Count = 1});  // of one request: the button counts the run's
    view->Report({.Id = ViewEventId::RelayFolderRefused});
    view->Report({.Id = ViewEventId::NewVersion, .Name = "http://127.0.0.1:8200/"});
  });
  worker.join();
  EXPECT_FALSE(Item(IDC_PROGRESS)->isVisible());  // nothing applied yet

  auto* progress = static_cast<QProgressBar*>(Item(IDC_PROGRESS));
  EXPECT_TRUE(WaitFor([&] { return m_messages.size() == 2; }));
  EXPECT_TRUE(progress->isVisible());
  EXPECT_EQ(progress->value(), 37);
  EXPECT_TRUE(Item(IDC_CAPTION)->isVisible());
  EXPECT_EQ(Text(IDC_CAPTION), QStringLiteral("正在压缩..."));
  EXPECT_TRUE(Item(IDC_RECEIVED)->isVisible());
  EXPECT_EQ(Text(IDC_RECEIVED), QStringLiteral("3"));
  EXPECT_EQ(Text(IDC_STATUS), QStringLiteral("目前不提供整个文件夹进行云端中转功能！"));
  EXPECT_EQ(m_messages,
            (QStringList{QStringLiteral("不好意思，由于服务器带宽问题，目前不提供整个文件夹进行云端中转功能！"),
                         QStringLiteral("有新版本，请下载新版本")}));
  ASSERT_EQ(m_opened.size(), 1);
  EXPECT_EQ(m_opened[0], QUrl(QStringLiteral("http://127.0.0.1:8200/")));

  State().Events.Report({.Id = ViewEventId::PackingFinished, .Packings = 0});
  EXPECT_EQ(Text(IDC_CAPTION), QStringLiteral("等待从手机上传文件..."));
  State().Events.Report({.Id = ViewEventId::PackingStarted, .Packings = 1});
  State().Events.Report({.Id = ViewEventId::PackingFinished, .Count = 2, .Packings = 0});  // said, not put back
  EXPECT_EQ(Text(IDC_CAPTION), QStringLiteral("有 2 项无法读取，未打包"));
}

TEST_F(CMainDialogTest, CloseButtonShutsDownInOrder) {
  Start();
  WriteFile(m_dir.Path() / "a.jpg", "jpeg");
  Drop({PathOf("a.jpg")});
  WriteFile(m_dir.Path() / "A1.zip", "x");
  State().AddTempArchive((m_dir.Path() / "A1.zip").string());
  State().AddTempArchive((m_dir.Path() / "missing.zip").string());
  Click(IDC_CLOSE);
  EXPECT_TRUE(m_dlg->IsShutDown());
  EXPECT_FALSE(m_dlg->isVisible());
  EXPECT_EQ(Text(IDC_STATUS), QStringLiteral("正在关闭软件，请稍后..."));
  EXPECT_TRUE(State().ItemTable.empty());
  EXPECT_EQ(m_dlg->DropArea(), nullptr);
  EXPECT_EQ(m_dlg->WaitDialog(), nullptr);
  EXPECT_EQ(m_signOuts, 1);
  EXPECT_FALSE(fs::exists(m_dir.Path() / "A1.zip"));
  EXPECT_TRUE(State().TempArchiveList.empty());
}

// Escape closes nothing. Close, the window manager's close and Ctrl+Q ask once while items are
// shared, and not at all once told not to ask again.
TEST_F(CMainDialogTest, EscapeKeepsTheWindowAndClosingAsksWhileSharing) {
  QSettings(QStringLiteral("Marlix"), QStringLiteral("Marlix")).remove(QStringLiteral("ui/confirmQuit"));
  Start();
  QTest::keyClick(m_dlg.get(), Qt::Key_Escape);
  EXPECT_FALSE(m_dlg->IsShutDown());
  WriteFile(m_dir.Path() / "a.jpg", "jpeg");
  Drop({PathOf("a.jpg")});
  QTest::keyClick(m_dlg.get(), Qt::Key_Escape);
  EXPECT_EQ(m_quitQuestions, 0);

  m_quitAnswer = false;  // the user stays
  const std::function<void()> closes[] = {
      [&] { Click(IDC_CLOSE); },
      [&] { m_dlg->close(); },
      [&] { QTest::keyClick(m_dlg.get(), Qt::Key_Q, Qt::ControlModifier); },
  };
  for (const auto& close : closes) {
    const int before = m_quitQuestions;
    close();
    EXPECT_EQ(m_quitQuestions, before + 1);
    EXPECT_FALSE(m_dlg->IsShutDown());
    EXPECT_TRUE(m_dlg->isVisible());
    EXPECT_EQ(State().ItemTable.size(), 1u);
  }

  DialogServices().AskToQuit = [this](QWidget*, bool& dontAskAgain) {
    ++m_quitQuestions;
    dontAskAgain = true;
    return true;
  };
  Click(IDC_CLOSE);
  EXPECT_TRUE(m_dlg->IsShutDown());
  EXPECT_EQ(m_quitQuestions, 4);
  m_dlg.reset();
  Start();
  Drop({PathOf("a.jpg")});
  Click(IDC_CLOSE);
  EXPECT_TRUE(m_dlg->IsShutDown());
  EXPECT_EQ(m_quitQuestions, 4);
  QSettings(QStringLiteral("Marlix"), QStringLiteral("Marlix")).remove(QStringLiteral("ui/confirmQuit"));
}

// A code is shown only for an address this run serves: an earlier run's "1.bmp" goes at start, and
// without a network address both pages say so in words, until an address appears.
TEST_F(CMainDialogTest, NoStaleCodeAndWordsInsteadOfACodeWithoutANetwork) {
  ASSERT_TRUE(WriteQrBitmap(PathOf("1.bmp"), "http://10.9.9.9:8081/index.html?k=earlier"));
  std::string network;  // the address the PC has: none yet
  DialogServices().FindAddress = [&](SharedState& state) {
    if (!network.empty()) state.LocalAddress.Set(network);
  };
  Start("");
  EXPECT_FALSE(QFile::exists(PathOf("1.bmp")));
  WriteFile(m_dir.Path() / "notes.txt", "n");
  const QString noNetwork = QStringLiteral("没有网络连接：请把本机连到手机所在的网络");
  for (const int page : {IDC_UPLOAD_PAGE, IDC_SHARE_PAGE}) {
    Click(page);
    if (page == IDC_SHARE_PAGE) Drop({PathOf("notes.txt")});
    EXPECT_EQ(m_dlg->DropArea()->ImagePath(), QStringLiteral("ban.png")) << page;
    EXPECT_EQ(m_dlg->DropArea()->Caption(), noNetwork);
    EXPECT_EQ(Session().Address(), "");
    EXPECT_FALSE(QFile::exists(PathOf("1.bmp")));
  }
  SaveScreenshot(m_dlg.get(), QStringLiteral("no-network"));

  network = "192.168.1.9";
  m_dlg->CheckNetwork();  // what the window's timer runs
  EXPECT_EQ(Session().Address(), "http://192.168.1.9:8081/f?t=" + Session().Current().Token);
  EXPECT_EQ(DecodeQr(m_dir.Path() / "1.bmp"), Session().Address());
  EXPECT_EQ(m_dlg->DropArea()->Caption(), kScanDownload);
}

TEST_F(CMainDialogTest, OnlyLocalFilesAreTakenFromADrop) {
  Start();
  // A link that is no local file is not fetched: it is shared as its text.
  QMimeData data;
  data.setUrls({QUrl(QStringLiteral("http://192.0.2.1/a.jpg"))});
  const QPoint at = m_dlg->rect().center();
  QDragEnterEvent enter(at, Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
  QApplication::sendEvent(m_dlg.get(), &enter);
  EXPECT_TRUE(enter.isAccepted());
  QDropEvent drop(QPointF(at), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
  QApplication::sendEvent(m_dlg.get(), &drop);
  EXPECT_EQ(Session().Current().Kind, ItemKind::Text);
  EXPECT_EQ(ReadFile(Session().Current().Path), "http://192.0.2.1/a.jpg");

  // A folder given with a trailing slash is named by its last part.
  fs::create_directory(m_dir.Path() / "album");
  Drop({PathOf("album") + QLatin1Char('/')});
  EXPECT_EQ(Session().Current().Kind, ItemKind::Folder);
  EXPECT_EQ(Text(IDC_CAPTION), QStringLiteral("已分享 2 项，正在显示：album"));
}
