// The Find dialog: what to look for and where. The main window runs the
// search with the options it hands back.
#pragma once

#include <QDialog>

#include "present/hive_search.h"
#include "ui_find_dialog.h"

namespace cellbrook {

class FindDialog : public QDialog {
  Q_OBJECT
 public:
  explicit FindDialog(QWidget* parent = nullptr);

  // What the dialog shows when it opens; the last options are kept.
  void SetOptions(const SearchOptions& options);
  // The text, the places ticked and whole-string matching; case is ignored.
  SearchOptions Options() const;

 public slots:
  void FindWhatChanged();
  void FindNextClick();
  void CancelClick();

 protected:
  void showEvent(QShowEvent* event) override;

 private:
  Ui::FindDialog ui_;
};

}  // namespace cellbrook
