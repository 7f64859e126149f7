// The rows of the value list for one key: caption, type name and display
// text, sorted by caption as the list shows them. The caption and the sort
// serve every list of values: live ones, recovered ones, the find's rows.
#pragma once

#include <algorithm>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "hive/hive_reader.h"
#include "present/caption_collator.h"

namespace cellbrook {

// The caption of a value without a name.
inline constexpr std::string_view kDefaultValueCaption = "(Default)";

// "(Default)" for a value with no stored name, else its whole name text.
std::string ValueCaption(const ValueInfo& value);
// The same with the name cut to kNameTextRoom bytes, as the list shows it.
std::string ShownValueCaption(const ValueInfo& value);
// A recovered value's caption from its name text ("" for no name).
std::string ValueCaption(std::string_view name);

// Sorts rows that have a `caption` by it with the collator; equal captions
// keep their order.
template <class Row>
void SortByCaption(std::span<Row> rows, const CaptionCollator& collator) {
  std::stable_sort(rows.begin(), rows.end(),
                   [&collator](const Row& a, const Row& b) { return collator.Less(a.caption, b.caption); });
}

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
