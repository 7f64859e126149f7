// The main window's artifacts: View > Artifacts, the panel's records of the
// open file, selecting a record's key and value, and the status bar link.
#include <QApplication>
#include <QLabel>
#include <QStatusBar>
#include <QTreeWidgetItemIterator>

#include "hive/key_lookup.h"

#include "win/artifacts_panel.h"
#include "win/tform1.h"

namespace cellbrook {

void TForm1::SetUpArtifacts() {
  Artifacts1 = View1->addAction("&Artifacts");
  Artifacts1->setObjectName("Artifacts1");
  connect(Artifacts1, &QAction::triggered, this, &TForm1::Artifacts1Click);
  StatusPanel3 = new QLabel(StatusBar1);
  StatusPanel3->setObjectName("StatusPanel3");
  StatusPanel3->setTextFormat(Qt::RichText);
  StatusPanel3->setToolTip("Artifact records decoded from the selected key");
  StatusBar1->addWidget(StatusPanel3, 0);
  connect(StatusPanel3, &QLabel::linkActivated, this, &TForm1::StatusPanel3LinkClick);
}

void TForm1::ForgetArtifacts() {
  artifactsRead_ = false;
  StatusPanel3->clear();
  if (artifactsPanel_ == nullptr) return;
  artifactsPanel_->Clear();
  if (artifactsPanel_->isVisible()) Artifacts1Click();  // a shown panel follows the open file
}

void TForm1::Artifacts1Click() {
  if (artifactsPanel_ == nullptr) {
    artifactsPanel_ = new ArtifactsPanel(this);
    artifactsPanel_->setObjectName("ArtifactsPanel1");
    addDockWidget(Qt::RightDockWidgetArea, artifactsPanel_);
    connect(artifactsPanel_, &ArtifactsPanel::RecordChosen, this, &TForm1::ArtifactRecordChosen);
  }
  if (!artifactsRead_ && document_.Loaded()) {
    artifactsRead_ = true;
    QApplication::setOverrideCursor(Qt::WaitCursor);
    artifactsPanel_->SetEvidence(&evidence_);
    artifactsPanel_->ShowRun(RunArtifacts(Hive), FileName);
    QApplication::restoreOverrideCursor();
  }
  artifactsPanel_->show();
  artifactsPanel_->raise();
  if (lastNode_ != nullptr) ShowArtifactLink(KeyOf(lastNode_));
}

void TForm1::ArtifactRecordChosen(KeyRef key, const QString& valueName, bool hasValue) {
  QTreeWidgetItem* node = nullptr;
  for (QTreeWidgetItemIterator it(TreeView1); *it != nullptr; ++it) {
    if (KeyOf(*it) == key) {
      node = *it;
      break;
    }
  }
  if (node == nullptr) return;
  for (QTreeWidgetItem* up = node->parent(); up != nullptr; up = up->parent()) up->setExpanded(true);
  TreeView1->setCurrentItem(node);
  TreeView1->scrollToItem(node);
  TreeView1Click();
  ListView1->clearSelection();
  if (!hasValue) return;
  KeyInfo info;
  if (!GetKeyInfo(Hive, info, key)) return;
  const ValueLookup value = FindValueByName(Hive, info, valueName.toStdString());
  for (int i = 0; value.found && i < ListView1->topLevelItemCount(); ++i) {
    QTreeWidgetItem* row = ListView1->topLevelItem(i);
    if (ValueOf(row) == value.found->Ref) {
      ListView1->setCurrentItem(row);
      ListView1->scrollToItem(row);
      break;
    }
  }
}

void TForm1::ShowArtifactLink(KeyRef key) {
  StatusPanel3->clear();
  if (artifactsPanel_ == nullptr || !artifactsRead_) return;
  QStringList links;
  for (const auto& [decoder, count] : artifactsPanel_->ArtifactsOfKey(key)) {
    links
        << QString("<a href=\"%1\">%2 %1 %3</a>").arg(decoder->name).arg(count).arg(count == 1 ? "record" : "records");
  }
  StatusPanel3->setText(links.join(", "));
}

void TForm1::StatusPanel3LinkClick(const QString& artifact) {
  Artifacts1Click();
  artifactsPanel_->ShowArtifact(artifact);
}

}  // namespace cellbrook
