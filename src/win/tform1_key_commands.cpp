// The main window's commands on a key's details: Properties (the key
// details window), Copy on keys and values, and Go to key.
#include <QApplication>
#include <QClipboard>
#include <QHeaderView>
#include <QMenu>
#include <QScrollBar>
#include <memory>

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

  ListView1->setColumnCount(5);
  ListView1->headerItem()->setText(kSizeColumn, "Size");
  ListView1->headerItem()->setText(kCellColumn, "Cell");
  ListView1->setColumnWidth(kSizeColumn, 70);
  ListView1->setColumnWidth(kCellColumn, 90);
  HeaderMenu1 = new QMenu(this);
  HeaderMenu1->setObjectName("HeaderMenu1");
  HeaderMenu1->setFont(MainMenu1->font());
  ShowSizeColumn1 = HeaderMenu1->addAction("Size");
  ShowSizeColumn1->setObjectName("ShowSizeColumn1");
  ShowCellColumn1 = HeaderMenu1->addAction("Cell");
  ShowCellColumn1->setObjectName("ShowCellColumn1");
  for (auto [action, column] : {std::pair{ShowSizeColumn1, kSizeColumn}, std::pair{ShowCellColumn1, kCellColumn}}) {
    action->setCheckable(true);
    ListView1->setColumnHidden(column, true);  // off until chosen; kept for the session
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
  ListView1->header()->setContextMenuPolicy(Qt::CustomContextMenu);
  connect(ListView1->header(), &QHeaderView::customContextMenuRequested, this, &TForm1::ListView1HeaderMenu);
  // Every row that comes into the list, live or recovered, gets its size and cell.
  connect(ListView1->model(), &QAbstractItemModel::rowsInserted, this,
          [this](const QModelIndex& parent, int first, int last) {
            if (!parent.isValid()) FillOptionalColumns(first, last);
          });
}

void TForm1::ListView1HeaderMenu(const QPoint& at) {
  Modal().Popup(HeaderMenu1, ListView1->header()->mapToGlobal(at));
}

void TForm1::FillOptionalColumns(int first, int last) {
  for (int i = first; i <= last && i < ListView1->topLevelItemCount(); ++i) {
    QTreeWidgetItem* row = ListView1->topLevelItem(i);
    ValueInfo value;
    std::vector<uint8_t> bytes;
    uint32_t cell = kNoCell;
    if (GetValueInfo(Hive, value, ValueOf(row))) {
      cell = value.Ref.cell;
    } else if (DeletedValueOf(row, value, bytes)) {
      cell = deleted_->Scan().values[RecordOf(row).index].cell;
    } else {
      continue;  // an entry that leads to no value
    }
    row->setText(kSizeColumn, QString::number(value.DataLength));
    row->setTextAlignment(kSizeColumn, Qt::AlignRight | Qt::AlignVCenter);
    row->setText(kCellColumn, QString("0x%1").arg(cell, 8, 16, QChar('0')));
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

bool TForm1::SelectedValue(ValueInfo& value, std::vector<uint8_t>& bytes) {
  QTreeWidgetItem* item = SelectedItem(ListView1);
  return GetValueInfo(Hive, value, ValueOf(item)) || DeletedValueOf(item, value, bytes);
}

void TForm1::CopyValueName1Click() {
  ValueInfo value;
  std::vector<uint8_t> bytes;
  if (SelectedValue(value, bytes)) {
    QApplication::clipboard()->setText(QString::fromStdString(ValueNameString(value)));
  }
}

void TForm1::CopyValueText1Click() {
  ValueInfo value;
  std::vector<uint8_t> bytes;
  if (!SelectedValue(value, bytes)) return;
  if (!value.Data.Readable()) {
    Modal().Message(this, "The data are damaged: nothing was copied.", "Cellbrook", BoxIcon::Error);
    return;
  }
  // Text types whole; others as the list shows them.
  const QString text = ShowsAsText(value.Type) ? QString::fromStdString(DecodedText(value))
                                               : SelectedItem(ListView1)->text(2);
  QApplication::clipboard()->setText(text);
}

void TForm1::CopyValueHex1Click() {
  ValueInfo value;
  std::vector<uint8_t> bytes;
  if (!SelectedValue(value, bytes)) return;
  if (!value.Data.Readable()) {
    Modal().Message(this, "The data are damaged: nothing was copied.", "Cellbrook", BoxIcon::Error);
    return;
  }
  QApplication::clipboard()->setText(QString::fromStdString(HexDigits(DataBytes(value.Data))));
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
