#include "win/tree_search.h"

#include <QTreeWidgetItemIterator>
#include <algorithm>

#include "hive/key_lookup.h"
#include "win/tform1.h"

namespace cellbrook {
namespace {

struct Row {
  std::string caption;
  ValueRef ref;
  bool matched;
};

// The first matching value after `after` in list order (caption order,
// equal captions in list order), or null.
ValueRef NextValue(const ValueList& list, const std::vector<ValueMatch>& matches, ValueRef after,
                   const CaptionCollator& collator) {
  std::vector<Row> rows;
  for (size_t i = 0; i < list.values.size(); ++i) {
    const ValueInfo& value = list.values[i];
    if (!value.Ref) continue;
    rows.push_back({value.Name.length == 0 ? std::string("(Default)") : ValueNameString(value),
                    value.Ref, matches[i].Any()});
  }
  std::stable_sort(rows.begin(), rows.end(),
                   [&collator](const Row& a, const Row& b) { return collator.Less(a.caption, b.caption); });
  auto start = rows.begin();
  if (after) {
    start = std::find_if(rows.begin(), rows.end(), [after](const Row& r) { return r.ref == after; });
    if (start != rows.end()) ++start;
  }
  const auto found = std::find_if(start, rows.end(), [](const Row& r) { return r.matched; });
  return found == rows.end() ? ValueRef{} : found->ref;
}

}  // namespace

TreeFind FindInTree(const QTreeWidget* tree, QTreeWidgetItem* from, ValueRef afterValue,
                    const HiveImage& image, HiveSearch& search, const CaptionCollator& collator) {
  TreeFind result;
  SlotBudget budget = SlotBudget::For(image);
  QTreeWidgetItemIterator it(const_cast<QTreeWidget*>(tree));
  if (from != nullptr) it = QTreeWidgetItemIterator(from);
  for (bool first = true; *it != nullptr; ++it, first = false, afterValue = ValueRef{}) {
    if (budget.Exhausted() || search.BudgetOut()) {
      result.budgetOut = true;
      return result;
    }
    KeyInfo key;
    if (!GetKeyInfo(image, key, KeyOf(*it))) continue;
    if (!first && search.KeyMatches(key)) {
      result.node = *it;
      return result;
    }
    if (!search.LooksAtValues() || key.ValueCount == 0) continue;
    const ValueList list = ReadValues(image, key, budget);
    std::vector<ValueMatch> matches;
    matches.reserve(list.values.size());
    bool any = false;
    for (const ValueInfo& value : list.values) {
      matches.push_back(search.MatchValue(value));
      any = any || matches.back().Any();
    }
    if (!any) continue;
    if (const ValueRef found = NextValue(list, matches, afterValue, collator)) {
      result.node = *it;
      result.value = found;
      return result;
    }
  }
  result.budgetOut = budget.Exhausted() || search.BudgetOut();
  return result;
}

}  // namespace cellbrook
