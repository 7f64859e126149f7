// Find hives in image: scans a disk image on a worker thread with a
// progress bar and Cancel, lists the hives found, and hands the chosen one
// to its caller assembled in memory. The image is only read.
#pragma once

#include <QDialog>
#include <atomic>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "recover/carve/hive_carver.h"
#include "ui_carve_dialog.h"

namespace cellbrook {

// The hive chosen, with where it came from.
struct CarvedChoice {
  std::vector<uint8_t> bytes;
  CarvedHive hive;
  std::string image;  // path of the image, UTF-8
  std::string kind;   // "raw" or "E01"
};

// Where a carved hive came from, for the caption and Hive information.
std::string CarvedCaption(const CarvedChoice& choice);
std::string CarvedOriginText(const CarvedChoice& choice);

class CarveDialog : public QDialog, public Ui::CarveDialog {
  Q_OBJECT
 public:
  // Opens the image; `OpenError()` says why when it cannot be read.
  CarveDialog(const QString& imagePath, QWidget* parent = nullptr);
  ~CarveDialog() override;

  const QString& OpenError() const { return openError_; }
  bool Scanning() const { return worker_.joinable(); }
  const CarveReport& Report() const { return report_; }
  // The hive opened with Open, once.
  std::optional<CarvedChoice> TakeChoice() { return std::move(choice_); }

  // Starts the scan; exec() does it when the dialog first shows.
  void StartScan();

 signals:
  void scanProgress(qint64 done, qint64 total);
  void scanFinished();

 public slots:
  void OpenButtonClick();
  void CancelButtonClick();

 protected:
  void showEvent(QShowEvent* event) override;
  void reject() override;

 private:
  void ShowProgress(qint64 done, qint64 total);
  void ShowFound();
  void StopScan();

  QString imagePath_;
  QString openError_;
  std::unique_ptr<ImageSource> image_;
  std::thread worker_;
  std::atomic<bool> cancel_{false};
  CarveReport report_;
  std::optional<CarvedChoice> choice_;
  bool started_ = false;
};

}  // namespace cellbrook
