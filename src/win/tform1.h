// The main window: the open hive's key tree, the selected key's values, and
// the commands on them. One thin class over forms/tform1.ui; the behaviour
// is in the named handlers.
#pragma once

#include <QIcon>
#include <QList>
#include <QMainWindow>
#include <memory>
#include <span>
#include <optional>
#include <string>

#include "ui_tform1.h"
#include "present/caption_collator.h"
#include "document/hive_document.h"
#include "hive/hive_file.h"
#include "export/evidence_guard.h"
#include "recover/logs/log_recovery.h"
#include "win/deleted_tree.h"
#include "present/hive_search.h"
#include "win/modal_seam.h"

class QLabel;

namespace cellbrook {
class HiveInfoDialog;
class HiveComparison;
class ArtifactsPanel;
}  // namespace cellbrook

namespace cellbrook {

class FindDialog;
struct CarvedChoice;

// A list of 16 x 16 pictures, picked by index.
struct ImageList {
  QList<QIcon> Pictures;
  QIcon Picture(qsizetype index) const { return index >= 0 && index < Pictures.size() ? Pictures[index] : QIcon(); }
};

// The product's web page, until it has a site of its own.
extern const char* const kProductPage;

// Where a pop-up menu shows for a press at `pointer` in a control's client
// area: moved by the control's offset in the window's client area and by
// the window's outer position, with the whole difference between the outer
// and the client height added below.
QPoint PopupPoint(QPoint pointer, const QRect& windowFrame, int clientHeight, QPoint controlOffset);

// A tree node's data is the cell offset of its key, a list item's that of
// its value; null when no key or value stands behind it.
KeyRef KeyOf(const QTreeWidgetItem* item);
ValueRef ValueOf(const QTreeWidgetItem* item);

// The question asked when a dirty hive's logs can be applied.
QString DirtyHiveQuestion(const RecoveryReport& report);

// The status bar's word on what the window shows: logs applied or not,
// and whether the user chose so; damaged or not. Empty with no file.
QString ShownStateText(bool loaded, const RecoveryReport& recovery, bool asked, bool applied, bool damaged);
// Each line of a text with its control characters as visible pictures.
QString ShownLines(const QString& text);
// Why a file did not open, for the second line of the open error.
std::string OpenFailureReason(const std::string& path, LoadOutcome outcome);

// The selected node or row (single selection), or null.
QTreeWidgetItem* SelectedItem(const QTreeWidget* view);

class TForm1 : public QMainWindow, public Ui::TForm1 {
  Q_OBJECT
 public:
  explicit TForm1(QWidget* parent = nullptr);
  ~TForm1() override;

  // Non-visual parts and the status bar's one panel.
  // tree pictures: 0 the file, 1 a key, 2 a recovered key, 3 recovered
  // records, 4 a key whose subkeys or values could not all be read
  ImageList ImageList1;
  ImageList ImageList2;  // value pictures, by type code 0 to 11
  ImageList ImageList3;  // deleted value pictures, by type code 0 to 11
  FileDialogSettings OpenDialog1;
  FileDialogSettings SaveDialog1;
  QMenu* PopupMenu1 = nullptr;
  QAction* Save1 = nullptr;
  QMenu* PopupMenu2 = nullptr;
  QAction* Exportkey2 = nullptr;
  QLabel* StatusPanel0 = nullptr;
  QLabel* StatusPanel1 = nullptr;  // the selected key's last written time
  QLabel* StatusPanel2 = nullptr;  // what is shown: logs applied or not, damage
  QAction* ViewData1 = nullptr;    // in PopupMenu1
  // Key details, copying and going to a key (tform1_key_commands.cpp).
  QAction* CopyValueName1 = nullptr;  // in PopupMenu1
  QAction* CopyValueText1 = nullptr;
  QAction* CopyValueHex1 = nullptr;
  QAction* Properties1 = nullptr;  // in PopupMenu2, and Alt+Enter
  QAction* CopyKeyPath1 = nullptr;
  QAction* CopyKeyName1 = nullptr;
  // The value list header's pop-up: optional columns, off until chosen.
  QMenu* HeaderMenu1 = nullptr;
  QAction* ShowSizeColumn1 = nullptr;
  QAction* ShowCellColumn1 = nullptr;
  // View > Last written column, also in the key tree header's pop-up: off
  // until chosen; the tree's header shows while the column does.
  QAction* ShowLastWrittenColumn1 = nullptr;
  QMenu* TreeHeaderMenu1 = nullptr;
  QAction* Artifacts1 = nullptr;   // View > Artifacts
  QLabel* StatusPanel3 = nullptr;  // a link to the artifacts of the selected key

