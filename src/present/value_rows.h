// The rows of the value list for one key: caption, type name and display
// text, sorted by caption as the list shows them.
#pragma once

#include <string>
#include <vector>

#include "present/caption_collator.h"
#include "hive/hive_reader.h"

namespace cellbrook {

struct ValueRow {
  std::string caption;   // the name text, or "(Default)" for an unnamed value
  const char* typeName;  // ValueTypeName(type)
  std::string text;      // the display text, UTF-8
  const uint8_t* node;   // the value node, or null for an unreadable entry
  uint32_t type;
};

// The key's values in index order (empty when the key has none, when its
// value count exceeds what the image can hold, or its index is unusable).
std::vector<ValueRow> ValueRowsInIndexOrder(const HiveImage& image, const KeyInfo& key);

// Sorted by caption with the collator; equal captions keep index order.
void SortValueRows(std::vector<ValueRow>& rows, const CaptionCollator& collator);

}  // namespace cellbrook
