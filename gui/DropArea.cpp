#include "gui/DropArea.h"

#include <QFontDatabase>
#include <QPainter>
#include <QPainterPath>

#include "gui/DropAreaGeometry.h"
#include "gui/PictureFile.h"

namespace {

const QColor kBackground(0xFF, 0xFF, 0xFF);
const QColor kCaptionColour(0x00, 0x00, 0xFF);

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
  const int captionTop = CaptionTop(canvasSize, fitted);
  if (m_nLayout == 2) {
    DrawCaption(painter, CaptionFont(13), origin.X, captionTop, m_strCaption);
  } else if (m_nLayout == 1) {
    const double left = CenteredCaptionLeft(canvasSize.Width, OutlineWidth(m_strCaption));
    DrawCaption(painter, CaptionFont(12), left, captionTop, m_strCaption);
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
