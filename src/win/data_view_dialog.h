// The data view: one value's whole data, read-only, as a hex dump and, for
// text types, as the decoded text; the shown page can be copied. Below the
// dump, the interpreter reads the bytes at the cursor (or the selection)
// as numbers, times, GUID, SID and text; an offset can be gone to, and
// bytes (hex) or text found.
#pragma once

#include <QDialog>
#include <vector>

#include "hive/hive_reader.h"
#include "ui_data_view.h"

namespace cellbrook {

// Bytes the hex dump shows at most; the rest is left to "Save value".
constexpr uint32_t kDataViewBytes = 4u << 20;

class DataViewDialog : public QDialog {
  Q_OBJECT
 public:
  explicit DataViewDialog(QWidget* parent = nullptr);

  // Fills the dialog from the value; the shown bytes are copied.
  void ShowValue(const QString& caption, const ValueInfo& value, bool deletedRecord = false);

  // The byte at the dump's cursor, and how many are selected (0: none).
  size_t CursorOffset() const;
  size_t SelectedBytes() const;
  // Moves the dump's cursor to `offset` and selects `length` bytes there.
  void ShowBytes(size_t offset, size_t length);
  Ui::DataViewDialog& Form() { return ui_; }

 public slots:
  void CopyClick();
  void CloseClick();
  void CursorMoved();
  void GoClick();
  void FindClick();

 private:
  Ui::DataViewDialog ui_;
  std::vector<uint8_t> bytes_;
};

}  // namespace cellbrook
