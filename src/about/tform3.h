// The About window: the program's name, version and purpose, a legal
// notice and two links.
#pragma once

#include <QDialog>

#include "ui_tform3.h"

namespace cellbrook {

class TForm3 : public QDialog, public Ui::TForm3 {
  Q_OBJECT
 public:
  explicit TForm3(QWidget* parent = nullptr);
};

extern TForm3* Form3;

}  // namespace cellbrook
