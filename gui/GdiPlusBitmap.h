#pragma once
// Holds one picture loaded from a file. The file is read whole and closed by Load, so nothing keeps
// it open afterwards.

#include <QImage>
#include <QString>

class CGdiPlusBitmap {
 public:
  CGdiPlusBitmap() = default;
  virtual ~CGdiPlusBitmap() = default;
  CGdiPlusBitmap(const CGdiPlusBitmap&) = delete;
  CGdiPlusBitmap& operator=(const CGdiPlusBitmap&) = delete;

  // Drops the picture held, loads the file; true when it could be decoded.
  bool Load(const QString& path);
  const QImage& Image() const { return m_bitmap; }
  QImage& Image() { return m_bitmap; }

 private:
  QImage m_bitmap;
};
