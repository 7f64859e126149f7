#include "present/value_rows.h"

#include <algorithm>

#include "hive/key_lookup.h"
#include "hive/text_codec.h"
#include "present/value_text.h"

namespace cellbrook {

std::vector<ValueRow> ValueRowsInIndexOrder(const HiveImage& image, const KeyInfo& key) {
  std::vector<ValueRow> rows;
  const std::vector<ValueInfo> values = ReadValues(image, key);
  rows.reserve(values.size());
  char name[kNameTextRoom];
  char text[3 * kValueTextUnits];
  char16_t buffer[kValueTextUnits];
  for (const ValueInfo& value : values) {
    ValueRow row;
    row.caption = value.NameLength == 0
                      ? std::string("(Default)")
                      : std::string(name, ValueNameText(value, name, sizeof name));
    row.typeName = ValueTypeName(value.Type);
    FormatValueText(image, value, buffer);
    row.text.assign(text, Utf16ToUtf8(buffer, kValueTextUnits, text, sizeof text));
    row.node = value.Node;
    row.type = value.Type;
    rows.push_back(std::move(row));
  }
  return rows;
}

void SortValueRows(std::vector<ValueRow>& rows, const CaptionCollator& collator) {
  std::stable_sort(rows.begin(), rows.end(), [&collator](const ValueRow& a, const ValueRow& b) {
    return collator.Less(a.caption, b.caption);
  });
}

}  // namespace cellbrook
