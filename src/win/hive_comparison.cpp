#include "win/hive_comparison.h"

#include <QFileInfo>
#include <QFont>
#include <QHeaderView>
#include <QPainter>
#include <QPixmap>
#include <QTreeWidget>
#include <QTreeWidgetItem>

#include <map>
#include <new>

#include "export/registry_patch.h"
#include "hive/key_lookup.h"
#include "present/value_rows.h"
#include "hive/text_codec.h"
#include "recover/logs/recovery_text.h"
#include "win/item_views_look.h"

namespace cellbrook {
namespace {

constexpr int kNodeRole = Qt::UserRole + 10;  // a tree node: index into the comparison's nodes
constexpr int kMarkRole = Qt::UserRole + 11;  // a value row: its CompareMark

// Dark enough to read on white, and told apart in grey by the font too.
QColor MarkColour(CompareMark mark) {
  switch (mark) {
    case CompareMark::Added:
      return QColor(0, 110, 0);
    case CompareMark::Removed:
      return QColor(170, 0, 0);
    case CompareMark::Changed:
      return QColor(0, 0, 170);
    case CompareMark::Same:
      break;
  }
  return QColor();
}

void StyleItem(QTreeWidgetItem* item, CompareMark mark, int columns) {
  if (mark == CompareMark::Same) return;
  for (int c = 0; c < columns; ++c) {
    QFont font = item->font(c);
    font.setBold(mark == CompareMark::Added);
    font.setStrikeOut(mark == CompareMark::Removed);
    font.setItalic(mark == CompareMark::Changed);
    item->setFont(c, font);
    item->setForeground(c, MarkColour(mark));
  }
  item->setToolTip(0, HiveComparison::MarkName(mark));
}

// The hive at `path`, with its logs applied when asked and they apply.
bool ReadSide(const std::string& path, bool applyLogs, HiveDocument& side, QString& error) {
  const LoadOutcome outcome = side.Open(path);
  if (outcome != LoadOutcome::Loaded) {
    error = LoadOutcomeText(outcome);
    return false;
  }
  if (applyLogs) side.ApplyLogs();
  return true;
}

QString FileLabel(const std::string& path) { return QFileInfo(QString::fromStdString(path)).fileName(); }

}  // namespace

std::unique_ptr<HiveComparison> HiveComparison::WithFile(const HiveImage& shown, const std::string& shownPath,
                                                         const std::string& otherPath, QString& error) {
  std::unique_ptr<HiveComparison> c(new HiveComparison());
  try {
    if (!c->old_.OpenInMemory(std::vector<uint8_t>(shown.Image, shown.Image + shown.Size), shownPath)) {
      error = LoadOutcomeText(LoadOutcome::InvalidFormat);
      return nullptr;
    }
    if (!ReadSide(otherPath, true, c->new_, error)) return nullptr;
  } catch (const std::bad_alloc&) {
    error = "There is not enough memory to compare the two hives.";
    return nullptr;
  }
  c->oldLabel_ = FileLabel(shownPath);
  c->newLabel_ = FileLabel(otherPath);
  c->guards_ = {EvidenceGuard::For(shownPath), EvidenceGuard::For(otherPath)};
  return c;
}

std::unique_ptr<HiveComparison> HiveComparison::WithLogs(const std::string& path, QString& error) {
  std::unique_ptr<HiveComparison> c(new HiveComparison());
  try {
    HiveDocument& hive = c->old_;
    if (!ReadSide(path, false, hive, error)) return nullptr;
    if (hive.Logs() != LogState::Offered) {
      error = hive.Recovery().dirty ? QString::fromStdString(RecoverySummaryLine(hive.Recovery()))
                                    : QString("The hive is clean: its transaction logs change nothing.");
      return nullptr;
    }
    if (!c->new_.OpenInMemory(hive.TakeRecoveredBytes(), path)) {
      error = LoadOutcomeText(LoadOutcome::InvalidFormat);
      return nullptr;
    }
  } catch (const std::bad_alloc&) {
    error = "There is not enough memory to compare the two hives.";
    return nullptr;
  }
  c->oldLabel_ = FileLabel(path);
  c->newLabel_ = FileLabel(path) + " with its logs applied";
  c->guards_ = {EvidenceGuard::For(path)};
  return c;
}

QString HiveComparison::MarkName(CompareMark mark) {
  switch (mark) {
    case CompareMark::Added:
      return "added";
    case CompareMark::Removed:
      return "removed";
    case CompareMark::Changed:
      return "changed";
    case CompareMark::Same:
      break;
  }
  return {};
}

QIcon HiveComparison::Marked(const QIcon& base, CompareMark mark) {
  if (mark == CompareMark::Same) return base;
  QPixmap pixmap = base.pixmap(16, 16);
  if (pixmap.isNull()) pixmap = QPixmap(16, 16), pixmap.fill(Qt::transparent);
  QPainter p(&pixmap);
  // A white box with a black sign: the shape tells the mark without colour.
  const QRect box(7, 7, 9, 9);
  p.fillRect(box, Qt::white);
  p.setPen(QPen(Qt::black, 1));
  p.drawRect(box.adjusted(0, 0, -1, -1));
  p.setPen(QPen(MarkColour(mark).darker(150), 2));
  const int midX = box.center().x(), midY = box.center().y();
  p.drawLine(box.left() + 2, midY, box.right() - 2, midY);                                  // -
  if (mark == CompareMark::Added) p.drawLine(midX, box.top() + 2, midX, box.bottom() - 2);  // +
  if (mark == CompareMark::Changed) {  // ~ : a dot above and below the bar
    p.drawPoint(box.left() + 3, midY - 2);
    p.drawPoint(box.right() - 3, midY + 2);
  }
  p.end();
  return QIcon(pixmap);
}

void HiveComparison::Mark(QTreeWidgetItem* item, CompareMark mark, const QIcon& base) const {
  item->setIcon(0, Marked(base, mark));
  StyleItem(item, mark, 1);
}

void HiveComparison::ShowTree(QTreeWidget* tree, const QIcon& folder) {
  tree->clear();
  nodes_.clear();
  CompareSide a{&old_.Hive(), std::nullopt, {}}, b{&new_.Hive(), std::nullopt, {}};
  KeyInfo root;
  if (GetRootKey(old_.Hive(), root)) a.start = root;
  if (GetRootKey(new_.Hive(), root)) b.start = root;
  std::vector<QTreeWidgetItem*> branch;  // the items of the current branch, by depth
  auto* top = new QTreeWidgetItem();
  top->setText(0, ShownName(oldLabel_ + " \u2192 " + newLabel_));
  outcome_ = CompareTrees(
      a, b, "ROOT", u"ROOT",
      [&](const Change& c) {
        const bool keyEvent = !IsValueChange(c.kind);
        if (keyEvent) {
          QTreeWidgetItem* item = c.depth == 0 ? top : new QTreeWidgetItem(branch[c.depth - 1]);
          branch.resize(c.depth);
          branch.push_back(item);
          Node node;
          node.oldCell = c.oldKey ? c.oldKey->Ref.cell : kNoCell;
          node.newCell = c.newKey ? c.newKey->Ref.cell : kNoCell;
          node.mark = c.kind == ChangeKind::KeyAdded     ? CompareMark::Added
                      : c.kind == ChangeKind::KeyRemoved ? CompareMark::Removed
                      : c.kind == ChangeKind::KeyTime    ? CompareMark::Changed
                                                         : CompareMark::Same;
          node.path.assign(c.path);
          node.units.assign(c.units);
          if (c.depth > 0) {
            const KeyInfo& key = c.newKey ? *c.newKey : *c.oldKey;
            item->setText(0, ShownName(QString::fromStdString(KeyNameString(key))));
          }
          item->setData(0, kNodeRole, QVariant::fromValue(static_cast<qulonglong>(nodes_.size())));
          nodes_.push_back(std::move(node));
        } else if (c.depth < branch.size()) {
          Node& node = nodes_[branch[c.depth]->data(0, kNodeRole).toULongLong()];
          if (node.mark == CompareMark::Same) node.mark = CompareMark::Changed;
        }
      },
      true);
  // Marks, and what lies above each difference.
  std::vector<QTreeWidgetItem*> stack{top};
  while (!stack.empty()) {
    QTreeWidgetItem* item = stack.back();
    stack.pop_back();
    const QVariant data = item->data(0, kNodeRole);
    if (!data.isValid()) continue;
    const Node& node = nodes_[data.toULongLong()];
    Mark(item, node.mark, folder);
    if (node.mark != CompareMark::Same) {
      for (QTreeWidgetItem* up = item->parent(); up != nullptr; up = up->parent()) {
        Node& above = nodes_[up->data(0, kNodeRole).toULongLong()];
        if (above.changesBelow) break;
        above.changesBelow = true;
      }
    }
    for (int i = 0; i < item->childCount(); ++i) stack.push_back(item->child(i));
  }
  if (nodes_.empty()) top->setIcon(0, folder);
  tree->addTopLevelItem(top);
  top->setExpanded(true);
  if (only_) ShowOnlyDifferences(tree, nullptr, true);
}

const HiveComparison::Node* HiveComparison::NodeOf(const QTreeWidgetItem* item) const {
  if (item == nullptr) return nullptr;
  const QVariant data = item->data(0, kNodeRole);
  if (!data.isValid() || data.toULongLong() >= nodes_.size()) return nullptr;
  return &nodes_[data.toULongLong()];
}

QString HiveComparison::KeyPathOf(const QTreeWidgetItem* item) const {
  const Node* node = NodeOf(item);
  return node ? ShownName(QString::fromStdU16String(node->units.substr(4))) : QString();
}

void HiveComparison::UseCompareColumns(QTreeWidget* list) {
  list->clear();
  list->setColumnCount(5);
  list->setHeaderLabels({"Name", "Old type", "Old value", "New type", "New value"});
  // Old and new side by side within the list's width as the window opens.
  list->setColumnWidth(0, 120);
  for (int c = 1; c < 5; ++c) list->setColumnWidth(c, c % 2 == 1 ? 80 : 120);
  for (int c = 0; c < 5; ++c) list->setColumnHidden(c, false);  // the list's own optional columns may be off
}

void HiveComparison::ShowValues(const QTreeWidgetItem* item, QTreeWidget* list, const QList<QIcon>& typePictures) {
  list->clear();
  const Node* node = NodeOf(item);
  if (node == nullptr) return;
  struct SideRows {
    std::vector<ValueRow> rows;
    std::vector<ValueInfo> values;
    std::vector<std::u16string> folds;
  };
  auto read = [](const HiveImage& image, uint32_t cell, SideRows& side) {
    KeyInfo key;
    if (cell == kNoCell || !GetKeyInfo(image, key, KeyRef{cell}) || key.ValueCount == 0) return;
    side.rows = ValueRowsInListOrder(image, key).rows;
    SortValueRows(side.rows, CaptionCollator());
    for (const ValueRow& row : side.rows) {
      ValueInfo value;
      GetValueInfo(image, value, row.ref);
      std::u16string units, fold;
      value.Name.AppendUnits(units);
      AppendFoldedUnits(units, fold);
      side.values.push_back(value);
      side.folds.push_back(std::move(fold));
    }
  };
  SideRows a, b;
  // A removed key's values are not compared: its removal says it.
  if (node->mark != CompareMark::Removed) {
    read(old_.Hive(), node->oldCell, a);
    read(new_.Hive(), node->newCell, b);
  } else {
    read(old_.Hive(), node->oldCell, a);
  }
  std::multimap<std::u16string, size_t> unmatched;  // old rows by folded name
  for (size_t i = 0; i < a.rows.size(); ++i) unmatched.emplace(a.folds[i], i);
  QList<QTreeWidgetItem*> items;
  auto add = [&](const ValueRow* oldRow, const ValueRow* newRow, CompareMark mark) {
    auto* row = new QTreeWidgetItem();
    const ValueRow& named = newRow ? *newRow : *oldRow;
    row->setText(0, ShownName(QString::fromStdString(named.caption)));
    row->setIcon(0, Marked(typePictures.value(named.type < 12 ? static_cast<qsizetype>(named.type) : -1), mark));
    if (oldRow) {
      row->setText(1, QString::fromLatin1(oldRow->typeName));
      row->setText(2, QString::fromStdString(oldRow->text));
    }
    if (newRow) {
      row->setText(3, QString::fromLatin1(newRow->typeName));
      row->setText(4, QString::fromStdString(newRow->text));
    }
    StyleItem(row, mark, 5);
    row->setData(0, kMarkRole, static_cast<int>(mark));
    items.push_back(row);
  };
  std::vector<bool> used(a.rows.size(), false);
  for (size_t j = 0; j < b.rows.size(); ++j) {
    const auto match = unmatched.find(b.folds[j]);
    if (match == unmatched.end()) {
      add(nullptr, &b.rows[j], CompareMark::Added);
      continue;
    }
    const size_t i = match->second;
    unmatched.erase(match);
    used[i] = true;
    const ValueInfo &x = a.values[i], &y = b.values[j];
    const bool same = x.Type == y.Type && (!x.Data.Readable() || !y.Data.Readable() || SameData(x.Data, y.Data));
    add(&a.rows[i], &b.rows[j], same ? CompareMark::Same : CompareMark::Changed);
  }
  for (size_t i = 0; i < a.rows.size(); ++i) {
    if (!used[i]) add(&a.rows[i], nullptr, CompareMark::Removed);
  }
  list->addTopLevelItems(items);
  // Hidden only once in the list: an item outside a view keeps no such state.
  for (QTreeWidgetItem* row : items) row->setHidden(only_ && row->data(0, kMarkRole).toInt() == 0);
}

void HiveComparison::ShowOnlyDifferences(QTreeWidget* tree, QTreeWidget* list, bool only) {
  only_ = only;
  std::vector<QTreeWidgetItem*> stack;
  for (int i = 0; i < tree->topLevelItemCount(); ++i) stack.push_back(tree->topLevelItem(i));
  while (!stack.empty()) {
    QTreeWidgetItem* item = stack.back();
    stack.pop_back();
    const Node* node = NodeOf(item);
    // The top stays: it names the two hives.
    if (node != nullptr && item->parent() != nullptr) {
      item->setHidden(only && node->mark == CompareMark::Same && !node->changesBelow);
    }
    for (int i = 0; i < item->childCount(); ++i) stack.push_back(item->child(i));
  }
  for (int i = 0; list != nullptr && i < list->topLevelItemCount(); ++i) {
    QTreeWidgetItem* row = list->topLevelItem(i);
    row->setHidden(only && row->data(0, kMarkRole).toInt() == static_cast<int>(CompareMark::Same));
  }
}

ExportOutcome HiveComparison::WritePatch(const QTreeWidgetItem* item, const std::string& prefix,
                                         const std::string& target) const {
  const Node* node = NodeOf(item);
  if (node == nullptr) return {ExportOutcome::Failed, "No key of the comparison is selected."};
  for (const EvidenceGuard& guard : guards_) {
    if (guard.Refuses(target)) return {ExportOutcome::Failed, kEvidenceRefusalText};
  }
  CompareSide a{&old_.Hive(), std::nullopt, {}}, b{&new_.Hive(), std::nullopt, {}};
  KeyInfo key;
  if (node->oldCell != kNoCell && GetKeyInfo(old_.Hive(), key, KeyRef{node->oldCell})) a.start = key;
  if (node->newCell != kNoCell && GetKeyInfo(new_.Hive(), key, KeyRef{node->newCell})) b.start = key;
  const std::string whole = prefix + Utf16ToUtf8String(std::u16string_view(node->units).substr(4));
  CompareOutcome compared;
  return WriteRegistryPatchFile(a, b, node->path, whole, target, compared);
}

}  // namespace cellbrook
