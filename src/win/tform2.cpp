#include "win/tform2.h"

#include "win/form_font.h"

#include <QKeyEvent>
#include <exception>

#include "win/item_views_look.h"

namespace cellbrook {

TForm2* Form2 = nullptr;

TForm2::TForm2(QWidget* parent, KeyExporter exporter) : QDialog(parent), exporter_(exporter) {
  setupUi(this);
  UseFormFont(this);
  setWindowFlags(Qt::Tool | Qt::WindowTitleHint | Qt::WindowCloseButtonHint);
  setFixedSize(451, 206);
  Label2->adjustSize();
  SaveDialog1.FilterName = "Windows unicode registry files";
  SaveDialog1.FilterPattern = "*.reg";
  SaveDialog1.DefaultExtension = "reg";
  connect(Button1, &QPushButton::clicked, this, &TForm2::Button1Click);
  connect(Button2, &QPushButton::clicked, this, &TForm2::Button2Click);
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
    Label2->setText(text);
    Label2->adjustSize();
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
    Label2->setText(QString::fromStdString(KeyPath));
    Label2->adjustSize();
    Button1->setEnabled(true);
    return;
  }
  KeyInfo key;
  if (hive_ == nullptr || !GetKeyInfo(*hive_, key, key_)) return refuse("[Invalid key]");
  NameBuffer[4095] = 0;
  const char* path = BuildKeyPath(*hive_, key.Ref, NameBuffer, 4095);
  if (path == nullptr) return refuse("[Failed ro resolve key path]");
  KeyPath = path + 4;  // without "ROOT"
  Label2->setText(ShownName(QString::fromStdString(KeyPath)));
  Label2->adjustSize();
  Button1->setEnabled(true);
}

QString TForm2::RootPrefix() const {
  QString prefix = "ROOT";
  if (RadioButton1->isChecked()) prefix = "HKEY_CURRENT_USER";
  if (RadioButton2->isChecked()) prefix = "HKEY_LOCAL_MACHINE\\SYSTEM";
  if (RadioButton3->isChecked()) prefix = "HKEY_LOCAL_MACHINE\\SOFTWARE";
  if (RadioButton4->isChecked()) prefix = "HKEY_CLASSES_ROOT";
  return prefix;
}

void TForm2::Button1Click() {
  const QString prefix = RootPrefix();  // read before the file dialog
  if ((hive_ == nullptr && scan_ == nullptr && !patch_) || !Modal().SaveFile(this, SaveDialog1)) return;
  ExportOutcome outcome;
  try {
    outcome = patch_ ? patch_(prefix.toStdString(), SaveDialog1.FileName.toStdString())
              : scan_ != nullptr
                  ? ExportRecoveredKeysToFile(*scan_, std::span(&recoveredKey_, 1), false,
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
      Modal().Message(this, QString::fromStdString(outcome.message), "Cellbrook",
                      BoxIcon::Information);
      break;
    case ExportOutcome::Done:
      break;
  }
  accept();
}

}  // namespace cellbrook
