#include "win/tree_search.h"

#include <QTreeWidgetItemIterator>
#include <algorithm>
#include <span>

#include "hive/key_lookup.h"
#include "present/value_rows.h"
#include "win/deleted_tree.h"
#include "win/tform1.h"

namespace cellbrook {
namespace {

struct Row {
  std::string caption;
  ListPlace place;
  bool matched;
};

// The first matching row after `after` in list order, or none.
ListPlace NextRow(const std::vector<Row>& rows, ListPlace after) {
  auto start = rows.begin();
  if (after.Any()) {
    start = std::find_if(rows.begin(), rows.end(), [after](const Row& r) {
      return after.deleted != kNoCell ? r.place.deleted == after.deleted : r.place.live == after.live;
    });
    if (start != rows.end()) ++start;
  }
  const auto found = std::find_if(start, rows.end(), [](const Row& r) { return r.matched; });
  return found == rows.end() ? ListPlace{} : found->place;
}

// The list's rows of one node: live values sorted by caption, then the
// deleted values it shows, sorted likewise.
class NodeRows {
 public:
  NodeRows(const HiveImage& image, HiveSearch& search, const CaptionCollator& collator, const DeletedRecords* deleted)
      : image_(image), search_(search), collator_(collator), deleted_(deleted) {}

  void Live(const KeyInfo& key, SlotBudget& budget) {
    if (key.ValueCount == 0) return;
    const ValueList list = ReadValues(image_, key, budget);
    const size_t start = rows_.size();
    for (const ValueInfo& value : list.values) {
      if (!value.Ref) continue;
      rows_.push_back({ValueCaption(value), {value.Ref, kNoCell}, search_.MatchValue(value).Any()});
    }
    SortFrom(start);
  }
  void Deleted(std::span<const uint32_t> values) {
    if (deleted_ == nullptr) return;
    const DeletedScan& scan = deleted_->Scan();
    const size_t start = rows_.size();
    for (uint32_t index : values) {
      if (index >= scan.values.size()) continue;
      const DeletedValue& value = scan.values[index];
      rows_.push_back({ValueCaption(value.name),
                       {ValueRef{}, index},
                       search_.MatchValue(DeletedValueInfo(scan, value, &name_)).Any()});
    }
    SortFrom(start);
  }
  const std::vector<Row>& Rows() const { return rows_; }
  void Clear() { rows_.clear(); }

 private:
  void SortFrom(size_t start) { SortByCaption(std::span<Row>(rows_).subspan(start), collator_); }

  const HiveImage& image_;
  HiveSearch& search_;
  const CaptionCollator& collator_;
  const DeletedRecords* deleted_;
  std::vector<Row> rows_;
  std::vector<uint8_t> name_;
};

}  // namespace

TreeFind FindInTree(const QTreeWidget* tree, QTreeWidgetItem* from, ListPlace after, const HiveImage& image,
                    HiveSearch& search, const CaptionCollator& collator, const DeletedRecords* deleted) {
  TreeFind result;
  SlotBudget budget = SlotBudget::For(image);
  QTreeWidgetItemIterator it(const_cast<QTreeWidget*>(tree));
  if (from != nullptr) it = QTreeWidgetItemIterator(from);
  NodeRows rows(image, search, collator, deleted);
  std::vector<uint8_t> name;
  // The first node's own name is not matched: it is where the search stands
  // (or the file's node, whose root key has no name in a path).
  for (bool first = true; *it != nullptr; ++it, first = false, after = ListPlace{}) {
    if (budget.Exhausted() || search.BudgetOut()) {
      result.budgetOut = true;
      return result;
    }
    rows.Clear();
    const RecordRef record = RecordOf(*it);
    KeyInfo key;
    if (record.kind == RecordKind::Live) {
      if (!GetKeyInfo(image, key, KeyOf(*it))) continue;
      if (!first && search.LooksAtKeys() && search.KeyMatches(key)) {
        result.node = *it;
        return result;
      }
      if (!search.LooksAtValues()) continue;
      rows.Live(key, budget);
      if (deleted != nullptr) rows.Deleted(deleted->SlackValuesOf(key.Ref));
    } else if (deleted == nullptr) {
      continue;
    } else if (record.kind == RecordKind::RecoveredKey && record.index < deleted->Scan().keys.size()) {
      const DeletedKey& recovered = deleted->Scan().keys[record.index];
      if (!first && search.LooksAtKeys() && search.KeyMatches(DeletedKeyInfo(recovered, name))) {
        result.node = *it;
        return result;
      }
      if (search.LooksAtValues()) rows.Deleted(recovered.values);
    } else if (record.kind == RecordKind::RecoveredRecords && search.LooksAtValues()) {
      rows.Deleted(deleted->Unassociated());
    }
    if (const ListPlace found = NextRow(rows.Rows(), after); found.Any()) {
      result.node = *it;
      result.value = found;
      return result;
    }
  }
  result.budgetOut = budget.Exhausted() || search.BudgetOut();
  return result;
}

}  // namespace cellbrook
