#include "win/tform2.h"

#include "win/form_font.h"

#include <QKeyEvent>
#include <QResizeEvent>
#include <exception>

#include "win/item_views_look.h"
#include "win/key_path.h"

namespace cellbrook {

TForm2* Form2 = nullptr;

TForm2::TForm2(QWidget* parent, KeyExporter exporter) : QDialog(parent), exporter_(exporter) {
  setupUi(this);
  UseFormFont(this);
  setWindowFlags(Qt::Tool | Qt::WindowTitleHint | Qt::WindowCloseButtonHint);
  // It may grow, for a long key path; the controls keep their design places
  // and widen with it.
  setMinimumSize(451, 222);
  resize(451, 222);
  SaveDialog1.FilterName = "Windows unicode registry files";
  SaveDialog1.FilterPattern = "*.reg";
  SaveDialog1.DefaultExtension = "reg";
  connect(Button1, &QPushButton::clicked, this, &TForm2::Button1Click);
  connect(Button2, &QPushButton::clicked, this, &TForm2::Button2Click);
  connect(Edit1, &QLineEdit::textEdited, this, [this] { RadioButton5->setChecked(true); });
}

void TForm2::resizeEvent(QResizeEvent* event) {
  QDialog::resizeEvent(event);
  const int grow = width() - 451, down = height() - 222;
  RadioGroup1->resize(433 + grow, 105);
  Edit1->resize(353 + grow, Edit1->height());
  for (QLabel* label : {Label1, Label3}) label->resize(std::max(label->sizeHint().width(), 430 + grow), 13);
  Button1->move(280 + grow, 192 + down);
  Button2->move(365 + grow, 192 + down);
  FitKeyPath();
}

void TForm2::ShowKeyPath(const QString& path) {
  shownPath_ = path;
  FitKeyPath();
}

void TForm2::FitKeyPath() {
  const int room = width() - 16;
  const QString shown = Label2->fontMetrics().elidedText(shownPath_, Qt::ElideMiddle, room);
  Label2->setText(shown);
  Label2->setToolTip(shown == shownPath_ ? QString() : shownPath_);
  Label2->resize(std::min(room, Label2->sizeHint().width()), 13);
}

void TForm2::StartHive(const QString& defaultPrefix) {
  SetExport(nullptr, KeyRef{});
  if (defaultPrefix.isEmpty()) return;
  for (QRadioButton* button : {RadioButton1, RadioButton2, RadioButton3, RadioButton4}) {
    if (button->text().startsWith(defaultPrefix + "\\ ")) {
      button->setChecked(true);
      return;
    }
  }
  Edit1->setText(defaultPrefix);
  RadioButton5->setChecked(true);
}

void TForm2::showEvent(QShowEvent* event) {
  QDialog::showEvent(event);
  FormShow();
}

void TForm2::keyPressEvent(QKeyEvent* event) {
  // Only Cancel, the close box or a finished export close the dialog.
  if (event->key() == Qt::Key_Escape) return;
  QDialog::keyPressEvent(event);
}

void TForm2::SetExport(const HiveImage* hive, KeyRef key) {
  hive_ = hive;
  key_ = key;
  scan_ = nullptr;
  patch_ = nullptr;
}

void TForm2::SetRecoveredExport(const DeletedScan* scan, uint32_t key) {
  hive_ = nullptr;
  key_ = KeyRef{};
  scan_ = scan;
  recoveredKey_ = key;
  patch_ = nullptr;
}

void TForm2::SetPatchExport(const QString& keyPath, PrefixWriter writer) {
  hive_ = nullptr;
  key_ = KeyRef{};
  scan_ = nullptr;
  patch_ = std::move(writer);
  patchPath_ = keyPath;
}

void TForm2::Button2Click() { reject(); }

void TForm2::FormShow() {
  auto refuse = [this](const char* text) {
    ShowKeyPath(text);
    Button1->setEnabled(false);
  };
  if (patch_) {
    KeyPath = patchPath_.toStdString();
    Label2->setText(patchPath_);
    Label2->adjustSize();
    Button1->setEnabled(true);
    return;
  }
  if (scan_ != nullptr) {
    if (recoveredKey_ >= scan_->keys.size()) return refuse("[Invalid key]");
    const DeletedKey& recovered = scan_->keys[recoveredKey_];
    if (recovered.pathKind != PathKind::Full) return refuse("[Partial key path: no place to restore it]");
    KeyPath = DeletedKeyPath(*scan_, recovered).substr(4);  // without "ROOT"
    ShowKeyPath(ShownName(QString::fromStdString(KeyPath)));
    Button1->setEnabled(true);
    return;
  }
  KeyInfo key;
  if (hive_ == nullptr || !GetKeyInfo(*hive_, key, key_)) return refuse("[Invalid key]");
  const char* path = WindowKeyPath(*hive_, key.Ref, NameBuffer);
  if (path == nullptr) return refuse("[Failed ro resolve key path]");
  KeyPath = path + 4;  // without "ROOT"
  // The root key: its path is the prefix alone.
  ShowKeyPath(KeyPath.empty() ? QString("\\ (the root key: the whole hive)")
                              : ShownName(QString::fromStdString(KeyPath)));
  Button1->setEnabled(true);
}

QString TForm2::RootPrefix() const {
  QString prefix = "ROOT";
  if (RadioButton1->isChecked()) prefix = "HKEY_CURRENT_USER";
  if (RadioButton2->isChecked()) prefix = "HKEY_LOCAL_MACHINE\\SYSTEM";
  if (RadioButton3->isChecked()) prefix = "HKEY_LOCAL_MACHINE\\SOFTWARE";
  if (RadioButton4->isChecked()) prefix = "HKEY_CLASSES_ROOT";
  if (RadioButton5->isChecked()) {
    QString typed = Edit1->text().trimmed();
    while (typed.endsWith('\\')) typed.chop(1);
    if (!typed.isEmpty()) prefix = typed;
  }
  return prefix;
}

void TForm2::Button1Click() {
  const QString prefix = RootPrefix();  // read before the file dialog
  if ((hive_ == nullptr && scan_ == nullptr && !patch_) || !Modal().SaveFile(this, SaveDialog1)) return;
  if (evidence_ != nullptr && evidence_->Refuses(SaveDialog1.FileName.toStdString())) {
    Modal().Message(this, kEvidenceRefusalText, "Cellbrook", BoxIcon::Error);
    return;
  }
  ExportOutcome outcome;
  try {
    outcome = patch_             ? patch_(prefix.toStdString(), SaveDialog1.FileName.toStdString())
              : scan_ != nullptr ? ExportRecoveredKeysToFile(*scan_, std::span(&recoveredKey_, 1), false,
                                                             prefix.toStdString(), SaveDialog1.FileName.toStdString())
                                 : exporter_(*hive_, key_, prefix.toStdString() + KeyPath, "ROOT" + KeyPath,
                                             SaveDialog1.FileName.toStdString());
  } catch (const std::exception& e) {  // whatever the export raises ends here
    outcome = {ExportOutcome::Failed, e.what()};
  } catch (...) {
    outcome = {ExportOutcome::Failed, "unknown failure"};
  }
  switch (outcome.status) {
    case ExportOutcome::CannotCreate:
      Modal().Message(this, "Unable to create target file!", "Cellbrook", BoxIcon::Error);
      return;
    case ExportOutcome::Failed:
      // A patch says why (a target that is one of the hives compared, say).
      Modal().Message(this, patch_ ? QString::fromStdString(outcome.message) : QString("It's registry error occured!"),
                      "Error", BoxIcon::Error);
      return;
    case ExportOutcome::Damaged:
      Modal().Message(this, QString::fromStdString(outcome.message), "Cellbrook", BoxIcon::Information);
      break;
    case ExportOutcome::Done:
      break;
  }
  accept();
}

}  // namespace cellbrook
