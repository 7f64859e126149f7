#include "present/value_rows.h"

#include <algorithm>

#include "hive/text_codec.h"
#include "present/value_text.h"

namespace cellbrook {

std::string ValueCaption(const ValueInfo& value) {
  return value.Name.length == 0 ? std::string(kDefaultValueCaption) : value.Name.Text();
}

std::string ShownValueCaption(const ValueInfo& value) {
  if (value.Name.length == 0) return std::string(kDefaultValueCaption);
  char name[kNameTextRoom];
  return std::string(name, value.Name.Text(name, sizeof name));
}

std::string ValueCaption(std::string_view name) { return std::string(name.empty() ? kDefaultValueCaption : name); }

ValueRows ValueRowsInListOrder(const HiveImage& image, const KeyInfo& key) {
  ValueRows result;
  SlotBudget budget = SlotBudget::For(image);
  const ValueList values = ReadValues(image, key, budget);
  result.unreadable = values.unreadable;
  result.dataDamaged = values.dataDamaged;
  result.rows.reserve(values.values.size());
  char text[3 * kValueTextUnits];
  char16_t buffer[kValueTextUnits];
  for (const ValueInfo& value : values.values) {
    ValueRow row;
    row.caption = ShownValueCaption(value);
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
  SortByCaption(std::span<ValueRow>(rows), collator);
}

}  // namespace cellbrook
