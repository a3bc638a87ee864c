#include "gui/DropAreaGeometry.h"

CSizeI FitPictureSize(CSizeI picture) {
  if (picture.Width <= kLargestPictureSide && picture.Height <= kLargestPictureSide) return picture;
  if (picture.Height <= 0) return picture;
  const double ratio = static_cast<double>(picture.Width) / static_cast<double>(picture.Height);
  if (picture.Width > picture.Height) return {kLargestPictureSide, static_cast<int>(kLargestPictureSide / ratio)};
  return {static_cast<int>(ratio * kLargestPictureSide), kLargestPictureSide};
}

CPointI PictureOrigin(CSizeI canvas, CSizeI picture) {
  return {(canvas.Width - picture.Width) / 2, (canvas.Height - picture.Height) / 2};
}

int CaptionTop(CSizeI canvas, CSizeI picture) { return canvas.Height / 2 - picture.Height / 2 - kCaptionGap; }

double CenteredCaptionLeft(int canvasWidth, double outlineWidth) { return (canvasWidth - outlineWidth) * 0.5; }
