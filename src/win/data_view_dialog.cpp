#include "win/data_view_dialog.h"

#include <QApplication>
#include <QClipboard>
#include <QFontDatabase>

#include "present/data_text.h"
#include "present/value_text.h"
#include "win/deleted_tree.h"
#include "win/form_font.h"

namespace cellbrook {

DataViewDialog::DataViewDialog(QWidget* parent) : QDialog(parent) {
  ui_.setupUi(this);
  UseFormFont(this);
  const QFont fixed = QFontDatabase::systemFont(QFontDatabase::FixedFont);
  ui_.HexView->setFont(fixed);
  ui_.TextView->setFont(fixed);
  connect(ui_.CopyButton, &QPushButton::clicked, this, &DataViewDialog::CopyClick);
  connect(ui_.CloseButton, &QPushButton::clicked, this, &DataViewDialog::CloseClick);
}

void DataViewDialog::ShowValue(const QString& caption, const ValueInfo& value, bool deletedRecord) {
  ui_.ValueLabel->setText(QString("%1    %2    %3 bytes")
                              .arg(caption, QString::fromLatin1(ValueTypeName(value.Type)))
                              .arg(value.DataLength));
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
    return;
  }
  const std::vector<uint8_t> bytes = DataBytes(value.Data);
  const size_t shown = std::min<size_t>(bytes.size(), kDataViewBytes);
  ui_.DamageLabel->setVisible(shown < bytes.size());
  if (shown < bytes.size()) {
    ui_.DamageLabel->setText(QString("The first %1 bytes are shown; save the value for all of them.")
                                 .arg(shown));
  }
  ui_.HexView->setPlainText(QString::fromStdString(HexDump(std::span(bytes).first(shown))));
  if (text) ui_.TextView->setPlainText(QString::fromStdString(DecodedText(value)));
}

void DataViewDialog::CopyClick() {
  const QPlainTextEdit* page = ui_.Pages->currentWidget() == ui_.TextPage ? ui_.TextView : ui_.HexView;
  QApplication::clipboard()->setText(page->toPlainText());
}

void DataViewDialog::CloseClick() { accept(); }

}  // namespace cellbrook
