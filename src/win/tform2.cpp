#include "win/tform2.h"

#include "win/form_font.h"

#include <fcntl.h>
#include <unistd.h>

#include "export/registry_text_writer.h"
#include "win/tform1.h"

namespace cellbrook {

TForm2* Form2 = nullptr;

TForm2::TForm2(QWidget* parent) : QDialog(parent) {
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

void TForm2::Button2Click() { reject(); }

void TForm2::FormShow() {
  auto refuse = [this](const char* text) {
    Label2->setText(text);
    Label2->adjustSize();
    Button1->setEnabled(false);
  };
  KeyInfo key;
  if (Form1 == nullptr || !GetKeyInfo(Form1->Hive, key, ExportNode)) return refuse("[Invalid key]");
  NameBuffer[4095] = 0;
  const char* path = BuildKeyPath(Form1->Hive, key.Node, NameBuffer, 4095);
  if (path == nullptr) return refuse("[Failed ro resolve key path]");
  KeyPath = path + 4;  // without "ROOT"
  Label2->setText(QString::fromStdString(KeyPath));
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
  if (!Modal().SaveFile(this, SaveDialog1)) return;
  const std::string target = SaveDialog1.FileName.toStdString();
  const int fd = ::open(target.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
  if (fd < 0) {
    Modal().Message(this, "Unable to create target file!", "Cellbrook", BoxIcon::Error);
    return;
  }
  bool failed = false;
  try {
    ExportRegFile(Form1->Hive, prefix.toStdString() + KeyPath, fd, ExportNode);
  } catch (const ExportError&) {
    failed = true;
  } catch (const std::bad_alloc&) {
    failed = true;
  }
  // The file keeps what was written before a failure.
  if (::close(fd) != 0) failed = true;
  if (failed) {
    Modal().Message(this, "It's registry error occured!", "Error", BoxIcon::Error);
    return;
  }
  accept();
}

}  // namespace cellbrook
