#pragma once
// The drop area: one picture centred on a white field with blue caption text just above it, wrapped
// into as many lines as its room needs (the last line where a one-line caption stands). Each
// SetContent composes a canvas once; painting only copies that canvas.

#include <QFrame>
#include <QImage>
#include <QString>
#include <QStringList>
#include <memory>

#include "gui/DropAreaGeometry.h"

class CDropArea : public QFrame {
 public:
  // A bordered child control with the given id.
  CDropArea(QWidget* parent, int id);
  ~CDropArea() override;

  // The folder that relative picture names are found in (the working directory); empty: as given.
  void SetFolder(const QString& folder) { m_strFolder = folder; }
  // Shows a picture file (relative to the folder) with a caption: layout 1 centres the
  // caption over the whole width (12-pixel font), layout 2 starts it at the picture's left edge
  // (13-pixel font), any other layout shows no caption. A picture that cannot be loaded keeps the
  // previous canvas. The new content is on screen when the call returns.
  void SetContent(const QString& imagePath, const QString& caption, int layout);

  const QString& ImagePath() const { return m_strImagePath; }
  const QString& Caption() const { return m_strCaption; }
  int Layout() const { return m_nLayout; }
  // The composed canvas; null before the first successful composition.
  const QImage* Canvas() const { return m_pCanvas.get(); }

  // The caption font of a layout: "宋体" where the system has it, else a CJK family that it has.
  static QFont CaptionFont(int pixelSize);
  // Width of the caption's glyph outlines at the 12-pixel font (the layout-1 measure).
  static double OutlineWidth(const QString& caption);
  // The caption's lines on a canvas with a (fitted) picture of that size: wrapped at word boundaries,
  // or anywhere in a word longer than a line, to the layout's room (layout 1 the canvas less a margin
  // on either side, layout 2 from the picture's left edge to the margin on the right).
  static QStringList CaptionLines(const QString& caption, int layout, CSizeI canvas, CSizeI picture);
  // True when those lines fit the canvas above the picture, each within its room.
  static bool CaptionFits(const QString& caption, int layout, CSizeI canvas, CSizeI picture);

 protected:
  void paintEvent(QPaintEvent* event) override;

 private:
  void Compose();

  QString m_strFolder;
  QString m_strImagePath;
  QString m_strCaption;
  std::unique_ptr<QImage> m_pCanvas;
  int m_nLayout = 0;
};
