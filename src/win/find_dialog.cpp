#include "win/find_dialog.h"

#include "win/form_font.h"

namespace cellbrook {

FindDialog::FindDialog(QWidget* parent) : QDialog(parent) {
  ui_.setupUi(this);
  UseFormFont(this);
  setWindowFlags(Qt::Dialog | Qt::WindowTitleHint | Qt::WindowCloseButtonHint);
  connect(ui_.FindWhat, &QLineEdit::textChanged, this, &FindDialog::FindWhatChanged);
  for (QCheckBox* box : {ui_.LookAtKeys, ui_.LookAtValues, ui_.LookAtData}) {
    connect(box, &QCheckBox::toggled, this, &FindDialog::FindWhatChanged);
  }
  connect(ui_.FindNextButton, &QPushButton::clicked, this, &FindDialog::FindNextClick);
  connect(ui_.CancelButton, &QPushButton::clicked, this, &FindDialog::CancelClick);
}

// Typing goes to the text, whichever button closed the dialog last time.
void FindDialog::showEvent(QShowEvent* event) {
  QDialog::showEvent(event);
  ui_.FindWhat->setFocus();
  ui_.FindWhat->selectAll();
}

void FindDialog::SetOptions(const SearchOptions& options) {
  ui_.FindWhat->setText(QString::fromStdString(options.pattern));
  ui_.LookAtKeys->setChecked(options.keys);
  ui_.LookAtValues->setChecked(options.values);
  ui_.LookAtData->setChecked(options.data);
  ui_.MatchWholeString->setChecked(options.wholeString);
  ui_.FindWhat->selectAll();
  FindWhatChanged();
}

SearchOptions FindDialog::Options() const {
  SearchOptions options;
  options.pattern = ui_.FindWhat->text().toStdString();
  options.keys = ui_.LookAtKeys->isChecked();
  options.values = ui_.LookAtValues->isChecked();
  options.data = ui_.LookAtData->isChecked();
  options.wholeString = ui_.MatchWholeString->isChecked();
  options.ignoreCase = true;  // as the registry editor people know
  return options;
}

// Searching needs a text and somewhere to look.
void FindDialog::FindWhatChanged() {
  ui_.FindNextButton->setEnabled(
      !ui_.FindWhat->text().isEmpty() &&
      (ui_.LookAtKeys->isChecked() || ui_.LookAtValues->isChecked() || ui_.LookAtData->isChecked()));
}

void FindDialog::FindNextClick() {
  if (ui_.FindNextButton->isEnabled()) accept();
}

void FindDialog::CancelClick() { reject(); }

}  // namespace cellbrook
