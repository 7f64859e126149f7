// The main window's commands on disk images: Find hives in image, Save hive
// as, and the hint for a file whose base block is gone.
#include <fcntl.h>
#include <unistd.h>

#include "recover/carve/new_file.h"
#include "win/carve_dialog.h"
#include "win/tform1.h"

namespace cellbrook {

void TForm1::ConnectCarving() {
  ImageDialog1.FilterName = "Any disk image (raw, E01)";
  ImageDialog1.FilterPattern = "*";
  ImageDialog1.MustExist = true;
  HiveSaveDialog1.FilterName = "Any files";
  HiveSaveDialog1.FilterPattern = "*";
  connect(Findhivesinimage1, &QAction::triggered, this, &TForm1::Findhivesinimage1Click);
  connect(Savehiveas1, &QAction::triggered, this, &TForm1::Savehiveas1Click);
}

void TForm1::ShowOpenError(LoadOutcome outcome) {
  QString text = LoadOutcomeText(outcome);
  if (outcome == LoadOutcome::InvalidFormat) {
    uint8_t head[kBaseBlockSize + 32] = {};
    const int fd = ::open(FileName.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
    ssize_t n = fd >= 0 ? ::pread(fd, head, sizeof head, 0) : -1;
    if (fd >= 0) ::close(fd);
    if (n > 0 && StartsWithHiveBins({head, static_cast<size_t>(n)})) {
      text += "\n\nThe file holds hive bins: its base block is gone. File > Find hives in image... can "
              "rebuild it.";
    }
  }
  Modal().Message(this, text, "Error", BoxIcon::Error);
}

void TForm1::Findhivesinimage1Click() {
  if (!Modal().OpenFile(this, ImageDialog1)) return;
  CarveDialog dialog(ImageDialog1.FileName, this);
  dialog.setObjectName("CarveDialog1");
  if (!dialog.OpenError().isEmpty()) {
    Modal().Message(this, "The image cannot be read: " + dialog.OpenError(), "Error", BoxIcon::Error);
    return;
  }
  if (dialog.exec() != QDialog::Accepted) return;
  if (std::optional<CarvedChoice> choice = dialog.TakeChoice()) OpenCarvedHive(std::move(*choice));
}

void TForm1::OpenCarvedHive(CarvedChoice choice) {
  ListView1->clear();
  deletedTree_.Forget();
  deleted_.reset();
  FileImage = HiveBlock{};
  Recovery = RecoveryReport{};
  RecoveryApplied = false;
  CarvedOrigin = CarvedOriginText(choice);
  FileName = CarvedCaption(choice);
  HiveSaveDialog1.FileName = QString::fromStdString(CarvedFileName(choice.hive));
  Recovery.primary = ParseBaseBlock(choice.bytes);
  Recovery.primarySize = choice.bytes.size();
  Recovery.dirty = IsDirty(Recovery.primary);
  Recovery.dirtyReason = DirtyReason(Recovery.primary);
  if (!FileImage.Adopt(std::move(choice.bytes), Hive)) {
    ShowError(LoadOutcomeText(LoadOutcome::InvalidFormat));
    FileName.clear();
    CarvedOrigin.clear();
  }
  ResetKeyTree();
  if (Showdeletedkeysandvalues1->isChecked()) ShowDeletedNodes();
}

void TForm1::Savehiveas1Click() {
  if (!FileImage.Loaded()) return;
  if (!Modal().SaveFile(this, HiveSaveDialog1)) return;
  std::string error;
  const std::string target = HiveSaveDialog1.FileName.toStdString();
  // A new file only: nothing is written over an existing one, the hive's
  // own file and the image among them.
  switch (WriteNewFileAt(target, {FileImage.data(), FileImage.size}, error)) {
    case NewFileResult::Written:
      StatusPanel0->setText("Hive saved as " + HiveSaveDialog1.FileName);
      break;
    case NewFileResult::Exists:
      Modal().Message(this, HiveSaveDialog1.FileName + " exists and is not replaced: choose a new name.",
                      "Error", BoxIcon::Error);
      break;
    case NewFileResult::Failed:
      Modal().Message(this, "Can not write " + HiveSaveDialog1.FileName + ": " + QString::fromStdString(error),
                      "Error", BoxIcon::Error);
      break;
  }
}

}  // namespace cellbrook
