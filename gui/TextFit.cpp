#include "gui/TextFit.h"

#include <QAbstractButton>
#include <QRadioButton>
#include <QStyle>
#include <QStyleOptionButton>
#include <algorithm>

int WidthForText(QAbstractButton* button) {
  QStyleOptionButton option;
  option.initFrom(button);
  option.text = button->text();
  const bool radio = qobject_cast<QRadioButton*>(button) != nullptr;
  const QRect room = button->style()->subElementRect(
      radio ? QStyle::SE_RadioButtonContents : QStyle::SE_PushButtonContents, &option, button);
  // A push button's text keeps half a character clear of the frame on either side.
  const int margin = radio ? 0 : button->fontMetrics().averageCharWidth() / 2;
  const int needed = button->fontMetrics().horizontalAdvance(button->text()) + 2 * margin;
  return button->width() + std::max(0, needed - room.width());
}
