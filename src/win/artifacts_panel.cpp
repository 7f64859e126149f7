#include "win/artifacts_panel.h"

#include <QFileInfo>
#include <QHeaderView>
#include <cstdio>

#include "artifacts/artifact_text.h"
#include "export/whole_file_write.h"
#include "recover/logs/log_files.h"

namespace cellbrook {
namespace {

constexpr int kRecordRole = Qt::UserRole;
constexpr int kDecoderRole = Qt::UserRole + 1;

QTableWidgetItem* CellOf(const FieldValue& value) {
  auto* cell = new QTableWidgetItem();
  if (value.kind == FieldKind::Integer) {
    cell->setData(Qt::DisplayRole, static_cast<qulonglong>(value.number));
  } else if (value.kind == FieldKind::Signed) {
    cell->setData(Qt::DisplayRole, static_cast<qlonglong>(value.SignedValue()));
  } else {
    cell->setText(QString::fromStdString(FieldText(value)));
  }
  return cell;
}

}  // namespace

ArtifactsPanel::ArtifactsPanel(QWidget* parent) : QDockWidget(parent) {
  setupUi(this);
  ExportDialog1.FilterName = "CSV or JSON Lines files";
  ExportDialog1.FilterPattern = "*.csv *.jsonl";
  ExportDialog1.DefaultExtension = "csv";
  RecordTable1->verticalHeader()->hide();
  connect(ArtifactList1, &QListWidget::currentRowChanged, this, [this] { ArtifactList1Click(); });
  connect(RecordTable1, &QTableWidget::cellDoubleClicked, this, [this](int row, int) { RecordTable1DblClick(row); });
  connect(Export1, &QPushButton::clicked, this, &ArtifactsPanel::Export1Click);
}

void ArtifactsPanel::Clear() { ShowRun(ArtifactRun{}, std::string()); }

void ArtifactsPanel::ShowRun(ArtifactRun run, const std::string& hivePath) {
  run_ = std::move(run);
  hivePath_ = hivePath;
  ArtifactList1->clear();
  RecordTable1->clear();
  RecordTable1->setRowCount(0);
  RecordTable1->setColumnCount(0);
  const ArtifactDecoder* current = nullptr;
  int count = 0;
  auto flush = [&] {
    if (current == nullptr) return;
    auto* item = new QListWidgetItem(QString("%1 (%2)").arg(current->name).arg(count));
    item->setData(kDecoderRole, QString(current->name));
    ArtifactList1->addItem(item);
  };
  for (const ArtifactRecord& r : run_.records) {
    if (r.artifact != current) {
      flush();
      current = r.artifact;
      count = 0;
    }
    ++count;
  }
  flush();
  QString summary = QString("%1 records in %2 artifacts").arg(run_.records.size()).arg(ArtifactList1->count());
  if (run_.Damaged()) summary += "; damaged parts skipped";
  SummaryLabel1->setText(run_.records.empty() && !hivePath.empty() ? "No artifact found in this hive" : summary);
  SummaryLabel1->setToolTip(QString::fromStdString(run_.DamageSummary()));
  Export1->setEnabled(false);
  if (ArtifactList1->count() > 0) ArtifactList1->setCurrentRow(0);
}

const ArtifactDecoder* ArtifactsPanel::ChosenDecoder() const {
  const QListWidgetItem* item = ArtifactList1->currentItem();
  return item ? FindArtifactDecoder(item->data(kDecoderRole).toString().toStdString()) : nullptr;
}

QString ArtifactsPanel::ShownArtifact() const {
  const ArtifactDecoder* d = ChosenDecoder();
  return d ? QString(d->name) : QString();
}

void ArtifactsPanel::ShowArtifact(const QString& name) {
  for (int i = 0; i < ArtifactList1->count(); ++i) {
    if (ArtifactList1->item(i)->data(kDecoderRole).toString() == name) {
      ArtifactList1->setCurrentRow(i);
      return;
    }
  }
}

void ArtifactsPanel::ArtifactList1Click() {
  const ArtifactDecoder* d = ChosenDecoder();
  RecordTable1->setSortingEnabled(false);
  RecordTable1->clear();
  RecordTable1->setRowCount(0);
  if (d == nullptr) {
    RecordTable1->setColumnCount(0);
    Export1->setEnabled(false);
    return;
  }
  QStringList headers{"key"};
  for (const char* f : d->fields) headers << f;
  headers << "damaged"
          << "error";
  RecordTable1->setColumnCount(static_cast<int>(headers.size()));
  RecordTable1->setHorizontalHeaderLabels(headers);
  std::vector<size_t> rows;
  for (size_t i = 0; i < run_.records.size(); ++i) {
    if (run_.records[i].artifact == d) rows.push_back(i);
  }
  RecordTable1->setRowCount(static_cast<int>(rows.size()));
  for (size_t row = 0; row < rows.size(); ++row) {
    const ArtifactRecord& r = run_.records[rows[row]];
    auto* key = new QTableWidgetItem(QString::fromStdString(r.key));
    key->setData(kRecordRole, static_cast<qulonglong>(rows[row]));
    const int at = static_cast<int>(row);
    RecordTable1->setItem(at, 0, key);
    for (size_t f = 0; f < r.fields.size(); ++f)
      RecordTable1->setItem(at, static_cast<int>(f) + 1, CellOf(r.fields[f]));
    const int last = static_cast<int>(r.fields.size()) + 1;
    RecordTable1->setItem(at, last, new QTableWidgetItem(r.damaged ? "true" : ""));
    RecordTable1->setItem(at, last + 1, new QTableWidgetItem(QString::fromStdString(r.error)));
  }
  RecordTable1->setSortingEnabled(true);
  RecordTable1->sortByColumn(-1, Qt::AscendingOrder);  // hive order until a header is clicked
  Export1->setEnabled(!rows.empty());
}

std::vector<size_t> ArtifactsPanel::ShownRecords() const {
  std::vector<size_t> shown;
  for (int row = 0; row < RecordTable1->rowCount(); ++row) {
    if (const QTableWidgetItem* key = RecordTable1->item(row, 0)) {
      shown.push_back(static_cast<size_t>(key->data(kRecordRole).toULongLong()));
    }
  }
  return shown;
}

void ArtifactsPanel::RecordTable1DblClick(int row) {
  const QTableWidgetItem* key = RecordTable1->item(row, 0);
  if (key == nullptr) return;
  const size_t index = static_cast<size_t>(key->data(kRecordRole).toULongLong());
  if (index >= run_.records.size()) return;
  const ArtifactRecord& r = run_.records[index];
  emit RecordChosen(r.keyRef, QString::fromStdString(r.valueName), r.hasValue);
}

void ArtifactsPanel::Export1Click() {
  const ArtifactDecoder* d = ChosenDecoder();
  if (d == nullptr || RecordTable1->rowCount() == 0) return;
  if (ExportDialog1.FileName.isEmpty()) ExportDialog1.FileName = QString(d->name) + ".csv";
  if (!Modal().SaveFile(this, ExportDialog1)) return;
  const std::string target = ExportDialog1.FileName.toStdString();
  if (evidence_ != nullptr && evidence_->Refuses(target)) {
    Modal().Message(this, kEvidenceRefusalText, "Cellbrook", BoxIcon::Error);
    return;
  }
  const QString suffix = QFileInfo(ExportDialog1.FileName).suffix().toLower();
  const bool json = suffix == "jsonl" || suffix == "json";
  std::string text = json ? std::string() : ArtifactCsvHeader(*d);
  for (size_t index : ShownRecords()) {
    const ArtifactRecord& r = run_.records[index];
    text += json ? ArtifactRecordJson(r, hivePath_) + "\n" : ArtifactCsvLine(r);
  }
  WholeFileWrite file(target, false);
  if (!file.Ready() || !file.Write(text.data(), text.size()) || !file.Commit()) {
    Modal().Message(this, "Write failed: " + ExportDialog1.FileName + "\n" + QString::fromStdString(file.Problem()),
                    "Cellbrook", BoxIcon::Error);
  }
}

std::vector<std::pair<const ArtifactDecoder*, int>> ArtifactsPanel::ArtifactsOfKey(KeyRef key) const {
  std::vector<std::pair<const ArtifactDecoder*, int>> found;
  if (!key) return found;
  for (const ArtifactRecord& r : run_.records) {
    if (r.keyRef != key) continue;
    if (found.empty() || found.back().first != r.artifact) {
      found.emplace_back(r.artifact, 0);
    }
    ++found.back().second;
  }
  return found;
}

}  // namespace cellbrook
