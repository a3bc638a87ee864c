// Every text the window shows fits its control, in Chinese and in English. The ctest entry
// gui.TextsFitAtDoubleScale runs this test again with QT_SCALE_FACTOR=2.

#include <QLabel>
#include <QPushButton>
#include <QRadioButton>
#include <QStyle>
#include <QStyleOptionButton>
#include <cstdlib>

#include "GuiTestSupport.h"
#include "gui/ReceivedTextBox.h"
#include "gui/SystemNotReadyDlg.h"
#include "gui/UiTranslation.h"

using namespace marlix_test;

namespace {

// The rectangle in which the control draws its text.
QRect TextRoom(QWidget* control, const QString& text) {
  if (auto* button = qobject_cast<QAbstractButton*>(control)) {
    QStyleOptionButton option;
    option.initFrom(button);
    option.text = text;
    const bool radio = qobject_cast<QRadioButton*>(control) != nullptr;
    return button->style()->subElementRect(radio ? QStyle::SE_RadioButtonContents : QStyle::SE_PushButtonContents,
                                           &option, button);
  }
  auto* label = qobject_cast<QLabel*>(control);
  const int inset = label->margin() + std::max(label->indent(), 0);
  return label->contentsRect().adjusted(inset, inset, -inset, -inset);
}

// Empty when the text fits; else what overflows, for the failure message.
std::string Overflow(QWidget* control, const QString& text) {
  const QRect room = TextRoom(control, text);
  const QFontMetrics metrics(control->font());
  const QStringList lines = text.split(QLatin1Char('\n'));
  int width = 0;
  for (const QString& line : lines) width = std::max(width, metrics.horizontalAdvance(line));
  const int height = static_cast<int>(lines.size()) * metrics.height();
  if (width <= room.width() && height <= room.height()) return {};
  return "\"" + text.toStdString() + "\" needs " + std::to_string(width) + " x " + std::to_string(height) + ", has " +
         std::to_string(room.width()) + " x " + std::to_string(room.height());
}

// A window text: the translation context and the source (Chinese) text, or an event's words.
constexpr int kWaitText = -2;  // the wait dialog's text

struct CShownText {
  int Control;
  const char* Context;  // nullptr: the line that CMarlixDlg::Words gives the event
  const char* Source;
  ViewEventId Event = ViewEventId::DownloadProgress;
};

const CShownText kTexts[] = {
    {IDC_STATUS, "CMarlixDlg", "手机和电脑在同一个无线(WIFI)网络下请使用此方式"},
    {IDC_STATUS, "CMarlixDlg", "外网直连方式，传输速度由宽带的【上行速度】决定"},
    {IDC_STATUS, nullptr, nullptr, ViewEventId::WanFailed},
    {IDC_STATUS, nullptr, nullptr, ViewEventId::WanBehindNat},
    {IDC_STATUS, "CMarlixDlg", "正在进行端口映射，请稍后再试"},
    {IDC_STATUS, "CMarlixDlg", "经云端中转，下完即删除，十分钟不下载，链接失效"},
    {IDC_STATUS, nullptr, nullptr, ViewEventId::NoRelaySet},
    {IDC_STATUS, nullptr, nullptr, ViewEventId::RelayFolderRefused},
    {IDC_STATUS, nullptr, nullptr, ViewEventId::RelayFileTooLarge},
    {IDC_STATUS, "CMarlixDlg", "正在关闭软件，请稍后..."},
    {IDC_CAPTION, "CMarlixDlg", "等待从手机上传文件..."},
    {IDC_CAPTION, nullptr, nullptr, ViewEventId::PackingStarted},
    {IDC_RECEIVED, nullptr, "99"},
    {kWaitText, "CSystemNotReadyDlg", kWaitInitialText},
    {kWaitText, "CMarlixDlg", "正在进行端口映射（打通外网）\r\n请稍等片刻..."},
    {kWaitText, "CMarlixDlg", "外网已经打通，可正常使用!"},
};

}  // namespace

TEST_F(CMainDialogTest, EveryTextFitsItsControlInBothLanguages) {
  const QString scale = qEnvironmentVariable("QT_SCALE_FACTOR", QStringLiteral("1"));
  for (const char* language : {"zh_CN", "en"}) {
    SCOPED_TRACE(language);
    ::setenv("LANGUAGE", language, 1);
    InstallUiTranslation(QStringLiteral(MARLIX_BINARY_DIR "/data"));
    ::unsetenv("LANGUAGE");
    Start();

    // The texts the controls are made with.
    for (QWidget* control : m_dlg->findChildren<QWidget*>(QString(), Qt::FindDirectChildrenOnly)) {
      if (!qobject_cast<QAbstractButton*>(control) && !qobject_cast<QLabel*>(control)) continue;
      const QString text = qobject_cast<QAbstractButton*>(control) ? static_cast<QAbstractButton*>(control)->text()
                                                                   : static_cast<QLabel*>(control)->text();
      EXPECT_EQ(Overflow(control, text), "") << control->property("controlId").toInt();
    }
    // The texts shown later.
    for (const CShownText& row : kTexts) {
      QString text =
          row.Context ? QCoreApplication::translate(row.Context, row.Source) : CMarlixDlg::Words({row.Event}).Line;
      text.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
      QWidget* control = row.Control == kWaitText ? m_dlg->WaitDialog()->findChild<QLabel*>() : Item(row.Control);
      EXPECT_EQ(Overflow(control, text), "") << text.toStdString();
    }
    // The received-text box, laid out by its own layout.
    m_dlg->ShowReceivedText("x");
    for (QAbstractButton* button : m_dlg->ReceivedTextBox()->findChildren<QAbstractButton*>())
      EXPECT_EQ(Overflow(button, button->text()), "") << button->text().toStdString();
    Click(IDC_UPLOAD_PAGE);
    SaveScreenshot(m_dlg.get(), QStringLiteral("fit-%1-x%2").arg(QString::fromLatin1(language), scale));
    m_dlg->ShutDown();
    m_dlg.reset();
    RemoveUiTranslation();
  }
}
