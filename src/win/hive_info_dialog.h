// The hive information window: the base block, dirty or clean, the
// transaction logs and what was applied at open, read-only; and the
// history of the log entries, any of which can be shown.
#pragma once

#include <QDialog>
#include <QStringList>

#include "ui_hive_info_dialog.h"

namespace cellbrook {

class HiveInfoDialog : public QDialog, public Ui::HiveInfoDialog {
  Q_OBJECT
 public:
  explicit HiveInfoDialog(QWidget* parent = nullptr);

  // The text to show, given by the caller before each showing.
  void SetInfo(const QString& text);
  // The log entries that apply, one a line; none hides the list.
  void SetHistory(const QStringList& entries);

 signals:
  // The user chose to see the hive after the entry at `index` (the dialog closes).
  void entryChosen(int index);

 private:
  void ShowEntry();
};

}  // namespace cellbrook
