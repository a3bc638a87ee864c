#include "gui/GdiPlusBitmap.h"

bool CGdiPlusBitmap::Load(const QString& path) {
  m_bitmap = QImage();
  return m_bitmap.load(path) && !m_bitmap.isNull();
}
