// The artifacts panel beside the key tree: the artifacts found in the open
// hive with their record counts, the chosen artifact's records in a
// sortable table, and their export as CSV or JSON Lines.
#pragma once

#include <QDockWidget>
#include <string>
#include <vector>

#include "artifacts/artifact_run.h"
#include "export/evidence_guard.h"
#include "ui_artifacts_panel.h"
#include "win/modal_seam.h"

namespace cellbrook {

class ArtifactsPanel : public QDockWidget, public Ui::ArtifactsPanel {
  Q_OBJECT
 public:
  explicit ArtifactsPanel(QWidget* parent = nullptr);

  // The records of the open hive; `hivePath` names it in exports and keeps
  // them from being written over it or its logs.
  void ShowRun(ArtifactRun run, const std::string& hivePath);
  // What Export... never writes over: the hive shown and its logs.
  void SetEvidence(const EvidenceGuard* evidence) { evidence_ = evidence; }
  void Clear();
  const ArtifactRun& Run() const { return run_; }
  // Chooses the artifact in the list and shows its records.
  void ShowArtifact(const QString& name);
  QString ShownArtifact() const;
  // The artifacts with records that come from `key`, and how many each.
  std::vector<std::pair<const ArtifactDecoder*, int>> ArtifactsOfKey(KeyRef key) const;

  FileDialogSettings ExportDialog1;

 signals:
  // A record was double-clicked: select its key (and value, when not empty).
  void RecordChosen(KeyRef key, const QString& valueName, bool hasValue);

 public slots:
  void ArtifactList1Click();
  void RecordTable1DblClick(int row);
  void Export1Click();

 private:
  const ArtifactDecoder* ChosenDecoder() const;
  // The record indexes the table shows, in its order.
  std::vector<size_t> ShownRecords() const;

  ArtifactRun run_;
  std::string hivePath_;
  const EvidenceGuard* evidence_ = nullptr;  // the open file's, kept by the main window
};

}  // namespace cellbrook