  void ResetKeyTree();
  void FillKeyTree(QTreeWidgetItem* node, const KeyInfo& key);
  void FillValueList(const KeyInfo& key);
  // Opens `path` as if it had been chosen in the open dialog: the command
  // line's file and a file dropped on the window come this way.
  void OpenNamedFile(const QString& path);
  // Shows a hive found in a disk image, held in memory.
  void OpenCarvedHive(CarvedChoice choice);
  FileDialogSettings ImageDialog1;     // Find hives in image
  FileDialogSettings HiveSaveDialog1;  // Save hive as

 public slots:
  void Exit1Click();
  void Openregistryfile1Click();
  void TreeView1Click();
  void Save1Click();
  void TreeView1KeyUp(int key, Qt::KeyboardModifiers shift);
  void Savevalue1Click();
  void ListView1MouseDown(Qt::MouseButton button, Qt::KeyboardModifiers shift, int x, int y);
  void TreeView1MouseDown(Qt::MouseButton button, Qt::KeyboardModifiers shift, int x, int y);
  void Exportkey2Click();
  void Exportkey1Click();
  void About1Click();
  void Hiveinformation1Click();
  void ProgramWebSite1Click();
  void Showdeletedkeysandvalues1Click(bool checked);
  void Find1Click();
  void Findnext1Click();
  void ViewData1Click();
  void Viewdata1Click();
  void ListView1DblClick();
  void Properties1Click();
  void CopyKeyPath1Click();
  void CopyKeyName1Click();
  void CopyValueName1Click();
  void CopyValueText1Click();
  void CopyValueHex1Click();
  void Gotokey1Click();
  void ListView1HeaderMenu(const QPoint& at);
  void TreeView1HeaderMenu(const QPoint& at);
  void ShowLastWrittenColumn1Click(bool checked);
  void Artifacts1Click();
  void ArtifactRecordChosen(KeyRef key, const QString& valueName, bool hasValue);
  void StatusPanel3LinkClick(const QString& artifact);
  void ListView1EnterKey();
  void TreeView1MenuKey();
  void ListView1MenuKey();
  void TreeView1Collapsed(QTreeWidgetItem* node);
  void FormDragOver(QDragMoveEvent* event);
  void FormDragDrop(QDropEvent* event);
  void Comparewith1Click();
  void Endcomparison1Click();
  void Showonlydifferences1Click(bool checked);
  void HistoryEntryChosen(int index);
  void Findhivesinimage1Click();
  void Savehiveas1Click();

 protected:
  void dragEnterEvent(QDragEnterEvent* event) override;
  void dragMoveEvent(QDragMoveEvent* event) override;
  void dropEvent(QDropEvent* event) override;

 public:
  // The open hive, read-only: its bytes and view, what its logs hold and
  // whether they were applied (the user was asked when they could), and
  // what the key tree and its keys' value lists could not read.
  const HiveDocument& Document() const { return document_; }
  // The node whose values the list shows; null for none.
  QTreeWidgetItem* LastNode() const { return lastNode_; }
  // Where a carved hive came from; empty for a file.
  const std::string& CarvedOrigin() const { return carvedOrigin_; }
  // The open hive and its logs, which no command writes.
  const EvidenceGuard& Evidence() const { return evidence_; }

