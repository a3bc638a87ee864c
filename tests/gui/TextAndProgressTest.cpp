// Texts both ways and the upload's progress, against the window's real web service on loopback.

#include <QApplication>
#include <QClipboard>
#include <QDir>
#include <QDragEnterEvent>
#include <QLabel>
#include <QMimeData>
#include <QProgressBar>
#include <QPushButton>
#include <QTest>
#include <algorithm>
#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include "GuiTestSupport.h"
#include "app/SharedState.h"
#include "gui/DialogServices.h"
#include "gui/ReceivedTextBox.h"
#include "web/WebService.h"

using namespace marlix_test;

namespace {

class CWindowServiceTest : public CMainDialogTest {
 protected:
  void StartServed() {
    m_port = FreeLoopbackPort();
    DialogServices().ChoosePort = [p = std::to_string(m_port)] { return p; };
    DialogServices().StartServer = [](CMarlix& marlix, const std::string& p) {
      return marlix.StartWeb("127.0.0.1:" + p);
    };
    Start();
    ASSERT_NE(m_dlg->Server(), nullptr);
  }
  // The request sent from a thread while the window goes on handling its events.
  std::string Request(const std::string& request) {
    std::string reply;
    std::atomic<bool> done{false};
    std::thread phone([&] {
      reply = RawRequest(m_port, request);
      done = true;
    });
    EXPECT_TRUE(WaitFor([&] { return done.load(); }, 60000));
    phone.join();
    return reply;
  }
  static std::string PostText(const std::string& target, const std::string& type, const std::string& body) {
    return "POST " + target + " HTTP/1.1\r\nHost: 127.0.0.1\r\nContent-Type: " + type +
           "\r\nContent-Length: " + std::to_string(body.size()) + "\r\nConnection: close\r\n\r\n" + body;
  }
  int m_port = 0;
};

}  // namespace

TEST_F(CWindowServiceTest, TextFromThePhoneShowsAndItsButtonCopiesIt) {
  StartServed();
  const std::string text = "取件码 4711\nhttps://example.org/?a=1&b=<2>";
  EXPECT_NE(Request(PostText("/x?k=" + State().UploadSecret, "text/plain; charset=utf-8", text)).find("200 OK"),
            std::string::npos);
  ASSERT_TRUE(WaitFor([&] { return m_dlg->ReceivedTextBox() && m_dlg->ReceivedTextBox()->isVisible(); }));
  EXPECT_EQ(m_dlg->ReceivedTextBox()->Text(), QString::fromStdString(text));
  QApplication::clipboard()->clear();
  QTest::mouseClick(m_dlg->ReceivedTextBox()->CopyButton(), Qt::LeftButton);
  EXPECT_EQ(QApplication::clipboard()->text(), QString::fromStdString(text));
}

