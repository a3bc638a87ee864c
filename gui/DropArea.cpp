#include "gui/DropArea.h"

#include <QFontDatabase>
#include <QPainter>
#include <QPainterPath>
#include <QTextLayout>
#include <algorithm>

#include "gui/DropAreaGeometry.h"
#include "gui/PictureFile.h"

namespace {

const QColor kBackground(0xFF, 0xFF, 0xFF);
const QColor kCaptionColour(0x00, 0x00, 0xFF);
// Room kept clear between a caption and the canvas's side.
constexpr int kCaptionMargin = 4;

// The caption's family, looked up once: "宋体" (or its Latin name), else the first family that
// writes Simplified Chinese, preferring WenQuanYi.
QString CaptionFamily() {
  static const QString family = [] {
    const QStringList families = QFontDatabase::families();
    for (const QString& wanted : {QStringLiteral("宋体"), QStringLiteral("SimSun")})
      if (families.contains(wanted)) return wanted;
    const QStringList chinese = QFontDatabase::families(QFontDatabase::SimplifiedChinese);
    for (const QString& f : chinese)
      if (f.startsWith(QStringLiteral("WenQuanYi Micro Hei")) && !f.contains(QStringLiteral("Mono"))) return f;
    return chinese.isEmpty() ? QStringLiteral("宋体") : chinese.first();
  }();
  return family;
}

// Draws one caption line whose top-left corner is at (x, y).
void DrawCaption(QPainter& painter, const QFont& font, double x, int y, const QString& text) {
  painter.setFont(font);
  painter.setPen(kCaptionColour);
  const QFontMetricsF metrics(font);
  painter.drawText(QPointF(x, y + metrics.ascent()), text);
}

}  // namespace

CDropArea::CDropArea(QWidget* parent, int id) : QFrame(parent) {
  setProperty("controlId", id);
  setFrameStyle(QFrame::Box | QFrame::Plain);
  setLineWidth(1);
}

CDropArea::~CDropArea() {
  m_pCanvas.reset();
  m_strCaption.clear();
  m_strImagePath.clear();
}

QFont CDropArea::CaptionFont(int pixelSize) {
  QFont font(CaptionFamily());
  font.setPixelSize(pixelSize);
  font.setWeight(QFont::Normal);
  font.setStyle(QFont::StyleNormal);
  // One bit per pixel, no grid fitting.
  font.setStyleStrategy(QFont::StyleStrategy(QFont::NoAntialias | QFont::NoSubpixelAntialias));
  font.setHintingPreference(QFont::PreferNoHinting);
  return font;
}

double CDropArea::OutlineWidth(const QString& caption) {
  QPainterPath path;
  path.addText(QPointF(0, 0), CaptionFont(12), caption);
  return path.boundingRect().width();
}

namespace {

QFont LayoutFont(int layout) { return CDropArea::CaptionFont(layout == 2 ? 13 : 12); }

int CaptionRoom(int layout, CSizeI canvas, CSizeI picture) {
  const int left = layout == 2 ? PictureOrigin(canvas, picture).X : kCaptionMargin;
  return canvas.Width - left - kCaptionMargin;
}

}  // namespace

QStringList CDropArea::CaptionLines(const QString& caption, int layout, CSizeI canvas, CSizeI picture) {
  QStringList lines;
  if (caption.isEmpty() || (layout != 1 && layout != 2)) return lines;
  QTextLayout text(caption, LayoutFont(layout));
  QTextOption option;
  option.setWrapMode(QTextOption::WrapAtWordBoundaryOrAnywhere);
  text.setTextOption(option);
  text.beginLayout();
  for (QTextLine line = text.createLine(); line.isValid(); line = text.createLine()) {
    line.setLineWidth(std::max(1, CaptionRoom(layout, canvas, picture)));
    lines << caption.mid(line.textStart(), line.textLength()).trimmed();
  }
  text.endLayout();
  return lines;
}

bool CDropArea::CaptionFits(const QString& caption, int layout, CSizeI canvas, CSizeI picture) {
  const QStringList lines = CaptionLines(caption, layout, canvas, picture);
  const QFontMetricsF metrics(LayoutFont(layout));
  const int room = CaptionRoom(layout, canvas, picture);
  for (const QString& line : lines)
    if (metrics.horizontalAdvance(line) > room) return false;
  const double first = CaptionTop(canvas, picture) - (lines.size() - 1) * metrics.lineSpacing();
  return lines.isEmpty() || first >= 0;
}

void CDropArea::SetContent(const QString& imagePath, const QString& caption, int layout) {
  m_strImagePath = imagePath;
  m_strCaption = caption;
  m_nLayout = layout;
  Compose();
  update();
  repaint();
}

void CDropArea::Compose() {
  auto picture = std::make_unique<CPictureFile>();
  const bool relative = !m_strFolder.isEmpty() && !m_strImagePath.startsWith(QLatin1Char('/'));
  if (!picture->Load(relative ? m_strFolder + QLatin1Char('/') + m_strImagePath : m_strImagePath)) return;

  const QSize client = contentsRect().size();
  const CSizeI canvasSize{client.width(), client.height()};
  m_pCanvas = std::make_unique<QImage>(client, QImage::Format_ARGB32);
  QPainter painter(m_pCanvas.get());
  painter.fillRect(0, 0, canvasSize.Width, canvasSize.Height, kBackground);

  QImage& image = picture->Image();
  const CSizeI fitted = FitPictureSize({image.width(), image.height()});
  if (fitted.Width != image.width() || fitted.Height != image.height())
    image = image.scaled(fitted.Width, fitted.Height, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);

  const CPointI origin = PictureOrigin(canvasSize, fitted);
  painter.drawImage(QPoint(origin.X, origin.Y), image);

  painter.setRenderHint(QPainter::TextAntialiasing, false);
  painter.setRenderHint(QPainter::Antialiasing, false);
  // The last line stands where a one-line caption does; the others above it.
  const QStringList lines = CaptionLines(m_strCaption, m_nLayout, canvasSize, fitted);
  const int spacing = static_cast<int>(QFontMetricsF(LayoutFont(m_nLayout)).lineSpacing());
  int top = CaptionTop(canvasSize, fitted) - static_cast<int>(lines.size() - 1) * spacing;
  for (const QString& line : lines) {
    const double left = m_nLayout == 2 ? origin.X : CenteredCaptionLeft(canvasSize.Width, OutlineWidth(line));
    DrawCaption(painter, LayoutFont(m_nLayout), left, top, line);
    top += spacing;
  }
  painter.end();
  picture.reset();  // releases the picture
}

void CDropArea::paintEvent(QPaintEvent* event) {
  QFrame::paintEvent(event);
  if (!m_pCanvas) return;
  QPainter painter(this);
  const QRect client = contentsRect();
  painter.fillRect(client, kBackground);
  const QPointF at(client.left() + (client.width() - m_pCanvas->width()) * 0.5,
                   client.top() + (client.height() - m_pCanvas->height()) * 0.5);
  painter.drawImage(at, *m_pCanvas);
}
