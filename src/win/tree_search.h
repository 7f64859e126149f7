// The window's Find: the next key or value, in the key tree's order, whose
// name or data matches; values of a key in the order the list shows them.
#pragma once

#include "hive/hive_reader.h"
#include "present/caption_collator.h"
#include "present/hive_search.h"

class QTreeWidget;
class QTreeWidgetItem;

namespace cellbrook {

struct TreeFind {
  QTreeWidgetItem* node = nullptr;  // the key found; null: nothing more
  ValueRef value;                   // the value found, or null for the key itself
  bool budgetOut = false;           // stopped early: the hive shares cells between keys
};

// Starts at `from` with its values after `afterValue` (all of them when
// null; `from`'s own name is not matched again), then every node after it
// in tree order. Nodes without a key are passed over.
TreeFind FindInTree(const QTreeWidget* tree, QTreeWidgetItem* from, ValueRef afterValue,
                    const HiveImage& image, HiveSearch& search, const CaptionCollator& collator);

}  // namespace cellbrook
