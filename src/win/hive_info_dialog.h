// The hive information window: the base block, dirty or clean, the
// transaction logs and what was applied at open, read-only.
#pragma once

#include <QDialog>

#include "ui_hive_info_dialog.h"

namespace cellbrook {

class HiveInfoDialog : public QDialog, public Ui::HiveInfoDialog {
  Q_OBJECT
 public:
  explicit HiveInfoDialog(QWidget* parent = nullptr);

  // The text to show, given by the caller before each showing.
  void SetInfo(const QString& text);
};

}  // namespace cellbrook
