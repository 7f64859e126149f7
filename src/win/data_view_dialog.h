// The data view: one value's whole data, read-only, as a hex dump and, for
// text types, as the decoded text; the shown page can be copied.
#pragma once

#include <QDialog>

#include "hive/hive_reader.h"
#include "ui_data_view.h"

namespace cellbrook {

// Bytes the hex dump shows at most; the rest is left to "Save value".
constexpr uint32_t kDataViewBytes = 4u << 20;

class DataViewDialog : public QDialog {
  Q_OBJECT
 public:
  explicit DataViewDialog(QWidget* parent = nullptr);

  // Fills the dialog from the value; nothing of it is kept.
  void ShowValue(const QString& caption, const ValueInfo& value, bool deletedRecord = false);

 public slots:
  void CopyClick();
  void CloseClick();

 private:
  Ui::DataViewDialog ui_;
};

}  // namespace cellbrook
