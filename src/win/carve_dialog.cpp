#include "win/carve_dialog.h"

#include <QHeaderView>
#include <QShowEvent>
#include <cinttypes>
#include <cstdio>

#include "win/form_font.h"
#include "win/modal_seam.h"

namespace cellbrook {
namespace {

QString Hex(uint64_t v) { return "0x" + QString::number(v, 16); }

}  // namespace

std::string CarvedCaption(const CarvedChoice& choice) {
  char at[32];
  std::snprintf(at, sizeof at, "0x%" PRIx64, choice.hive.offset);
  return choice.image + " at " + at;
}

std::string CarvedOriginText(const CarvedChoice& choice) {
  const CarvedHive& h = choice.hive;
  char line[96];
  std::snprintf(line, sizeof line, "0x%" PRIx64 " (%" PRIu64 ")", h.offset, h.offset);
  std::string text = "\nFound in the " + choice.kind + " image " + choice.image + " at offset " + line + ".\n";
  text += "Base block: " + std::string(h.baseBlockFound ? "found" : "rebuilt") +
          "; fragments: " + std::to_string(h.fragments.size()) + "; " + (h.complete ? "complete" : "incomplete") +
          " (" + std::to_string(h.binsFound) + " of " + std::to_string(h.binsExpected) + " bytes of hive bins data).\n";
  for (const CarvedFragment& f : h.fragments) {
    std::snprintf(line, sizeof line, "  bins from 0x%x at image offset 0x%" PRIx64 ", %" PRIu64 " bytes\n",
                  f.binsOffset, f.imageOffset, f.present);
    text += line;
  }
  for (const std::string& note : h.notes) text += "  " + note + "\n";
  text += "Held in memory only; File > Save hive as... writes it.\n";
  return text;
}

CarveDialog::CarveDialog(const QString& imagePath, QWidget* parent) : QDialog(parent), imagePath_(imagePath) {
  setupUi(this);
  UseFormFont(this);
  ImageLabel->setText("Image: " + imagePath);
  HiveList1->header()->setSectionResizeMode(QHeaderView::ResizeToContents);
  std::string error;
  image_ = OpenImageSource(imagePath.toStdString(), error);
  if (!image_) {
    openError_ = QString::fromStdString(error);
    StatusLabel->setText("The image cannot be read: " + openError_);
  }
  connect(this, &CarveDialog::scanProgress, this, &CarveDialog::ShowProgress, Qt::QueuedConnection);
  connect(this, &CarveDialog::scanFinished, this, &CarveDialog::ShowFound, Qt::QueuedConnection);
  connect(OpenButton, &QPushButton::clicked, this, &CarveDialog::OpenButtonClick);
  connect(CancelButton, &QPushButton::clicked, this, &CarveDialog::CancelButtonClick);
  connect(HiveList1, &QTreeWidget::itemDoubleClicked, this, &CarveDialog::OpenButtonClick);
  connect(HiveList1, &QTreeWidget::itemSelectionChanged, this,
          [this] { OpenButton->setEnabled(!Scanning() && !HiveList1->selectedItems().isEmpty()); });
}

CarveDialog::~CarveDialog() { StopScan(); }

void CarveDialog::showEvent(QShowEvent* event) {
  QDialog::showEvent(event);
  StartScan();
}

void CarveDialog::StartScan() {
  if (started_ || !image_) return;
  started_ = true;
  StatusLabel->setText("Scanning...");
  worker_ = std::thread([this] {
    CarveOptions options;
    options.cancel = &cancel_;
    int shown = -1;
    options.progress = [this, &shown](uint64_t done, uint64_t total) {
      const int permille = total == 0 ? 1000 : static_cast<int>(done * 1000 / total);
      if (permille == shown) return;
      shown = permille;
      emit scanProgress(static_cast<qint64>(done), static_cast<qint64>(total));
    };
    CarveReport report = CarveImage(*image_, options);
    report_ = std::move(report);  // read by the window only after scanFinished
    emit scanFinished();
  });
}

void CarveDialog::StopScan() {
  if (!worker_.joinable()) return;
  cancel_ = true;
  worker_.join();
}

void CarveDialog::ShowProgress(qint64 done, qint64 total) {
  ProgressBar1->setValue(total == 0 ? 1000 : static_cast<int>(done * 1000 / total));
}

void CarveDialog::ShowFound() {
  if (worker_.joinable()) worker_.join();
  ProgressBar1->setValue(report_.cancelled ? ProgressBar1->value() : 1000);
  HiveList1->clear();
  for (const CarvedHive& h : report_.hives) {
    auto* row = new QTreeWidgetItem(HiveList1);
    row->setText(0, Hex(h.offset));
    row->setText(1, h.name.empty() ? QString("-") : QString::fromStdString(h.name));
    row->setText(2, QString::number(h.Size()));
    row->setText(3, h.complete ? "yes" : "no");
    row->setText(4, h.baseBlockFound ? "found" : "rebuilt");
    row->setText(5, QString::number(h.fragments.size()));
    QString tip;
    for (const std::string& note : h.notes) tip += QString::fromStdString(note) + "\n";
    row->setToolTip(0, tip.trimmed());
  }
  if (report_.cancelled) {
    StatusLabel->setText("Cancelled.");
  } else if (report_.readFailed) {
    StatusLabel->setText("The image cannot be read at offset " + Hex(report_.readFailedAt) + ".");
  } else if (report_.hives.empty()) {
    StatusLabel->setText("No hive found in the image.");
  } else {
    StatusLabel->setText(QString::number(report_.hives.size()) +
                         (report_.hives.size() == 1 ? " hive found." : " hives found.") +
                         " Choose one and Open it (in memory only).");
    HiveList1->setCurrentItem(HiveList1->topLevelItem(0));
  }
  CancelButton->setText("Close");
  OpenButton->setEnabled(!HiveList1->selectedItems().isEmpty());
}

void CarveDialog::OpenButtonClick() {
  if (Scanning()) return;
  const int row = HiveList1->indexOfTopLevelItem(HiveList1->currentItem());
  if (row < 0 || static_cast<size_t>(row) >= report_.hives.size()) return;
  CarvedChoice choice;
  choice.hive = report_.hives[static_cast<size_t>(row)];
  choice.image = imagePath_.toStdString();
  choice.kind = image_->Kind();
  if (!AssembleHive(*image_, choice.hive, choice.bytes)) {
    Modal().Message(this, "The hive cannot be read from the image.", "Error", BoxIcon::Error);
    return;
  }
  choice_ = std::move(choice);
  accept();
}

void CarveDialog::CancelButtonClick() { reject(); }

void CarveDialog::reject() {
  StopScan();
  QDialog::reject();
}

}  // namespace cellbrook
