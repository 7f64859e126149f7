// The export dialog: shows the key, takes the root prefix and the target
// file, and has the registry text writer export the key with its subtree.
#pragma once

#include <QDialog>

#include "ui_tform2.h"

namespace cellbrook {

class TForm2 : public QDialog, public Ui::TForm2 {
  Q_OBJECT
 public:
  explicit TForm2(QWidget* parent = nullptr);

  const uint8_t* ExportNode = nullptr;  // the key to export, set before each showing
};

extern TForm2* Form2;

}  // namespace cellbrook
