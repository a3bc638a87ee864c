#include "gui/PictureFile.h"

bool CPictureFile::Load(const QString& path) {
  m_image = QImage();
  return m_image.load(path) && !m_image.isNull();
}
