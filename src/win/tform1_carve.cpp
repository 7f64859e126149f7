// The main window's commands on disk images: Find hives in image, Save hive
// as, and the hint for a file whose base block is gone.
#include <fcntl.h>
#include <unistd.h>

#include "artifacts/hive_kind.h"
#include "export/evidence_guard.h"
#include "export/whole_file_write.h"
#include "win/carve_dialog.h"
#include "win/tform1.h"
#include "win/tform2.h"

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

void TForm1::ShowOpenError(LoadOutcome outcome, const std::string& path, const QString& detail) {
  QString text = QString(LoadOutcomeText(outcome)) + "\n" + detail;
  if (outcome == LoadOutcome::InvalidFormat) {
    uint8_t head[kBaseBlockSize + 32] = {};
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
    ssize_t n = fd >= 0 ? ::pread(fd, head, sizeof head, 0) : -1;
    if (fd >= 0) ::close(fd);
    if (n > 0 && StartsWithHiveBins({head, static_cast<size_t>(n)})) {
      text +=
          "\n\nThe file holds hive bins: its base block is gone. File > Find hives in image... can "
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
  if (comparison_) Endcomparison1Click();
  shownState_.clear();
  ListView1->clear();
  deletedTree_.Forget();
  deleted_.reset();
  carvedOrigin_ = CarvedOriginText(choice);
  carvedImage_ = choice.image;
  // What is shown now comes from the image: it is what no command writes.
  evidence_ = EvidenceGuard();
  evidence_.Add(carvedImage_);
  StatusPanel0->setText("Ready");
  StatusPanel1->clear();
  StatusPanel2->clear();
  HiveSaveDialog1.FileName = QString::fromStdString(CarvedFileName(choice.hive));
  const std::string caption = CarvedCaption(choice);
  if (!document_.OpenInMemory(std::move(choice.bytes), caption)) {
    ShowError(LoadOutcomeText(LoadOutcome::InvalidFormat));
    carvedOrigin_.clear();
    carvedImage_.clear();
  }
  ForgetArtifacts();
  ResetKeyTree();
  if (Form2 != nullptr) {
    Form2->StartHive(document_.Loaded() ? RootPrefixOf(DetectHiveKind(Hive, document_.Recovery().primary.fileName, ""))
                                        : QString());
  }
  if (Showdeletedkeysandvalues1->isChecked()) ShowDeletedNodes();
  ShowTitle();
  ShowState();
}

void TForm1::Savehiveas1Click() {
  if (!document_.Loaded()) return;
  if (!Modal().SaveFile(this, HiveSaveDialog1)) return;
  const std::string target = HiveSaveDialog1.FileName.toStdString();
  // The hive's file, its logs, or the image it came from are never written.
  if (evidence_.Refuses(target)) {
    Modal().Message(this, kEvidenceRefusalText, "Error", BoxIcon::Error);
    return;
  }
  // A new file only: nothing is written over an existing one.
  WholeFileWrite file(target, false, WholeFileWrite::Existing::Keep);
  if (file.Ready() && file.Write(document_.Bytes().data(), document_.Bytes().size()) && file.Commit()) {
    StatusPanel0->setText("Hive saved as " + HiveSaveDialog1.FileName);
  } else if (file.TargetExists()) {
    Modal().Message(this, HiveSaveDialog1.FileName + " exists and is not replaced: choose a new name.", "Error",
                    BoxIcon::Error);
  } else {
    Modal().Message(this, "Can not write " + HiveSaveDialog1.FileName + ": " + QString::fromStdString(file.Problem()),
                    "Error", BoxIcon::Error);
  }
}

}  // namespace cellbrook
