// The forms' font: "MS Sans Serif" of 8 points, a character height of 11
// pixels, whatever font stands in for it here.
#pragma once

#include <QFont>
#include <QWidget>

namespace cellbrook {

inline void UseFormFont(QWidget* form) {
  QFont f = form->font();
  f.setPixelSize(11);
  form->setFont(f);
}

}  // namespace cellbrook
