// The main window's commands on a key's details: Properties (the key
// details window), Copy on keys and values, and Go to key.
#include <QApplication>
#include <QClipboard>
#include <QHeaderView>
#include <QMenu>
#include <QScrollBar>
#include <algorithm>
#include <memory>

#include "hive/filetime.h"
#include "hive/hex_text.h"
#include "hive/key_lookup.h"
#include "present/data_text.h"
#include "present/key_details.h"
#include "win/access_keys.h"
#include "win/go_to_key_dialog.h"
#include "win/key_details_dialog.h"
#include "win/tform1.h"

namespace cellbrook {

// The value list's optional columns, after Name, Type and Value.
constexpr int kSizeColumn = 3, kCellColumn = 4;
// The key tree's optional column, after the key's name.
constexpr int kLastWrittenColumn = 1;
// What the key names keep beside the times, and the list beside a widened tree.
constexpr int kKeyColumnLeast = 150, kValueListLeast = 250;

void TForm1::SetUpKeyCommands() {
  CopyValueName1 = PopupMenu1->addAction("Copy name");
  CopyValueName1->setObjectName("CopyValueName1");
  CopyValueText1 = PopupMenu1->addAction("Copy data as text");
  CopyValueText1->setObjectName("CopyValueText1");
  CopyValueHex1 = PopupMenu1->addAction("Copy data as hex");
  CopyValueHex1->setObjectName("CopyValueHex1");
  Properties1 = PopupMenu2->addAction("Properties");
  Properties1->setObjectName("Properties1");
  Properties1->setShortcuts({QKeySequence(Qt::ALT | Qt::Key_Return), QKeySequence(Qt::ALT | Qt::Key_Enter)});
  Properties1->setShortcutContext(Qt::WindowShortcut);
  addAction(Properties1);  // the shortcut works while the menu is not shown
  CopyKeyPath1 = PopupMenu2->addAction("Copy path");
  CopyKeyPath1->setObjectName("CopyKeyPath1");
  CopyKeyName1 = PopupMenu2->addAction("Copy name");
  CopyKeyName1->setObjectName("CopyKeyName1");
  AssignAccessKeys(PopupMenu1);
  AssignAccessKeys(PopupMenu2);
  connect(Properties1, &QAction::triggered, this, &TForm1::Properties1Click);
  connect(CopyKeyPath1, &QAction::triggered, this, &TForm1::CopyKeyPath1Click);
  connect(CopyKeyName1, &QAction::triggered, this, &TForm1::CopyKeyName1Click);
  connect(CopyValueName1, &QAction::triggered, this, &TForm1::CopyValueName1Click);
  connect(CopyValueText1, &QAction::triggered, this, &TForm1::CopyValueText1Click);
  connect(CopyValueHex1, &QAction::triggered, this, &TForm1::CopyValueHex1Click);
  connect(Gotokey1, &QAction::triggered, this, &TForm1::Gotokey1Click);

  HeaderMenu1 = new QMenu(this);
  HeaderMenu1->setObjectName("HeaderMenu1");
  HeaderMenu1->setFont(MainMenu1->font());
  ShowSizeColumn1 = HeaderMenu1->addAction("Size");
  ShowSizeColumn1->setObjectName("ShowSizeColumn1");
  ShowCellColumn1 = HeaderMenu1->addAction("Cell");
  ShowCellColumn1->setObjectName("ShowCellColumn1");
  for (auto [action, column] : {std::pair{ShowSizeColumn1, kSizeColumn}, std::pair{ShowCellColumn1, kCellColumn}}) {
    action->setCheckable(true);  // off until chosen; kept for the session
    connect(action, &QAction::toggled, this, [this, column](bool on) {
      ListView1->setColumnHidden(column, !on);
      FitValueColumn();  // the value column makes room, down to its least width
      if (on) {
        // A column chosen comes into view, however narrow the list.
        QScrollBar* bar = ListView1->horizontalScrollBar();
        bar->setValue(bar->maximum());
        // And once the list has taken in the header's new width.
        auto once = std::make_shared<QMetaObject::Connection>();
        *once = connect(bar, &QScrollBar::rangeChanged, this, [bar, once](int, int maximum) {
          bar->setValue(maximum);
          QObject::disconnect(*once);
        });
      }
    });
  }
  AssignAccessKeys(HeaderMenu1);
  UseValueColumns();
  ListView1->header()->setContextMenuPolicy(Qt::CustomContextMenu);
  connect(ListView1->header(), &QHeaderView::customContextMenuRequested, this, &TForm1::ListView1HeaderMenu);
  TreeView1->setColumnCount(2);
  TreeView1->headerItem()->setText(kLastWrittenColumn, "Last written");
  TreeView1->header()->setSectionResizeMode(kLastWrittenColumn, QHeaderView::ResizeToContents);
  TreeView1->setColumnHidden(kLastWrittenColumn, true);  // off until chosen; kept for the session
  ShowLastWrittenColumn1 = new QAction("&Last written column", this);
  ShowLastWrittenColumn1->setObjectName("ShowLastWrittenColumn1");
  ShowLastWrittenColumn1->setCheckable(true);
  View1->insertAction(Artifacts1, ShowLastWrittenColumn1);
  TreeHeaderMenu1 = new QMenu(this);
  TreeHeaderMenu1->setObjectName("TreeHeaderMenu1");
  TreeHeaderMenu1->setFont(MainMenu1->font());
  TreeHeaderMenu1->addAction(ShowLastWrittenColumn1);
  connect(ShowLastWrittenColumn1, &QAction::toggled, this, &TForm1::ShowLastWrittenColumn1Click);
  TreeView1->header()->setContextMenuPolicy(Qt::CustomContextMenu);
  connect(TreeView1->header(), &QHeaderView::customContextMenuRequested, this, &TForm1::TreeView1HeaderMenu);
  connect(TreeView1, &QTreeWidget::itemExpanded, this, &TForm1::FillLastWrittenChildren);
  // Every row that comes into the list, live or recovered, gets its size and cell.
  connect(ListView1->model(), &QAbstractItemModel::rowsInserted, this,
          [this](const QModelIndex& parent, int first, int last) {
            if (!parent.isValid()) FillOptionalColumns(first, last);
          });
}

void TForm1::ListView1HeaderMenu(const QPoint& at) { Modal().Popup(HeaderMenu1, ListView1->header()->mapToGlobal(at)); }

void TForm1::FillOptionalColumns(int first, int last) {
  for (int i = first; i <= last && i < ListView1->topLevelItemCount(); ++i) {
    QTreeWidgetItem* row = ListView1->topLevelItem(i);
    ValueInfo value;
    uint32_t cell = kNoCell;
    if (GetValueInfo(Hive, value, ValueOf(row))) {
      cell = value.Ref.cell;
    } else if (DeletedValueOf(row, value)) {
      cell = deleted_->Scan().values[RecordOf(row).index].cell;
    } else {
      continue;  // an entry that leads to no value
    }
    row->setText(kSizeColumn, QString::number(value.DataLength));
    row->setTextAlignment(kSizeColumn, Qt::AlignRight | Qt::AlignVCenter);
    row->setText(kCellColumn, QString("0x%1").arg(cell, 8, 16, QChar('0')));
  }
}

void TForm1::UseValueColumns() {
  ListView1->clear();
  ListView1->setColumnCount(5);
  ListView1->setHeaderLabels({"Name", "Type", "Value", "Size", "Cell"});
  ListView1->setColumnWidth(0, 166);
  ListView1->setColumnWidth(1, 166);
  ListView1->setColumnWidth(kSizeColumn, 70);
  ListView1->setColumnWidth(kCellColumn, 90);
  ListView1->setColumnHidden(kSizeColumn, !ShowSizeColumn1->isChecked());
  ListView1->setColumnHidden(kCellColumn, !ShowCellColumn1->isChecked());
}

void TForm1::TreeView1HeaderMenu(const QPoint& at) {
  Modal().Popup(TreeHeaderMenu1, TreeView1->header()->mapToGlobal(at));
}

void TForm1::ShowLastWrittenColumn1Click(bool checked) {
  TreeView1->setColumnHidden(kLastWrittenColumn, !checked);
  TreeView1->setHeaderHidden(!checked);  // a column of times needs its caption
  FillLastWrittenColumn();
  if (checked) {
    // The pane widens to hold names and times, as far as the list can spare.
    TreeView1->resizeColumnToContents(kLastWrittenColumn);
    const int frame = TreeView1->width() - TreeView1->viewport()->width();
    const int wanted = kKeyColumnLeast + TreeView1->columnWidth(kLastWrittenColumn) + frame;
    const int spare = Splitter1->width() - kSplitterWidth - kValueListLeast;
    if (Splitter1->treeWidth() < wanted)
      Splitter1->setTreeWidth(std::min(wanted, std::max(Splitter1->treeWidth(), spare)));
  }
  FitKeyColumns();
}

void TForm1::FitKeyColumns() {
  QHeaderView* header = TreeView1->header();
  if (TreeView1->isColumnHidden(kLastWrittenColumn)) {
    header->setSectionResizeMode(0, QHeaderView::ResizeToContents);
    TreeView1->resizeColumnToContents(0);
    return;
  }
  // Both in view at once: the names give way (the user may drag the divider).
  header->setSectionResizeMode(0, QHeaderView::Interactive);
  TreeView1->resizeColumnToContents(kLastWrittenColumn);
  const int times = TreeView1->columnWidth(kLastWrittenColumn);
  TreeView1->setColumnWidth(0, std::max(kKeyColumnLeast, TreeView1->viewport()->width() - times));
  TreeView1->horizontalScrollBar()->setValue(0);
}

void TForm1::ShowLastWritten(QTreeWidgetItem* node) {
  const RecordRef record = RecordOf(node);
  KeyInfo key;
  QString text;
  if (comparison_) {
    // A comparison's nodes stand for two hives' keys: no one time.
  } else if (record.kind == RecordKind::RecoveredKey) {
    if (deleted_ && record.index < deleted_->Scan().keys.size()) {
      text = QString::fromStdString(FormatFileTime(deleted_->Scan().keys[record.index].lastWritten));
    }
  } else if (record.kind == RecordKind::Live && GetKeyInfo(Hive, key, KeyOf(node))) {
    text = QString::fromStdString(FormatFileTime(key.LastWritten));
  }
  if (node->text(kLastWrittenColumn) != text) node->setText(kLastWrittenColumn, text);
}

void TForm1::FillLastWrittenChildren(QTreeWidgetItem* node) {
  if (TreeView1->isColumnHidden(kLastWrittenColumn)) return;
  for (int i = 0; i < node->childCount(); ++i) ShowLastWritten(node->child(i));
}

void TForm1::FillLastWrittenColumn() {
  if (TreeView1->isColumnHidden(kLastWrittenColumn)) return;
  // Down the expanded nodes only, without recursion.
  std::vector<QTreeWidgetItem*> open;
  for (int i = 0; i < TreeView1->topLevelItemCount(); ++i) {
    QTreeWidgetItem* top = TreeView1->topLevelItem(i);
    ShowLastWritten(top);
    open.push_back(top);  // the top node's keys are in view however it is drawn
  }
  while (!open.empty()) {
    QTreeWidgetItem* node = open.back();
    open.pop_back();
    for (int i = 0; i < node->childCount(); ++i) ShowLastWritten(node->child(i));
    for (int i = 0; i < node->childCount(); ++i) {
      if (node->child(i)->isExpanded()) open.push_back(node->child(i));
    }
  }
}

bool TForm1::SelectedKeyDetails(KeyInfo& key, std::string& path) {
  const QTreeWidgetItem* node = SelectedItem(TreeView1);
  const RecordRef record = RecordOf(node);
  if (record.kind == RecordKind::RecoveredKey && deleted_ && record.index < deleted_->Scan().keys.size()) {
    // What the record's bytes still hold, its signature perhaps lost.
    const DeletedKey& gone = deleted_->Scan().keys[record.index];
    if (!GetKeyInfo(Hive, key, KeyRef{gone.cell})) {
      key = KeyInfo{};
      key.Ref = KeyRef{gone.cell};
      key.LastWritten = gone.lastWritten;
    }
    path = DeletedKeyPathText(deleted_->Scan(), gone);
    return true;
  }
  if (record.kind != RecordKind::Live || !GetKeyInfo(Hive, key, KeyOf(node))) return false;
  NameBuffer[4095] = 0;
  const char* built = BuildKeyPath(Hive, key.Ref, NameBuffer, 4095);
  path = built != nullptr ? built : "";
  return true;
}

void TForm1::Properties1Click() {
  KeyInfo key;
  std::string path;
  if (!SelectedKeyDetails(key, path)) return;
  SecurityCache cache(Hive);
  KeyDetailsDialog dialog(this);
  dialog.ShowDetails(ReadKeyDetails(Hive, key, path, cache));
  dialog.exec();
}

void TForm1::CopyKeyPath1Click() {
  KeyInfo key;
  std::string path;
  if (SelectedKeyDetails(key, path)) QApplication::clipboard()->setText(QString::fromStdString(path));
}

void TForm1::CopyKeyName1Click() {
  const QTreeWidgetItem* node = SelectedItem(TreeView1);
  KeyInfo key;
  if (GetKeyInfo(Hive, key, KeyOf(node))) {
    QApplication::clipboard()->setText(QString::fromStdString(KeyNameString(key)));
  } else if (RecordOf(node).kind == RecordKind::RecoveredKey && deleted_ &&
             RecordOf(node).index < deleted_->Scan().keys.size()) {
    QApplication::clipboard()->setText(QString::fromStdString(deleted_->Scan().keys[RecordOf(node).index].name));
  }
}

bool TForm1::SelectedValue(ValueInfo& value) {
  QTreeWidgetItem* item = SelectedItem(ListView1);
  return GetValueInfo(Hive, value, ValueOf(item)) || DeletedValueOf(item, value);
}

void TForm1::CopyValueName1Click() {
  ValueInfo value;
  if (SelectedValue(value)) {
    QApplication::clipboard()->setText(QString::fromStdString(ValueNameString(value)));
  }
}

bool TForm1::SelectedDataToCopy(ValueInfo& value) {
  if (!SelectedValue(value)) return false;
  if (value.Data.Readable()) return true;
  Modal().Message(this, "The data are damaged: nothing was copied.", "Cellbrook", BoxIcon::Error);
  return false;
}

void TForm1::CopyValueText1Click() {
  ValueInfo value;
  if (!SelectedDataToCopy(value)) return;
  // Text types whole; others as the list shows them.
  const QString text =
      ShowsAsText(value.Type) ? QString::fromStdString(DecodedText(value)) : SelectedItem(ListView1)->text(2);
  QApplication::clipboard()->setText(text);
}

void TForm1::CopyValueHex1Click() {
  ValueInfo value;
  if (!SelectedDataToCopy(value)) return;
  QApplication::clipboard()->setText(QString::fromStdString(HexText(DataBytes(value.Data))));
}

void TForm1::Gotokey1Click() {
  if (!document_.Loaded()) return;
  GoToKeyDialog dialog(this);
  dialog.SetHive(&Hive);
  if (dialog.exec() != QDialog::Accepted) return;
  const QString path = FullKeyPath(dialog.Path());
  const KeyLookup found = FindKeyByPath(Hive, path.toStdString());
  if (!found.found) {
    Modal().Message(this, "Key not found: " + path, "Cellbrook", BoxIcon::Information);
    return;
  }
  // Down the tree by cells: the root node first, then each key on the way.
  QTreeWidgetItem* node = TreeView1->topLevelItem(0);
  std::vector<KeyRef> chain(found.found->ancestors.begin() + (found.found->ancestors.empty() ? 0 : 1),
                            found.found->ancestors.end());
  if (!found.found->ancestors.empty()) chain.push_back(found.found->key.Ref);
  for (KeyRef ref : chain) {
    QTreeWidgetItem* next = nullptr;
    for (int i = 0; node != nullptr && i < node->childCount() && next == nullptr; ++i) {
      if (KeyOf(node->child(i)) == ref) next = node->child(i);
    }
    if (next == nullptr) {
      Modal().Message(this, "Key not found in the tree: " + path, "Cellbrook", BoxIcon::Information);
      return;
    }
    node = next;
  }
  for (QTreeWidgetItem* up = node->parent(); up != nullptr; up = up->parent()) up->setExpanded(true);
  TreeView1->setCurrentItem(node);
  TreeView1->scrollToItem(node, QAbstractItemView::PositionAtCenter);
  TreeView1->setFocus();
  TreeView1Click();
}

}  // namespace cellbrook
