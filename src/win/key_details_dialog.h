// The key details window: a key's path, last written time, class name,
// flags, counts, cells, owner and group, its permissions one a row, and
// the SDDL with Copy. Read-only; the caller gives the details to show.
#pragma once

#include <QDialog>

#include "present/key_details.h"
#include "ui_key_details_dialog.h"

namespace cellbrook {

class KeyDetailsDialog : public QDialog, public Ui::KeyDetailsDialog {
  Q_OBJECT
 public:
  explicit KeyDetailsDialog(QWidget* parent = nullptr);

  // Fills the window; nothing of `details` is kept.
  void ShowDetails(const KeyDetails& details);

 public slots:
  void CopySddlClick();
};

}  // namespace cellbrook