 private:
  // The document: the open file (or carved hive), its image, the view on
  // it, and its deleted records. `Hive` and `FileName` are its view and
  // path (the caption of a carved hive), whose addresses it keeps.
  HiveDocument document_;
  const HiveImage& Hive = document_.Hive();
  const std::string& FileName = document_.Path();  // UTF-8
  QTreeWidgetItem* lastNode_ = nullptr;
  char NameBuffer[4096];
  std::string carvedOrigin_;  // where a carved hive came from; empty for a file
  std::string carvedImage_;   // the image it came from (UTF-8 path)

  void RunFind(const SearchOptions& options);
  void SetUpKeyCommands();
  // The value list's columns: Name, Type, Value, then Size and Cell as chosen.
  void UseValueColumns();
  // The selected node's key as the details show it; false for none.
  bool SelectedKeyDetails(KeyInfo& key, std::string& path);
  // The selected value, live or recovered; false for none.
  bool SelectedValue(ValueInfo& value);
  // The selected value when its data can be read; says so when they cannot.
  bool SelectedDataToCopy(ValueInfo& value);
  void FillOptionalColumns(int first, int last);
  // The last written column is filled only for nodes that can be seen:
  // the top nodes and the children of expanded ones.
  void FillLastWrittenColumn();
  void FillLastWrittenChildren(QTreeWidgetItem* node);
  void ShowLastWritten(QTreeWidgetItem* node);
  // Artifacts (tform1_artifacts.cpp): the panel, its records of the open
  // file, and the status bar's link for the selected key.
  void SetUpArtifacts();
  void ForgetArtifacts();
  void ShowArtifactLink(KeyRef key);
  ArtifactsPanel* artifactsPanel_ = nullptr;
  bool artifactsRead_ = false;
  void ShowTitle();
  void ShowState();
  void MarkDamagedKey(QTreeWidgetItem* node, uint64_t subkeys, uint64_t values, uint64_t data);
  void ShowPopupAtSelection(QMenu* menu, QTreeWidget* control);
  void ShowKeyTime(const KeyInfo& key);

  void FitValueColumn();
  // The key column as wide as its captions, or, beside the last written
  // column, what the pane leaves it.
  void FitKeyColumns();
  void OpenChosenFile(const QString& path);  // the open command after its dialog
  void ShowPopup(QMenu* menu, QWidget* control, int x, int y);
  void ShowError(const QString& text);
  // The open's error, its detail line, and a hint for a hive whose base block is gone.
  void ShowOpenError(LoadOutcome outcome, const std::string& path, const QString& detail);
  void ConnectCarving();

  // Deleted records: the open file is scanned the first time they are shown.
  const DeletedRecords& Deleted();
  void ShowDeletedNodes();
  bool ShowRecoveredNode(QTreeWidgetItem* node);  // false for a live node
  void AppendDeletedValueRows(std::span<const uint32_t> values);
  bool DeletedValueOf(const QTreeWidgetItem* row, ValueInfo& value);
  bool ExportRecoveredKey(const QTreeWidgetItem* node);

  CaptionCollator collator_;
  std::unique_ptr<DeletedRecords> deleted_;
  DeletedTree deletedTree_;
  HiveInfoDialog* infoDialog_ = nullptr;
  FindDialog* findDialog_ = nullptr;
  std::optional<SearchOptions> lastFind_;  // what "Find next" looks for

  // A comparison shown in the tree instead of the open hive.
  bool ShowComparison(std::unique_ptr<HiveComparison> comparison);
  std::unique_ptr<HiveComparison> comparison_;
  std::string shownState_;  // what Hive information says the window shows, when not the usual
  EvidenceGuard evidence_;
};

extern TForm1* Form1;

}  // namespace cellbrook
