#include "GuiTestSupport.h"

#include <QAbstractButton>
#include <QApplication>
#include <QDir>
#include <QDropEvent>
#include <QFile>
#include <QLabel>
#include <QMimeData>
#include <QPainter>
#include <QTest>
#include <cstdio>
#include <fstream>

#include "app/SharedState.h"
#include "gui/DialogServices.h"
#include "qr/QrCode.h"
#include "service/ServiceConfig.h"

namespace marlix_test {

std::atomic<int> CMainDialogTest::s_startupRuns{0};

void WritePicture(const QString& path, int width, int height, QColor fill, QColor corner) {
  QImage image(width, height, QImage::Format_RGB32);
  image.fill(fill);
  image.setPixelColor(0, 0, corner);
  ASSERT_TRUE(image.save(path, "PNG"));
}

bool WriteQrBitmap(const QString& path, const std::string& text) {
  CQrMatrix qr;
  if (!EncodeQr(text, qr)) return false;
  const int side = qr.width * 8;
  const int stride = (side * 3 + 3) / 4 * 4;
  const uint32_t imageSize = static_cast<uint32_t>(stride * side);
  std::string bmp(54, '\0');
  auto put32 = [&bmp](size_t at, uint32_t v) {
    for (int i = 0; i < 4; ++i) bmp[at + i] = static_cast<char>((v >> (8 * i)) & 0xFF);
  };
  bmp[0] = 'B';
  bmp[1] = 'M';
  put32(2, 54 + imageSize);
  put32(10, 54);
  put32(14, 40);
  put32(18, static_cast<uint32_t>(side));
  put32(22, static_cast<uint32_t>(-side));  // top-down rows
  bmp[26] = 1;
  bmp[28] = 24;
  put32(34, imageSize);
  for (int y = 0; y < side; ++y) {
    std::string row(static_cast<size_t>(stride), '\0');
    for (int x = 0; x < side; ++x) {
      const char v = qr.At(x / 8, y / 8) ? '\0' : static_cast<char>(0xFF);
      row[static_cast<size_t>(x) * 3] = row[static_cast<size_t>(x) * 3 + 1] = row[static_cast<size_t>(x) * 3 + 2] = v;
    }
    bmp += row;
  }
  std::ofstream out(path.toStdString(), std::ios::binary);
  out << bmp;
  return static_cast<bool>(out);
}

std::string DecodeQr(const std::string& path) {
  const std::string command = "zbarimg -q --raw --nodbus '" + path + "' 2>/dev/null";
  FILE* pipe = ::popen(command.c_str(), "r");
  if (!pipe) return {};
  std::string out;
  char buf[512];
  size_t n;
  while ((n = std::fread(buf, 1, sizeof buf, pipe)) > 0) out.append(buf, n);
  ::pclose(pipe);
  while (!out.empty() && (out.back() == '\n' || out.back() == '\r')) out.pop_back();
  return out;
}

void SaveScreenshot(QWidget* window, const QString& name) {
  QDir().mkpath(QStringLiteral(MARLIX_SCREENSHOT_DIR));
  const QString path = QStringLiteral(MARLIX_SCREENSHOT_DIR) + QLatin1Char('/') + name + QStringLiteral(".png");
  EXPECT_TRUE(window->grab().save(path, "PNG")) << path.toStdString();
}

bool WaitFor(const std::function<bool()>& condition, int timeoutMs) { return QTest::qWaitFor(condition, timeoutMs); }

void CMainDialogTest::SetUp() {
  m_marlix = std::make_unique<CMarlix>(m_dir.Path().string());
  ResetDialogServices();
  CDialogServices& s = DialogServices();
  s.MessageBox = [this](QWidget*, const QString& text) { m_messages << text; };
  s.OpenUrl = [this](const QUrl& url) { m_opened << url; };
  s.ExitProcess = [this](int code) { m_exitCodes.push_back(code); };
  s.ChoosePort = [] { return std::string("8081"); };
  s.StartServer = [this](CMarlix&, const std::string& port) {
    m_serverPorts.push_back(port);
    return false;
  };
  s.WanSetup = [](SharedState&) { return WanSetupResult::Failed; };
  s.RelayUpload = [this](CMarlix&, const CSharedItem& item) {
    m_relays.push_back(item.Token);
    return true;
  };
  s.StartupWork = [](SharedState&, CMainDialogView&, const CStopFlag&) { ++s_startupRuns; };
  s.SignOut = [this](const SharedState&) { ++m_signOuts; };
  s.AskToQuit = [this](QWidget*, bool&) {
    ++m_quitQuestions;
    return m_quitAnswer;
  };
  s.ChoosePaths = [this](QWidget*, bool folder) {
    m_chooserOpened.push_back(folder);
    return m_chosen;
  };

  // The pictures that ship beside the program, so that the screenshots show what users see.
  for (const char* name : {"dnd.png", "ban.png"}) {
    QFile::remove(PathOf(name));
    QFile::copy(QStringLiteral(MARLIX_SOURCE_DIR "/data/") + QString::fromUtf8(name), PathOf(name));
  }
}

void CMainDialogTest::TearDown() {
  if (m_dlg && !m_dlg->IsShutDown()) m_dlg->ShutDown();
  m_dlg.reset();
  ResetDialogServices();
  m_marlix.reset();
}

void CMainDialogTest::Start(const std::string& address) {
  m_dlg = std::make_unique<CMarlixDlg>(*m_marlix);
  ASSERT_TRUE(m_dlg->OnInitDialog());
  m_dlg->show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(m_dlg.get()));
  if (!address.empty()) State().LocalAddress.Set(address);
}

void CMainDialogTest::Drop(const QStringList& paths) {
  QList<QUrl> urls;
  for (const QString& p : paths) urls << QUrl::fromLocalFile(p);
  QMimeData data;
  data.setUrls(urls);
  const QPoint at = m_dlg->rect().center();
  QDragEnterEvent enter(at, Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
  QApplication::sendEvent(m_dlg.get(), &enter);
  ASSERT_TRUE(enter.isAccepted());
  QDragMoveEvent move(at, Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
  QApplication::sendEvent(m_dlg.get(), &move);
  QDropEvent drop(QPointF(at), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
  QApplication::sendEvent(m_dlg.get(), &drop);
}

void CMainDialogTest::Click(int id) {
  auto* button = qobject_cast<QAbstractButton*>(Item(id));
  ASSERT_NE(button, nullptr) << id;
  ASSERT_TRUE(button->isVisible() && button->isEnabled()) << id;
  QTest::mouseClick(button, Qt::LeftButton, Qt::NoModifier, button->rect().center());
}

QString CMainDialogTest::Text(int id) const {
  QWidget* w = Item(id);
  if (auto* label = qobject_cast<QLabel*>(w)) return label->text();
  if (auto* button = qobject_cast<QAbstractButton*>(w)) return button->text();
  return {};
}

bool CMainDialogTest::Checked(int id) const {
  auto* button = qobject_cast<QAbstractButton*>(Item(id));
  return button && button->isChecked();
}

}  // namespace marlix_test
