// The drop area: its geometry as arithmetic, and its canvas checked pixel by pixel.

#include <QFile>
#include <QFontDatabase>
#include <QFontInfo>
#include <QPainterPath>
#include <QTest>
#include <climits>

#include "GuiTestSupport.h"
#include "gui/DropArea.h"
#include "gui/DropAreaGeometry.h"
#include "gui/PictureFile.h"
#include "qr/QrCode.h"

using namespace marlix_test;

namespace {

const QRgb kWhite = 0xFFFFFFFF;
const QRgb kBlue = 0xFF0000FF;
const QColor kFill(0x30, 0x90, 0x30);
const QColor kCorner(0xFF, 0x00, 0x00);

// The bounding box of the blue pixels of a canvas; empty when there are none. Fails on any pixel of
// the band that is neither white, blue nor picture, which would be anti-aliased text.
QRect BluePixels(const QImage& canvas, int top, int bottom) {
  int left = INT_MAX, right = -1, first = INT_MAX, last = -1;
  for (int y = std::max(0, top); y < std::min(canvas.height(), bottom); ++y)
    for (int x = 0; x < canvas.width(); ++x) {
      const QRgb p = canvas.pixel(x, y);
      if (p == kBlue) {
        left = std::min(left, x), right = std::max(right, x);
        first = std::min(first, y), last = std::max(last, y);
      } else {
        EXPECT_TRUE(p == kWhite || p == kFill.rgba() || p == kCorner.rgba())
            << "pixel " << x << "," << y << " is " << std::hex << p;
      }
    }
  return right < 0 ? QRect() : QRect(QPoint(left, first), QPoint(right, last));
}

class CDropAreaTest : public ::testing::Test {
 protected:
  // A drop area whose client area (inside the 1-pixel border) is 500 x 400.
  CDropAreaTest() : m_area(nullptr, 1000) {
    m_area.resize(502, 402);
    m_area.show();
    EXPECT_TRUE(QTest::qWaitForWindowExposed(&m_area));
  }
  const QImage& Canvas() { return *m_area.Canvas(); }
  // The absolute path of a name in m_dir.
  QString PathOf(const std::string& name) const { return QString::fromStdString((m_dir.Path() / name).string()); }

  CTempWorkDir m_dir;
  CDropArea m_area;
};

}  // namespace

TEST(DropAreaGeometry, LargePicturesShrinkIntoTheSquare) {
  EXPECT_EQ(FitPictureSize({264, 264}), (CSizeI{264, 264}));  // a version 4 code
  EXPECT_EQ(FitPictureSize({296, 296}), (CSizeI{264, 264}));  // version 5
  EXPECT_EQ(FitPictureSize({400, 200}), (CSizeI{264, 132}));
  EXPECT_EQ(FitPictureSize({200, 400}), (CSizeI{132, 264}));
  EXPECT_EQ(FitPictureSize({300, 300}), (CSizeI{264, 264}));
  EXPECT_EQ(FitPictureSize({265, 100}), (CSizeI{264, 99}));  // 264 / 2.65 = 99.6 truncated
  EXPECT_EQ(FitPictureSize({100, 30}), (CSizeI{100, 30}));   // never enlarged
}

TEST(DropAreaGeometry, PictureAndCaptionPositions) {
  EXPECT_EQ(PictureOrigin({500, 400}, {264, 264}), (CPointI{118, 68}));
  EXPECT_EQ(CaptionTop({500, 400}, {264, 264}), 48);
  EXPECT_DOUBLE_EQ(CenteredCaptionLeft(500, 150.5), 174.75);
  // Odd sizes: each halving rounds toward zero on its own.
  EXPECT_EQ(PictureOrigin({317, 318}, {264, 264}), (CPointI{26, 27}));
  EXPECT_EQ(CaptionTop({317, 319}, {263, 263}), 159 - 131 - 20);
  EXPECT_EQ(CaptionTop({100, 100}, {264, 264}), 50 - 132 - 20);
}

TEST_F(CDropAreaTest, LayoutTwoCaptionStartsAtThePictureEdge) {
  WritePicture(PathOf("pic.png"), 264, 264, kFill, kCorner);
  m_area.SetContent(PathOf("pic.png"), QStringLiteral("扫描二维码，下载文件到手机"), 2);
  ASSERT_NE(m_area.Canvas(), nullptr);
  ASSERT_EQ(Canvas().size(), QSize(500, 400));
  EXPECT_EQ(Canvas().pixel(118, 68), kCorner.rgba());
  EXPECT_EQ(Canvas().pixel(119, 68), kFill.rgba());
  EXPECT_EQ(Canvas().pixel(117, 68), kWhite);
  EXPECT_EQ(Canvas().pixel(118, 67), kWhite);
  EXPECT_EQ(Canvas().pixel(381, 331), kFill.rgba());
  EXPECT_EQ(Canvas().pixel(382, 331), kWhite);
  EXPECT_EQ(Canvas().pixel(381, 332), kWhite);

  const QRect text = BluePixels(Canvas(), 0, 400);
  ASSERT_FALSE(text.isEmpty());
  EXPECT_GE(text.left(), 118);
  EXPECT_LE(text.left(), 120);
  EXPECT_GE(text.top(), 48);
  EXPECT_LT(text.bottom(), 68);
  EXPECT_GT(text.width(), 13 * 10);  // thirteen glyphs of 13 pixels

  // Painting copies the canvas inside the border.
  const QImage shown = m_area.grab().toImage().convertToFormat(QImage::Format_ARGB32);
  EXPECT_EQ(shown.pixel(1 + 118, 1 + 68), kCorner.rgba());
  EXPECT_EQ(shown.copy(1, 1, 500, 400), Canvas());
}

