// The window's Find: the next key or value, in the key tree's order, whose
// name or data matches; values of a key in the order the list shows them
// (live values by caption, then the deleted ones by caption).
#pragma once

#include <cstdint>

#include "hive/hive_reader.h"
#include "present/caption_collator.h"
#include "present/hive_search.h"

class QTreeWidget;
class QTreeWidgetItem;

namespace cellbrook {

class DeletedRecords;

// A row of the value list: a live value, or a deleted one (an index into
// the scan's values).
struct ListPlace {
  ValueRef live;
  uint32_t deleted = kNoCell;
  bool Any() const { return static_cast<bool>(live) || deleted != kNoCell; }
};

struct TreeFind {
  QTreeWidgetItem* node = nullptr;  // the key found; null: nothing more
  ListPlace value;                  // the value found, or none for the key itself
  bool budgetOut = false;           // stopped early: the hive shares cells between keys
};

// Starts at `from` with its values after `after` (all of them when none;
// `from`'s own name is not matched again), then every node after it in
// tree order. With `deleted` (the recovered nodes shown in the tree),
// recovered keys and every deleted value a node lists are searched too.
// Nodes without a key or a record are passed over.
TreeFind FindInTree(const QTreeWidget* tree, QTreeWidgetItem* from, ListPlace after, const HiveImage& image,
                    HiveSearch& search, const CaptionCollator& collator, const DeletedRecords* deleted = nullptr);

}  // namespace cellbrook