TEST_F(CWindowServiceTest, PastedOrDroppedTextIsSharedAsAPage) {
  StartServed();
  enum class How { Paste, Drop, DropLink };
  const struct {
    How how;
    std::string text;
    bool shared;
  } cases[] = {
      {How::Paste, "粘贴的 <b>文字</b>", true},
      {How::Drop, "dropped & text", true},
      {How::DropLink, "https://example.org/page", true},
      {How::Paste, std::string(64 * 1024 + 1, 'x'), false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text.substr(0, 30));
    m_messages.clear();
    const size_t itemsBefore = Session().Items().size();
    const QString text = QString::fromStdString(c.text);
    if (c.how == How::Paste) {
      QApplication::clipboard()->setText(text);
      QTest::keyClick(m_dlg.get(), Qt::Key_V, Qt::ControlModifier);
    } else {
      QMimeData data;
      if (c.how == How::DropLink)
        data.setUrls({QUrl(text)});  // a link from a browser: text, but no local file
      else
        data.setText(text);
      const QPoint at = m_dlg->rect().center();
      QDragEnterEvent enter(at, Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
      QApplication::sendEvent(m_dlg.get(), &enter);
      EXPECT_TRUE(enter.isAccepted());
      QDropEvent drop(QPointF(at), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
      QApplication::sendEvent(m_dlg.get(), &drop);
    }
    if (!c.shared) {
      EXPECT_EQ(Session().Items().size(), itemsBefore);
      EXPECT_EQ(m_messages.size(), 1);
      continue;
    }
    const std::string token = Session().Current().Token;
    ASSERT_FALSE(token.empty());
    EXPECT_EQ(Session().Address(), "http://192.168.1.5:" + std::to_string(m_port) + "/m?t=" + token);
    std::string escaped = QString(text).toHtmlEscaped().toStdString();
    const std::string page = Request("GET /m?t=" + token + " HTTP/1.0\r\n\r\n");
    EXPECT_NE(page.find("200 OK"), std::string::npos);
    EXPECT_NE(page.find(escaped), std::string::npos) << page.substr(0, 400);
  }
  m_dlg->ShutDown();
  EXPECT_FALSE(QDir(PathOf(".texts")).exists());
}

// Both routes a phone's upload takes: the multipart receiver, and the upload page's resumable pieces.
TEST_F(CWindowServiceTest, UploadProgressFollowsTheBytes) {
  StartServed();
  QDir().mkdir(PathOf("tmp"));  // made by the working directory's preparation in the program
  Click(IDC_UPLOAD_PAGE);
  auto* bar = qobject_cast<QProgressBar*>(Item(IDC_PROGRESS));
  ASSERT_NE(bar, nullptr);
  auto* caption = qobject_cast<QLabel*>(Item(IDC_CAPTION));
  const std::string data(32 << 20, 'b');

  for (const bool resumable : {false, true}) {
    SCOPED_TRACE(resumable ? "/r" : "/u");
    const std::string name = resumable ? "big-r.bin" : "big.bin";
    std::vector<int> values;
    const QMetaObject::Connection watch =
        QObject::connect(bar, &QProgressBar::valueChanged, [&](int v) { values.push_back(v); });
    std::vector<QString> captions;
    std::atomic<bool> done{false};
    std::string reply;
    std::thread phone([&] {
      if (resumable) {
        // Started, then sent in four pieces of 8 MiB, as the upload page sends a file.
        const std::string started = RawRequest(
            m_port,
            PostText("/r?name=" + name + "&size=" + std::to_string(data.size()) + "&mtime=1&k=" + State().UploadSecret,
                     "application/octet-stream", ""));
        const size_t at = started.find("\"id\":\"") + 6;
        const std::string id = started.substr(at, started.find('"', at) - at);
        for (size_t offset = 0; offset < data.size(); offset += 8 << 20) {
          reply = RawRequest(m_port, "PUT /r?id=" + id + "&offset=" + std::to_string(offset) +
                                         "&k=" + State().UploadSecret +
                                         " HTTP/1.1\r\nHost: 127.0.0.1\r\nContent-Length: " + std::to_string(8 << 20) +
                                         "\r\n\r\n" + data.substr(offset, 8 << 20));
        }
      } else {
        const std::string boundary = "----marlixprogress";
        const std::string body = "--" + boundary + "\r\nContent-Disposition: form-data; name=\"file\"; filename=\"" +
                                 name + "\"\r\nContent-Type: application/octet-stream\r\n\r\n" + data + "\r\n--" +
                                 boundary + "--\r\n";
        reply = RawRequest(m_port,
                           PostText("/u?k=" + State().UploadSecret, "multipart/form-data; boundary=" + boundary, body));
      }
      done = true;
    });
    while (!done) {
      QTest::qWait(5);
      if (captions.empty() || captions.back() != caption->text()) captions.push_back(caption->text());
    }
    phone.join();
    QTest::qWait(50);
    QObject::disconnect(watch);
    ASSERT_FALSE(values.empty()) << reply;
    EXPECT_EQ(values.back(), 100);
    int between = 0;
    for (size_t i = 0; i < values.size(); ++i) {
      if (values[i] > 1 && values[i] < 100) ++between;
      if (i > 0 && values[i] != 0) {
        EXPECT_GE(values[i], values[i - 1]);
      }
    }
    EXPECT_GE(between, 10);  // the bar follows the bytes, queued: most steps arrive
    // The file's name while it arrives.
    EXPECT_NE(std::find(captions.begin(), captions.end(), QString::fromStdString("正在上传: " + name)), captions.end());
    // Once it is stored the page's own caption comes back.
    EXPECT_TRUE(WaitFor([&] { return caption->text() == QStringLiteral("等待从手机上传文件..."); }))
        << caption->text().toStdString();
  }
}
