#pragma once
// Where the drop area puts its picture and caption: pure arithmetic, apart from the drawing.

// Largest picture side drawn unscaled, and the distance from the caption's top to the picture's top.
inline constexpr int kLargestPictureSide = 264;
inline constexpr int kCaptionGap = 20;

struct CSizeI {
  int Width = 0;
  int Height = 0;
  bool operator==(const CSizeI&) const = default;
};

struct CPointI {
  int X = 0;
  int Y = 0;
  bool operator==(const CPointI&) const = default;
};

// A picture with a side above 264 pixels shrinks into the 264-pixel square keeping its aspect
// ratio (truncated); smaller pictures keep their size.
CSizeI FitPictureSize(CSizeI picture);

// Top-left corner of the (fitted) picture centred on a canvas; integer halves round toward zero.
CPointI PictureOrigin(CSizeI canvas, CSizeI picture);

// Top of the caption: 20 pixels above the picture's top, as ch / 2 - ih / 2 - 20.
int CaptionTop(CSizeI canvas, CSizeI picture);

// Left of a layout-1 caption, centred by the width of its glyph outlines.
double CenteredCaptionLeft(int canvasWidth, double outlineWidth);
