#pragma once
// Holds one picture loaded from a file. The file is read whole and closed by Load, so nothing keeps
// it open afterwards.

#include <QImage>
#include <QString>

class CPictureFile {
 public:
  CPictureFile() = default;
  virtual ~CPictureFile() = default;
  CPictureFile(const CPictureFile&) = delete;
  CPictureFile& operator=(const CPictureFile&) = delete;

  // Drops the picture held, loads the file; true when it could be decoded.
  bool Load(const QString& path);
  const QImage& Image() const { return m_image; }
  QImage& Image() { return m_image; }

 private:
  QImage m_image;
};
