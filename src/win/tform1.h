// The main window: the open hive's key tree, the selected key's values, and
// the commands on them. One thin class over forms/tform1.ui; the behaviour
// is in the named handlers.
#pragma once

#include <QIcon>
#include <QList>
#include <QMainWindow>
#include <optional>
#include <string>

#include "ui_tform1.h"
#include "present/caption_collator.h"
#include "hive/hive_file.h"
#include "present/hive_search.h"
#include "win/modal_seam.h"

class QLabel;

namespace cellbrook {

class FindDialog;

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

// The selected node or row (single selection), or null.
QTreeWidgetItem* SelectedItem(const QTreeWidget* view);

class TForm1 : public QMainWindow, public Ui::TForm1 {
  Q_OBJECT
 public:
  explicit TForm1(QWidget* parent = nullptr);
  ~TForm1() override;

  // Non-visual parts and the status bar's one panel.
  ImageList ImageList1;  // tree pictures: 0 the file, 1 a key
  ImageList ImageList2;  // value pictures, by type code 0 to 11
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

  void ResetKeyTree();
  void FillKeyTree(QTreeWidgetItem* node, const KeyInfo& key);
  void FillValueList(const KeyInfo& key);

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
  void ProgramWebSite1Click();
  void Find1Click();
  void Findnext1Click();
  void ViewData1Click();
  void ListView1DblClick();

 private:
  void RunFind(const SearchOptions& options);
  void ShowKeyTime(const KeyInfo& key);

  void FitValueColumn();
  void ShowPopup(QMenu* menu, QWidget* control, int x, int y);
  void ShowError(const char* text);

  CaptionCollator collator_;
  FindDialog* findDialog_ = nullptr;
  std::optional<SearchOptions> lastFind_;  // what "Find next" looks for
};

extern TForm1* Form1;

}  // namespace cellbrook
