#pragma once
// Controls laid out for the Chinese texts may be too narrow for a translation or a larger font: the
// width a button needs so that its text fits inside its contents, in its style.

class QAbstractButton;

// A push button keeps half a character of room on either side of its text. Never less than the
// button's width now.
int WidthForText(QAbstractButton* button);
