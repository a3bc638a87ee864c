// Every text the window shows fits its control, in Chinese and in English. The ctest entry
// gui.TextsFitAtDoubleScale runs this test again with QT_SCALE_FACTOR=2.

#include <QImage>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QStyle>
#include <QStyleOptionButton>
#include <cstdlib>

#include "GuiTestSupport.h"
#include "gui/DropArea.h"
#include "gui/PortOpeningWaitDlg.h"
#include "gui/ReceivedList.h"
#include "gui/ReceivedTextBox.h"
#include "gui/SettingsDlg.h"
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
    {IDC_CAPTION, nullptr, nullptr, ViewEventId::FileReceived},
    {kWaitText, "CPortOpeningWaitDlg", kWaitInitialText},
    {kWaitText, "CMarlixDlg", "正在进行端口映射（打通外网）\r\n请稍等片刻..."},
    {kWaitText, "CMarlixDlg", "外网已经打通，可正常使用!"},
};

// The drop area's captions, each over the picture it is shown with ("" for a QR code, which is
// drawn at most 264 pixels wide).
struct CAreaCaption {
  const char* Picture;
  int Layout;
  const char* Source;  // nullptr: the line that CMarlixDlg::Words gives the event
  CViewEvent Event = {};
};

const CAreaCaption kAreaCaptions[] = {
    {"dnd.png", 1, "将文件(夹)拖放到此处"},
    {"dnd.png", 2, "将文件(夹)拖放到此处"},
    {"ban.png", 1, "目前暂时不支持手机通过云中转上传文件到电脑"},
    {"ban.png", 1, "没有网络连接：请把本机连到手机所在的网络"},
    {"ban.png", 1, nullptr, {.Id = ViewEventId::NoRelaySet}},
    {"ban.png", 1, nullptr, {.Id = ViewEventId::RelayFailed, .Code = static_cast<int>(RelayFailure::NoConnection)}},
    {"ban.png", 1, nullptr, {.Id = ViewEventId::RelayFailed, .Code = static_cast<int>(RelayFailure::NoAnswer)}},
    {"", 2, "扫描二维码，下载文件到手机"},
    {"", 2, "扫描二维码，从手机上传文件到电脑"},
};

// Empty when every text of the settings dialog fits: its labels (wrapped ones to their width) and
// the example each empty field shows.
std::string SettingsOverflow(QWidget* parent, SharedState& state) {
  CSettingsDlg settings(state, {}, parent);
  settings.show();
  std::string overflow;
  for (QLabel* label : settings.findChildren<QLabel*>()) {
    const bool fits = label->wordWrap() ? label->heightForWidth(label->width()) <= label->height()
                                        : label->sizeHint().width() <= label->width();
    if (!fits) overflow += "\"" + label->text().toStdString() + "\" ";
  }
  for (QLineEdit* edit : settings.findChildren<QLineEdit*>()) {
    // The text room of a line edit: its contents less the frame's and the text's margins.
    const int room = edit->contentsRect().width() - 2 * edit->style()->pixelMetric(QStyle::PM_DefaultFrameWidth) - 4;
    if (edit->fontMetrics().horizontalAdvance(edit->placeholderText()) > room)
      overflow += "\"" + edit->placeholderText().toStdString() + "\" ";
  }
  return overflow;
}

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
    // Several items shared: the caption line names one of them.
    const QString several = QCoreApplication::translate("CMarlixDlg", "已分享 %1 项，正在显示：%2")
                                .arg(99)
                                .arg(QStringLiteral("report-2024.pdf"));
    EXPECT_EQ(Overflow(Item(IDC_CAPTION), several), "");
    // The drop area's captions, wrapped above their pictures.
    const QSize canvas = m_dlg->DropArea()->contentsRect().size();
    for (const CAreaCaption& row : kAreaCaptions) {
      const QString text =
          row.Source ? QCoreApplication::translate("CMarlixDlg", row.Source) : CMarlixDlg::Words(row.Event).Line;
      const QSize picture = *row.Picture ? QImage(QStringLiteral(MARLIX_SOURCE_DIR "/data/") + row.Picture).size()
                                         : QSize(kLargestPictureSide, kLargestPictureSide);
      ASSERT_FALSE(picture.isEmpty()) << row.Picture;
      EXPECT_TRUE(CDropArea::CaptionFits(text, row.Layout, {canvas.width(), canvas.height()},
                                         FitPictureSize({picture.width(), picture.height()})))
          << text.toStdString();
    }
    EXPECT_EQ(SettingsOverflow(m_dlg.get(), State()), "");
    // The received-text box, laid out by its own layout.
    m_dlg->ShowReceivedText("x");
    for (QAbstractButton* button : m_dlg->ReceivedTextBox()->findChildren<QAbstractButton*>())
      EXPECT_EQ(Overflow(button, button->text()), "") << button->text().toStdString();
    // The received list, with a file and a text in it.
    m_dlg->Report({.Id = ViewEventId::FileStored, .Name = "tmp/IMG_20240501_123456.jpg"});
    m_dlg->OpenReceivedList();
    for (QAbstractButton* button : m_dlg->ReceivedList()->findChildren<QAbstractButton*>())
      EXPECT_EQ(Overflow(button, button->text()), "") << button->text().toStdString();
    m_dlg->ReceivedList()->hide();
    Click(IDC_UPLOAD_PAGE);
    SaveScreenshot(m_dlg.get(), QStringLiteral("fit-%1-x%2").arg(QString::fromLatin1(language), scale));
    m_dlg->ShutDown();
    m_dlg.reset();
    RemoveUiTranslation();
  }
}