TEST_F(CDropAreaTest, LayoutOneCaptionIsCentredByItsOutline) {
  WritePicture(PathOf("pic.png"), 200, 150, kFill, kCorner);
  const QString caption = QStringLiteral("将文件(夹)拖放到此处");
  m_area.SetContent(PathOf("pic.png"), caption, 1);
  ASSERT_NE(m_area.Canvas(), nullptr);
  EXPECT_EQ(Canvas().pixel(150, 125), kCorner.rgba());
  const int top = 200 - 75 - 20;

  QPainterPath path;
  path.addText(QPointF(0, 0), CDropArea::CaptionFont(12), caption);
  const QRectF outline = path.boundingRect();
  EXPECT_DOUBLE_EQ(CDropArea::OutlineWidth(caption), outline.width());
  const double left = CenteredCaptionLeft(500, outline.width());
  const QRect text = BluePixels(Canvas(), 0, 400);
  ASSERT_FALSE(text.isEmpty());
  EXPECT_NEAR(text.left(), left + outline.left(), 1.5);
  EXPECT_NEAR(text.right() + 1, left + outline.right(), 1.5);
  EXPECT_GE(text.top(), top);
  EXPECT_LT(text.bottom(), 125);
}

TEST_F(CDropAreaTest, OtherLayoutsHaveNoCaption) {
  WritePicture(PathOf("pic.png"), 100, 100, kFill, kCorner);
  for (int layout : {0, 3}) {
    m_area.SetContent(PathOf("pic.png"), QStringLiteral("扫描二维码"), layout);
    ASSERT_NE(m_area.Canvas(), nullptr);
    EXPECT_TRUE(BluePixels(Canvas(), 0, 400).isEmpty()) << layout;
    EXPECT_EQ(Canvas().pixel(200, 150), kCorner.rgba());
  }
}

TEST_F(CDropAreaTest, WidePictureIsScaledAndCentred) {
  WritePicture(PathOf("wide.png"), 400, 200, kFill, kFill);
  m_area.SetContent(PathOf("wide.png"), QString(), 3);
  ASSERT_NE(m_area.Canvas(), nullptr);
  // 264 x 132 at (118, 134).
  EXPECT_EQ(Canvas().pixel(118, 134), kFill.rgba());
  EXPECT_EQ(Canvas().pixel(381, 265), kFill.rgba());
  EXPECT_EQ(Canvas().pixel(117, 200), kWhite);
  EXPECT_EQ(Canvas().pixel(382, 200), kWhite);
  EXPECT_EQ(Canvas().pixel(250, 133), kWhite);
  EXPECT_EQ(Canvas().pixel(250, 266), kWhite);
}

TEST_F(CDropAreaTest, MissingPictureKeepsTheOldCanvas) {
  WritePicture(PathOf("pic.png"), 100, 100, kFill, kCorner);
  m_area.SetContent(PathOf("pic.png"), QStringLiteral("旧"), 2);
  const QImage before = Canvas();
  m_area.SetContent(PathOf("missing.png"), QStringLiteral("新的说明"), 1);
  EXPECT_EQ(Canvas(), before);
  EXPECT_EQ(m_area.ImagePath(), PathOf("missing.png"));
  EXPECT_EQ(m_area.Caption(), QStringLiteral("新的说明"));
  EXPECT_EQ(m_area.Layout(), 1);
}

TEST_F(CDropAreaTest, QrBitmapIsDrawnWholeAndReleased) {
  const std::string address = "http://192.168.1.5:8081/f?t=1A2B3C4D";
  ASSERT_TRUE(WriteQrBitmap(PathOf("1.bmp"), address));
  CPictureFile bitmap;
  ASSERT_TRUE(bitmap.Load(PathOf("1.bmp")));
  ASSERT_EQ(bitmap.Image().size(), QSize(264, 264));  // version 4
  // Top-down rows are read top to bottom: every module where the code has it.
  CQrMatrix qr;
  ASSERT_TRUE(EncodeQr(address, qr));
  int wrong = 0;
  for (int y = 0; y < qr.width; ++y)
    for (int x = 0; x < qr.width; ++x)
      wrong += (bitmap.Image().pixel(x * 8 + 4, y * 8 + 4) == 0xFF000000) != qr.At(x, y);
  EXPECT_EQ(wrong, 0);

  m_area.SetContent(PathOf("1.bmp"), QStringLiteral("扫描二维码，下载文件到手机"), 2);
  EXPECT_TRUE(QFile::remove(PathOf("1.bmp")));
  ASSERT_NE(m_area.Canvas(), nullptr);
  EXPECT_TRUE(Canvas().save(PathOf("canvas.png")));
  EXPECT_EQ(DecodeQr(m_dir.Path() / "canvas.png"), address);
  SaveScreenshot(&m_area, QStringLiteral("drop-area-qr"));
}

TEST(CaptionFont, IsSongTiOrAChineseFamily) {
  const QFont font = CDropArea::CaptionFont(13);
  EXPECT_EQ(font.pixelSize(), 13);
  const QString family = QFontInfo(font).family();
  if (!QFontDatabase::families().contains(QStringLiteral("宋体"))) {
    EXPECT_TRUE(QFontDatabase::families(QFontDatabase::SimplifiedChinese).contains(family)) << family.toStdString();
  }
}
