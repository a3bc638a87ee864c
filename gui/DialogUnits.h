#pragma once
// The windows are laid out in layout units of their 8-point font, whose base units are 6 x 13
// pixels at 96 dpi (its average character is 6 pixels wide and 13 high): a horizontal unit is a
// quarter of the first, a vertical one an eighth of the second, so 4 x 8 units make 6 x 13 pixels.
// Conversions round halves away from zero.

#include <QRect>

inline constexpr int kDialogBaseUnitX = 6;
inline constexpr int kDialogBaseUnitY = 13;
// Pixel size of the controls' font: 8 points at 96 dpi is an 11-pixel em (8 * 96 / 72, rounded).
inline constexpr int kDialogFontPixels = 11;

// a * b / c rounded half away from zero (c > 0).
constexpr int MulDivRound(int a, int b, int c) {
  const long long p = static_cast<long long>(a) * b;
  return static_cast<int>(p >= 0 ? (p + c / 2) / c : -((-p + c / 2) / c));
}

constexpr int DluToPixelsX(int dlu) { return MulDivRound(dlu, kDialogBaseUnitX, 4); }
constexpr int DluToPixelsY(int dlu) { return MulDivRound(dlu, kDialogBaseUnitY, 8); }

// A control's rectangle: x, y, width and height, each converted on its own.
inline QRect DluRect(int x, int y, int width, int height) {
  return QRect(DluToPixelsX(x), DluToPixelsY(y), DluToPixelsX(width), DluToPixelsY(height));
}
