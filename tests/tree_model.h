// Key trees as plain maps for checking comparisons: a hive read into a
// model, a list of changes or a registry patch applied to one, and hives
// built from a nested description.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "compare/hive_compare.h"
#include "hive_builder.h"
#include "regtext_reader.h"

namespace cellbrook::test {

struct ModelValue {
  uint32_t type = 0;
  Bytes data;
  friend bool operator==(const ModelValue&, const ModelValue&) = default;
};
struct ModelKey {
  uint64_t time = 0;
  std::map<std::u16string, ModelValue> values;  // by folded name
};
// By folded path ("root\a\b", names escaped as the listings show them).
using TreeModel = std::map<std::u16string, ModelKey>;

TreeModel ModelOf(const HiveImage& image);
// Applies the changes as an examiner reads them: added keys created,
// removed keys dropped with their subtree, values set or dropped.
void ApplyChanges(TreeModel& model, const std::vector<ChangeRecord>& changes);
// Applies registry text as an importer does; `prefix` stands for ROOT.
void ApplyRegText(TreeModel& model, const std::vector<RegKey>& file, const std::string& prefix);
// "" when equal, else the first difference; times compared when asked.
std::string ModelDifference(const TreeModel& a, const TreeModel& b, bool times);

// A nested description of a hive to build.
struct SpecValue {
  std::string name;
  uint32_t type = 4;
  Bytes data;
  DataStorage storage = DataStorage::Auto;
  NameStorage nameStorage = NameStorage::Latin1;
};
struct SpecKey {
  std::string name;
  uint64_t time = 0;
  std::vector<SpecValue> values;
  std::vector<SpecKey> subkeys;
  NameStorage storage = NameStorage::Latin1;
};
// The root is created first, so its cell offset is the same in every hive
// built; `bins`, when larger than needed, pads the hive bins data with
// empty bins to that size (a multiple of 4096).
Bytes BuildTree(const SpecKey& root, uint32_t bins = 0);

}  // namespace cellbrook::test
