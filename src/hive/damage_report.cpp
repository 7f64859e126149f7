#include "hive/damage_report.h"

#include <vector>

namespace cellbrook {

std::string DamageReport::Summary(std::string_view done) const {
  if (!Any()) return {};
  std::vector<std::string> parts;
  auto count = [](uint64_t n, const char* one, const char* many) {
    return std::to_string(n) + " " + (n == 1 ? one : many);
  };
  if (const uint64_t n = Count(DamageKind::SubkeyEntries)) {
    parts.push_back(count(n, "subkey entry", "subkey entries"));
  }
  if (const uint64_t n = Count(DamageKind::Values)) parts.push_back(count(n, "value", "values"));
  if (const uint64_t n = Count(DamageKind::ValueData)) {
    parts.push_back("the data of " + count(n, "value", "values"));
  }
  if (const uint64_t n = Count(DamageKind::ClassNames)) {
    parts.push_back(count(n, "class name", "class names"));
  }
  if (const uint64_t n = Count(DamageKind::SecurityCells)) {
    parts.push_back("the security of " + count(n, "key", "keys"));
  }
  std::string text = "The hive is damaged: ";
  for (size_t i = 0; i < parts.size(); ++i) {
    if (i > 0) text += i + 1 == parts.size() ? " and " : ", ";
    text += parts[i];
  }
  text += " could not be read (first at " + firstOverall_ + "); ";
  text += done;
  text += '.';
  return text;
}

}  // namespace cellbrook
