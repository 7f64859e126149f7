// The export dialog: shows the key, takes the root prefix and the target
// file, and has the registry text writer export the key with its subtree.
#pragma once

#include <QDialog>
#include <functional>
#include <string>

#include "export/evidence_guard.h"
#include "export/registry_text_writer.h"
#include "hive/hive_reader.h"
#include "present/deleted_text.h"
#include "ui_tform2.h"
#include "win/modal_seam.h"

namespace cellbrook {

// What writes the export file; the real one is ExportKeyToFile.
using KeyExporter = ExportOutcome (*)(const HiveImage& image, KeyRef key, std::string_view path,
                                      std::string_view shownPath, const std::string& target);

class TForm2 : public QDialog, public Ui::TForm2 {
  Q_OBJECT
 public:
  explicit TForm2(QWidget* parent = nullptr, KeyExporter exporter = &ExportKeyToFile);

  // The hive and the key to export, given by the caller before each showing.
  void SetExport(const HiveImage* hive, KeyRef key);
  // Or a file written by `writer` from the chosen prefix and target (a
  // comparison's patch), the key shown by its path after ROOT.
  using PrefixWriter = std::function<ExportOutcome(const std::string& prefix, const std::string& target)>;
  void SetPatchExport(const QString& keyPath, PrefixWriter writer);
  // Or a recovered key (an index into scan->keys) with the recovered keys
  // below it; only one whose path is full has a place to go back to.
  void SetRecoveredExport(const DeletedScan* scan, uint32_t key);
  // A new hive: no key remembered, and the prefix its kind stands under
  // chosen (a prefix no button holds goes to "Other"; none keeps the
  // current choice).
  void StartHive(const QString& defaultPrefix);
  // The files no export may write (the open hive and its logs).
  void SetEvidence(const EvidenceGuard* evidence) { evidence_ = evidence; }

  FileDialogSettings SaveDialog1;
  char NameBuffer[4096];
  std::string KeyPath;  // the key's path without "ROOT", UTF-8

 public slots:
  void Button2Click();
  void FormShow();
  void Button1Click();

 protected:
  void showEvent(QShowEvent* event) override;
  void keyPressEvent(QKeyEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;

 private:
  QString RootPrefix() const;
  void ShowKeyPath(const QString& path);
  void FitKeyPath();

  QString shownPath_;  // Label2's whole text, cut in the middle to fit

  const HiveImage* hive_ = nullptr;
  KeyRef key_;
  KeyExporter exporter_;
  const DeletedScan* scan_ = nullptr;  // set for a recovered key
  PrefixWriter patch_;                 // set for a patch
  QString patchPath_;
  const EvidenceGuard* evidence_ = nullptr;
  uint32_t recoveredKey_ = kNoCell;
};

extern TForm2* Form2;

}  // namespace cellbrook
