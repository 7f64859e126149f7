#include "win/deleted_tree.h"

#include <QTreeWidget>
#include <algorithm>

#include "hive/text_codec.h"
#include "present/value_rows.h"
#include "present/value_text.h"
#include "win/item_views_look.h"
#include "win/tform1.h"

namespace cellbrook {

const char* const kRecoveredRecordsCaption = "Recovered records";
const char* const kDeletedDataGoneText = "The data of this deleted value are no longer in the file.";

namespace {

// Beside the live cell role (Qt::UserRole).
constexpr int kKindRole = Qt::UserRole + 1;
constexpr int kIndexRole = Qt::UserRole + 2;

void Mark(QTreeWidgetItem* item, RecordKind kind, uint32_t index) {
  item->setData(0, kKindRole, static_cast<int>(kind));
  item->setData(0, kIndexRole, QVariant::fromValue(index));
}

QTreeWidgetItem* KeyNode(const DeletedKey& key, uint32_t index, const QIcon& picture) {
  auto* item = new QTreeWidgetItem();
  item->setText(0, ShownName(QString::fromStdString(key.name)));
  item->setIcon(0, picture);
  Mark(item, RecordKind::RecoveredKey, index);
  return item;
}

}  // namespace

RecordRef RecordOf(const QTreeWidgetItem* item) {
  if (item == nullptr) return {};
  const QVariant kind = item->data(0, kKindRole);
  if (!kind.isValid()) return {};
  return {static_cast<RecordKind>(kind.toInt()), item->data(0, kIndexRole).value<uint32_t>()};
}

DeletedRecords::DeletedRecords(const DeletedScan& scan) : scan_(scan), subkeys_(scan_.keys.size()) {
  for (uint32_t i = 0; i < scan_.keys.size(); ++i) {
    const DeletedKey& key = scan_.keys[i];
    if (!key.parentIsLive && key.parentKey < scan_.keys.size()) subkeys_[key.parentKey].push_back(i);
  }
  for (uint32_t i = 0; i < scan_.values.size(); ++i) {
    const DeletedValue& value = scan_.values[i];
    if (value.owner == ValueOwner::LiveSlack) slack_[value.ownerCell].push_back(i);
    if (value.owner == ValueOwner::None) unassociated_.push_back(i);
  }
}

std::span<const uint32_t> DeletedRecords::SubkeysOf(uint32_t key) const {
  if (key >= subkeys_.size()) return {};
  return subkeys_[key];
}

std::span<const uint32_t> DeletedRecords::SlackValuesOf(KeyRef key) const {
  const auto found = slack_.find(key.cell);
  if (found == slack_.end()) return {};
  return found->second;
}

void DeletedTree::Show(QTreeWidget* tree, const DeletedRecords& records, const QIcon& keyPicture,
                       const QIcon& recordsPicture, const CaptionCollator& collator) {
  Hide();
  const DeletedScan& scan = records.Scan();
  const size_t count = scan.keys.size();

  // The live nodes that get recovered children, found in one pass.
  std::unordered_map<uint32_t, QTreeWidgetItem*> liveParents;
  for (const DeletedKey& key : scan.keys) {
    if (key.parentIsLive && key.pathKind == PathKind::Full) liveParents.emplace(key.parent, nullptr);
  }
  if (!liveParents.empty() && tree->topLevelItemCount() > 0) {
    std::vector<QTreeWidgetItem*> stack{tree->topLevelItem(0)};
    while (!stack.empty()) {
      QTreeWidgetItem* item = stack.back();
      stack.pop_back();
      const auto found = liveParents.find(KeyOf(item).cell);
      if (found != liveParents.end() && found->second == nullptr) found->second = item;
      for (int i = item->childCount() - 1; i >= 0; --i) stack.push_back(item->child(i));
    }
  }

  // Each branch is built before it is attached, then attached per parent.
  auto* records_node = new QTreeWidgetItem();
  records_node->setText(0, kRecoveredRecordsCaption);
  records_node->setIcon(0, recordsPicture);
  Mark(records_node, RecordKind::RecoveredRecords, kNoCell);
  std::unordered_map<QTreeWidgetItem*, QList<QTreeWidgetItem*>> underLive;
  std::vector<QTreeWidgetItem*> liveOrder;
  std::vector<bool> placed(count);
  // Siblings by name, as the hive keeps live subkeys.
  auto byName = [&](uint32_t a, uint32_t b) { return collator.Less(scan.keys[a].name, scan.keys[b].name); };
  auto nodesByName = [&](QTreeWidgetItem* a, QTreeWidgetItem* b) {
    return byName(RecordOf(a).index, RecordOf(b).index);
  };
  std::vector<std::pair<uint32_t, QTreeWidgetItem*>> branch;
  std::vector<uint32_t> subs;
  auto grow = [&](uint32_t top, QTreeWidgetItem* node) {
    placed[top] = true;
    branch.assign(1, {top, node});
    while (!branch.empty()) {
      const auto [index, item] = branch.back();
      branch.pop_back();
      subs.clear();
      for (uint32_t sub : records.SubkeysOf(index)) {
        if (!placed[sub]) subs.push_back(sub);
        placed[sub] = true;
      }
      std::sort(subs.begin(), subs.end(), byName);
      for (uint32_t sub : subs) {
        QTreeWidgetItem* child = KeyNode(scan.keys[sub], sub, keyPicture);
        item->addChild(child);
        branch.emplace_back(sub, child);
      }
    }
  };
  auto placeTop = [&](uint32_t index) {
    const DeletedKey& key = scan.keys[index];
    QTreeWidgetItem* node = KeyNode(key, index, keyPicture);
    QTreeWidgetItem* live = nullptr;
    if (key.parentIsLive && key.pathKind == PathKind::Full) {
      const auto found = liveParents.find(key.parent);
      if (found != liveParents.end()) live = found->second;
    }
    if (live != nullptr) {
      QList<QTreeWidgetItem*>& list = underLive[live];
      if (list.isEmpty()) liveOrder.push_back(live);
      list.push_back(node);
    } else {
      records_node->addChild(node);
    }
    grow(index, node);
  };
  // Tops first: keys under live keys, and those whose chain broke at them;
  // then whatever no top reached (a parent loop), so every key shows once.
  for (uint32_t i = 0; i < count; ++i) {
    const DeletedKey& key = scan.keys[i];
    const bool recoveredParent = !key.parentIsLive && key.parentKey < count;
    if (!recoveredParent && !placed[i]) placeTop(i);
  }
  for (uint32_t i = 0; i < count; ++i) {
    if (!placed[i]) placeTop(i);
  }

  QList<QTreeWidgetItem*> tops = records_node->takeChildren();
  std::stable_sort(tops.begin(), tops.end(), nodesByName);
  records_node->addChildren(tops);
  tree_ = tree;
  for (QTreeWidgetItem* live : liveOrder) {
    QList<QTreeWidgetItem*>& nodes = underLive[live];
    std::stable_sort(nodes.begin(), nodes.end(), nodesByName);
    live->addChildren(nodes);
    added_.insert(added_.end(), nodes.begin(), nodes.end());
  }
  tree->addTopLevelItem(records_node);
  added_.push_back(records_node);
}

void DeletedTree::Hide() {
  // Deleting a node takes it out of its parent and the view.
  for (auto it = added_.rbegin(); it != added_.rend(); ++it) delete *it;
  added_.clear();
  tree_ = nullptr;
}

void DeletedTree::Forget() {
  added_.clear();
  tree_ = nullptr;
}

QList<QTreeWidgetItem*> DeletedValueRows(const DeletedScan& scan, std::span<const uint32_t> values,
                                         const QList<QIcon>& pictures, const CaptionCollator& collator) {
  struct Row {
    std::string caption;
    uint32_t index;
  };
  std::vector<Row> rows;
  rows.reserve(values.size());
  for (uint32_t index : values) {
    if (index >= scan.values.size()) continue;
    rows.push_back({ValueCaption(scan.values[index].name), index});
  }
  SortByCaption(std::span<Row>(rows), collator);
  QList<QTreeWidgetItem*> items;
  items.reserve(static_cast<qsizetype>(rows.size()));
  char text[3 * kValueTextUnits];
  char16_t buffer[kValueTextUnits];
  for (const Row& row : rows) {
    const DeletedValue& value = scan.values[row.index];
    FormatValueText(DeletedValueInfo(scan, value), buffer);
    QString shown =
        QString::fromUtf8(text, static_cast<qsizetype>(Utf16ToUtf8(buffer, kValueTextUnits, text, sizeof text)));
    if (value.data == DataState::Unreadable) shown = "(no longer in the file)";
    if (value.reallocated) shown.prepend("(reallocated) ");
    auto* item = new QTreeWidgetItem();
    item->setText(0, ShownName(QString::fromStdString(row.caption)));
    item->setIcon(0, pictures.value(value.type < 12 ? static_cast<qsizetype>(value.type) : -1));
    item->setText(1, QString::fromLatin1(ValueTypeName(value.type)));
    item->setText(2, ShownName(shown));
    Mark(item, RecordKind::RecoveredValue, row.index);
    items.push_back(item);
  }
  return items;
}

}  // namespace cellbrook
