#include "win/data_view_dialog.h"

#include <QApplication>
#include <QClipboard>
#include <QFontDatabase>
#include <QHeaderView>
#include <QTextBlock>
#include <algorithm>

#include "present/data_interpreter.h"
#include "present/data_text.h"
#include "present/value_text.h"
#include "win/deleted_tree.h"
#include "win/form_font.h"

namespace cellbrook {
namespace {

// "de ad be ef" or "deadbeef" as bytes; false when it is not hex bytes.
bool ParseHexBytes(const QString& text, std::vector<uint8_t>& out) {
  QString digits = text;
  digits.remove(' ');
  if (digits.isEmpty() || digits.size() % 2 != 0) return false;
  out.clear();
  for (qsizetype i = 0; i < digits.size(); i += 2) {
    bool ok = false;
    const uint value = digits.mid(i, 2).toUInt(&ok, 16);
    if (!ok) return false;
    out.push_back(static_cast<uint8_t>(value));
  }
  return true;
}

}  // namespace

DataViewDialog::DataViewDialog(QWidget* parent) : QDialog(parent) {
  ui_.setupUi(this);
  UseFormFont(this);
  const QFont fixed = QFontDatabase::systemFont(QFontDatabase::FixedFont);
  ui_.HexView->setFont(fixed);
  ui_.TextView->setFont(fixed);
  ui_.Interpreter->header()->setSectionResizeMode(QHeaderView::ResizeToContents);
  connect(ui_.CopyButton, &QPushButton::clicked, this, &DataViewDialog::CopyClick);
  connect(ui_.CloseButton, &QPushButton::clicked, this, &DataViewDialog::CloseClick);
  connect(ui_.HexView, &QPlainTextEdit::cursorPositionChanged, this, &DataViewDialog::CursorMoved);
  connect(ui_.HexView, &QPlainTextEdit::selectionChanged, this, &DataViewDialog::CursorMoved);
  connect(ui_.GoButton, &QPushButton::clicked, this, &DataViewDialog::GoClick);
  connect(ui_.OffsetEdit, &QLineEdit::returnPressed, this, &DataViewDialog::GoClick);
  connect(ui_.FindButton, &QPushButton::clicked, this, &DataViewDialog::FindClick);
  connect(ui_.FindEdit, &QLineEdit::returnPressed, this, &DataViewDialog::FindClick);
}

void DataViewDialog::ShowValue(const QString& caption, const ValueInfo& value, bool deletedRecord) {
  ui_.ValueLabel->setText(QString("%1    %2    %3 bytes")
                              .arg(caption, QString::fromLatin1(ValueTypeName(value.Type)))
                              .arg(value.DataLength));
  bytes_.clear();
  ui_.HexView->clear();
  ui_.TextView->clear();
  const bool readable = value.Data.Readable();
  const bool text = readable && ShowsAsText(value.Type);
  ui_.Pages->setTabVisible(ui_.Pages->indexOf(ui_.TextPage), text);
  ui_.Pages->setCurrentWidget(text ? ui_.TextPage : ui_.HexPage);
  if (!readable) {
    ui_.DamageLabel->setText(deletedRecord ? QString(kDeletedDataGoneText)
                                           : QString("The data are damaged: they lie outside the file or their "
                                                     "segment list is cut short, so they cannot be shown."));
    ui_.DamageLabel->setVisible(true);
    CursorMoved();
    return;
  }
  std::vector<uint8_t> bytes = DataBytes(value.Data);
  const size_t shown = std::min<size_t>(bytes.size(), kDataViewBytes);
  ui_.DamageLabel->setVisible(shown < bytes.size());
  if (shown < bytes.size()) {
    ui_.DamageLabel->setText(QString("The first %1 bytes are shown; save the value for all of them.").arg(shown));
  }
  bytes.resize(shown);
  bytes_ = std::move(bytes);
  ui_.HexView->setPlainText(QString::fromStdString(HexDump(bytes_)));
  if (text) ui_.TextView->setPlainText(QString::fromStdString(DecodedText(value)));
  ShowBytes(0, 0);
  ui_.Pages->setCurrentWidget(text ? ui_.TextPage : ui_.HexPage);  // text types open on their text
  CursorMoved();
}

size_t DataViewDialog::CursorOffset() const {
  QTextCursor cursor = ui_.HexView->textCursor();
  const int position = cursor.hasSelection() ? cursor.selectionStart() : cursor.position();
  const QTextBlock block = ui_.HexView->document()->findBlock(position);
  return HexDumpByteAt(static_cast<size_t>(std::max(block.blockNumber(), 0)),
                       static_cast<size_t>(position - block.position()));
}

size_t DataViewDialog::SelectedBytes() const {
  const QTextCursor cursor = ui_.HexView->textCursor();
  if (!cursor.hasSelection()) return 0;
  // The last selected character belongs to the last byte.
  const int last = cursor.selectionEnd() - 1;
  const QTextBlock block = ui_.HexView->document()->findBlock(last);
  const size_t end = HexDumpByteAt(static_cast<size_t>(std::max(block.blockNumber(), 0)),
                                   static_cast<size_t>(last - block.position()));
  const size_t start = CursorOffset();
  return end >= start ? std::min(end, bytes_.empty() ? 0 : bytes_.size() - 1) - start + 1 : 0;
}

void DataViewDialog::ShowBytes(size_t offset, size_t length) {
  if (bytes_.empty()) return;
  offset = std::min(offset, bytes_.size() - 1);
  auto position = [this](size_t byte) {
    const DumpPlace place = HexDumpPlace(byte);
    const QTextBlock block = ui_.HexView->document()->findBlockByNumber(static_cast<int>(place.line));
    return block.position() + static_cast<int>(place.column);
  };
  QTextCursor cursor(ui_.HexView->document());
  cursor.setPosition(position(offset));
  if (length > 0) {
    const size_t last = std::min(offset + length, bytes_.size()) - 1;
    cursor.setPosition(position(last) + 2, QTextCursor::KeepAnchor);
  }
  ui_.Pages->setCurrentWidget(ui_.HexPage);
  ui_.HexView->setTextCursor(cursor);
  ui_.HexView->ensureCursorVisible();
}

void DataViewDialog::CursorMoved() {
  ui_.Interpreter->clear();
  if (bytes_.empty()) {
    ui_.CursorLabel->setText("No bytes to read.");
    return;
  }
  const size_t offset = std::min(CursorOffset(), bytes_.size() - 1);
  const size_t selected = SelectedBytes();
  ui_.CursorLabel->setText(
      selected > 0 ? QString("Offset 0x%1 (%2), %3 bytes selected").arg(offset, 0, 16).arg(offset).arg(selected)
                   : QString("Offset 0x%1 (%2)").arg(offset, 0, 16).arg(offset));
  QList<QTreeWidgetItem*> rows;
  for (const Interpretation& reading : InterpretBytes(bytes_, offset, selected)) {
    auto* row = new QTreeWidgetItem();
    row->setText(0, QString::fromStdString(reading.name));
    row->setText(1, QString::fromStdString(reading.little));
    row->setText(2, QString::fromStdString(reading.big));
    rows.push_back(row);
  }
  ui_.Interpreter->addTopLevelItems(rows);
}

void DataViewDialog::GoClick() {
  QString text = ui_.OffsetEdit->text().trimmed();
  if (text.startsWith("0x", Qt::CaseInsensitive)) text = text.mid(2);
  bool ok = false;
  const qulonglong offset = text.toULongLong(&ok, 16);
  if (!ok || offset >= bytes_.size()) {
    ui_.CursorLabel->setText(QString("No offset %1: the data hold %2 bytes (0 to 0x%3).")
                                 .arg(ui_.OffsetEdit->text())
                                 .arg(bytes_.size())
                                 .arg(bytes_.empty() ? 0 : bytes_.size() - 1, 0, 16));
    return;
  }
  ShowBytes(static_cast<size_t>(offset), 0);
}

void DataViewDialog::FindClick() {
  std::vector<std::vector<uint8_t>> needles;
  const QString text = ui_.FindEdit->text();
  if (ui_.FindHex->isChecked()) {
    std::vector<uint8_t> bytes;
    if (!ParseHexBytes(text, bytes)) {
      ui_.CursorLabel->setText("Type bytes in hex, such as \"de ad be ef\".");
      return;
    }
    needles.push_back(std::move(bytes));
  } else if (!text.isEmpty()) {
    // The text as 8-bit and as UTF-16LE bytes, whichever comes first.
    const QByteArray latin1 = text.toLatin1();
    needles.emplace_back(latin1.begin(), latin1.end());
    std::vector<uint8_t> utf16;
    for (QChar c : text) {
      utf16.push_back(static_cast<uint8_t>(c.unicode() & 0xFF));
      utf16.push_back(static_cast<uint8_t>(c.unicode() >> 8));
    }
    needles.push_back(std::move(utf16));
  }
  if (needles.empty() || bytes_.empty()) return;
  // After the cursor's byte when something is selected there (the last find).
  const size_t from = std::min(CursorOffset() + (SelectedBytes() > 0 ? 1 : 0), bytes_.size());
  size_t best = bytes_.size(), length = 0;
  for (const std::vector<uint8_t>& needle : needles) {
    const auto at =
        std::search(bytes_.begin() + static_cast<ptrdiff_t>(from), bytes_.end(), needle.begin(), needle.end());
    const size_t found = static_cast<size_t>(at - bytes_.begin());
    if (at != bytes_.end() && found < best) {
      best = found;
      length = needle.size();
    }
  }
  if (best == bytes_.size()) {
    ui_.CursorLabel->setText("Not found after offset 0x" + QString::number(from, 16) + ".");
    return;
  }
  ShowBytes(best, length);
}

void DataViewDialog::CopyClick() {
  const QPlainTextEdit* page = ui_.Pages->currentWidget() == ui_.TextPage ? ui_.TextView : ui_.HexView;
  QApplication::clipboard()->setText(page->toPlainText());
}

void DataViewDialog::CloseClick() { accept(); }

}  // namespace cellbrook
