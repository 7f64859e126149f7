#include "present/value_rows.h"

#include <algorithm>

#include "hive/text_codec.h"
#include "present/value_text.h"

namespace cellbrook {

ValueRows ValueRowsInListOrder(const HiveImage& image, const KeyInfo& key) {
  ValueRows result;
  SlotBudget budget = SlotBudget::For(image);
  const ValueList values = ReadValues(image, key, budget);
  result.unreadable = values.unreadable;
  result.dataDamaged = values.dataDamaged;
  result.rows.reserve(values.values.size());
  char name[kNameTextRoom];
  char text[3 * kValueTextUnits];
  char16_t buffer[kValueTextUnits];
  for (const ValueInfo& value : values.values) {
    ValueRow row;
    row.caption = value.Name.length == 0 ? std::string("(Default)")
                                         : std::string(name, value.Name.Text(name, sizeof name));
    row.typeName = ValueTypeName(value.Type);
    FormatValueText(value, buffer);
    row.text.assign(text, Utf16ToUtf8(buffer, kValueTextUnits, text, sizeof text));
    row.ref = value.Ref;
    row.type = value.Type;
    result.rows.push_back(std::move(row));
  }
  return result;
}

void SortValueRows(std::vector<ValueRow>& rows, const CaptionCollator& collator) {
  std::stable_sort(rows.begin(), rows.end(), [&collator](const ValueRow& a, const ValueRow& b) {
    return collator.Less(a.caption, b.caption);
  });
}

}  // namespace cellbrook
