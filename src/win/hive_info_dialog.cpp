#include "win/hive_info_dialog.h"

#include <QFontDatabase>
#include <QListWidget>
#include <QPushButton>

namespace cellbrook {

HiveInfoDialog::HiveInfoDialog(QWidget* parent) : QDialog(parent) {
  setupUi(this);
  InfoText->setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
  connect(Buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
  connect(HistoryList, &QListWidget::currentRowChanged, this,
          [this](int row) { ShowEntryButton->setEnabled(row >= 0); });
  connect(HistoryList, &QListWidget::itemActivated, this, &HiveInfoDialog::ShowEntry);
  connect(ShowEntryButton, &QPushButton::clicked, this, &HiveInfoDialog::ShowEntry);
}

void HiveInfoDialog::SetHistory(const QStringList& entries) {
  HistoryList->clear();
  HistoryList->addItems(entries);
  HistoryList->setCurrentRow(-1);
  ShowEntryButton->setEnabled(false);
  for (QWidget* w : {static_cast<QWidget*>(HistoryLabel), static_cast<QWidget*>(HistoryList),
                     static_cast<QWidget*>(ShowEntryButton)}) {
    w->setVisible(!entries.isEmpty());
  }
}

void HiveInfoDialog::ShowEntry() {
  const int row = HistoryList->currentRow();
  if (row < 0) return;
  accept();
  emit entryChosen(row);
}

void HiveInfoDialog::SetInfo(const QString& text) {
  InfoText->setPlainText(text);
  Buttons->button(QDialogButtonBox::Close)->setFocus();
}

}  // namespace cellbrook
