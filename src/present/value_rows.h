// The rows of the value list for one key: caption, type name and display
// text, sorted by caption as the list shows them.
#pragma once

#include <string>
#include <vector>

#include "hive/hive_reader.h"
#include "present/caption_collator.h"

namespace cellbrook {

struct ValueRow {
  std::string caption;   // the name text, or "(Default)" for an unnamed value
  const char* typeName;  // ValueTypeName(type)
  std::string text;      // the display text, UTF-8
  ValueRef ref;          // null for an entry that leads to no value
  uint32_t type;
};

struct ValueRows {
  std::vector<ValueRow> rows;
  uint64_t unreadable = 0;   // entries that lead to no value
  uint64_t dataDamaged = 0;  // values whose data could not be read
};

// The key's values in list order, an unreadable entry as an unnamed row of
// type 0 without data.
ValueRows ValueRowsInListOrder(const HiveImage& image, const KeyInfo& key);

// Sorted by caption with the collator; equal captions keep list order.
void SortValueRows(std::vector<ValueRow>& rows, const CaptionCollator& collator);

}  // namespace cellbrook
