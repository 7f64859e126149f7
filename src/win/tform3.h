// The About window: the program's name, version and purpose, a legal
// notice and two links.
#pragma once

#include <QDialog>

#include "ui_tform3.h"

namespace cellbrook {

// Where the two links lead until the product has a site of its own.
extern const char* const kMakerPage;
extern const char* const kRelatedProductPage;

class TForm3 : public QDialog, public Ui::TForm3 {
  Q_OBJECT
 public:
  explicit TForm3(QWidget* parent = nullptr);

 public slots:
  void Button1Click();
  void Label8Click();
  void Label6Click();

 protected:
  void showEvent(QShowEvent* event) override;
  void keyPressEvent(QKeyEvent* event) override;
};

extern TForm3* Form3;

}  // namespace cellbrook
