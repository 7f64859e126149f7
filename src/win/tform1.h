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
#include "hive/hive_file.h"
#include "recover/log_recovery.h"
#include "win/deleted_tree.h"
#include "present/hive_search.h"
#include "win/modal_seam.h"

class QLabel;

namespace cellbrook {
class HiveInfoDialog;
}

namespace cellbrook {

class FindDialog;
struct CarvedChoice;

// A list of 16 x 16 pictures, picked by index.
struct ImageList {
  QList<QIcon> Pictures;
  QIcon Picture(qsizetype index) const {
    return index >= 0 && index < Pictures.size() ? Pictures[index] : QIcon();
  }
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

// The selected node or row (single selection), or null.
QTreeWidgetItem* SelectedItem(const QTreeWidget* view);

class TForm1 : public QMainWindow, public Ui::TForm1 {
  Q_OBJECT
 public:
  explicit TForm1(QWidget* parent = nullptr);
  ~TForm1() override;

  // Non-visual parts and the status bar's one panel.
  ImageList ImageList1;  // tree pictures: 0 the file, 1 a key, 2 a recovered key, 3 recovered records
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
  QAction* ViewData1 = nullptr;    // in PopupMenu1

  // The document: the open file, its whole image, and the reader on it.
  std::string FileName;  // UTF-8
  QTreeWidgetItem* LastNode = nullptr;
  HiveBlock FileImage;
  char NameBuffer[4096];
  HiveImage Hive;
  // What the open file's transaction logs hold, and whether they were applied.
  RecoveryReport Recovery;
  bool RecoveryApplied = false;

  void ResetKeyTree();
  void FillKeyTree(QTreeWidgetItem* node, const KeyInfo& key);
  void FillValueList(const KeyInfo& key);
  // Opens `path` as if it had been chosen in the open dialog: the command
  // line's file and a file dropped on the window come this way.
  void OpenNamedFile(const QString& path);
  // Shows a hive found in a disk image, held in memory.
  void OpenCarvedHive(CarvedChoice choice);
  FileDialogSettings ImageDialog1;    // Find hives in image
  FileDialogSettings HiveSaveDialog1;  // Save hive as
  std::string CarvedOrigin;  // where a carved hive came from; empty for a file
  std::string CarvedImage;   // the image it came from (UTF-8 path)

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
  void ListView1DblClick();
  void FormDragOver(QDragMoveEvent* event);
  void FormDragDrop(QDropEvent* event);
  void Findhivesinimage1Click();
  void Savehiveas1Click();

 protected:
  void dragEnterEvent(QDragEnterEvent* event) override;
  void dragMoveEvent(QDragMoveEvent* event) override;
  void dropEvent(QDropEvent* event) override;

 private:
  void RunFind(const SearchOptions& options);
  void ShowKeyTime(const KeyInfo& key);

  void FitValueColumn();
  void OpenChosenFile(const QString& path);  // the open command after its dialog
  void ShowPopup(QMenu* menu, QWidget* control, int x, int y);
  void ShowError(const char* text);
  void ShowOpenError(LoadOutcome outcome);  // with a hint for a hive whose base block is gone
  void ConnectCarving();

  // Deleted records: the open file is scanned the first time they are shown.
  const DeletedRecords& Deleted();
  void ShowDeletedNodes();
  bool ShowRecoveredNode(QTreeWidgetItem* node);  // false for a live node
  void AppendDeletedValueRows(std::span<const uint32_t> values);
  bool DeletedValueOf(const QTreeWidgetItem* row, ValueInfo& value, std::vector<uint8_t>& bytes);
  bool ExportRecoveredKey(const QTreeWidgetItem* node);

  CaptionCollator collator_;
  std::unique_ptr<DeletedRecords> deleted_;
  DeletedTree deletedTree_;
  HiveInfoDialog* infoDialog_ = nullptr;
  FindDialog* findDialog_ = nullptr;
  std::optional<SearchOptions> lastFind_;  // what "Find next" looks for
};

extern TForm1* Form1;

}  // namespace cellbrook
