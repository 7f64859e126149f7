// Comparing two key trees: two hives, two states of one hive, or two
// subtrees. Keys are matched by path and values by name within a matched
// key, names compared ignoring case as key lookups do. Two lists holding
// the same names in the same order pair up as they stand; otherwise each
// is sorted once by folded name and merged, so the work is linear in the
// two trees (plus those sorts). Both walks keep the rules of
// KeyWalk on hostile hives: a key already on its branch is skipped, at most
// kMaxKeyDepth levels, and index and value-list slots come from one budget
// of Size / 4 per hive.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "hive/damage_report.h"
#include "hive/hive_reader.h"

namespace cellbrook {

enum class ChangeKind {
  KeyAdded,
  KeyRemoved,
  KeyTime,
  ValueAdded,
  ValueRemoved,
  ValueChanged,
  KeySame,  // a matched key with the same time: told only when every key is asked for, not counted
};

// One difference, handed to the sink while the compare stands on it: the
// pointers are valid only during the call. Keys and values absent on a side
// are null there; value changes carry the key of each side too.
struct Change {
  ChangeKind kind;
  uint32_t depth = 0;           // below the start key
  std::string_view path;        // "ROOT\A\B", names escaped as EscapeKeyName does
  std::u16string_view units;    // the same path with the stored name units, unescaped
  std::u16string_view keyName;  // the key's own stored units (the start key: its whole path)
  // No name below the start key on the path holds a backslash, CR or LF or
  // is empty: the unescaped path names this key and no other.
  bool plainPath = true;
  const KeyInfo* oldKey = nullptr;
  const KeyInfo* newKey = nullptr;
  const ValueInfo* oldValue = nullptr;
  const ValueInfo* newValue = nullptr;
};

// A side of the comparison: a hive and the key to start from. A null start
// (no such key in that hive) is an empty tree: everything on the other side
// is added or removed.
struct CompareSide {
  const HiveImage* image = nullptr;
  std::optional<KeyInfo> start;
  std::vector<KeyRef> above;  // the start key's ancestors, for the branch rule
};

struct CompareOutcome {
  uint64_t changes = 0;
  DamageReport oldDamage, newDamage;  // what could not be read on each side
  bool budgetOut = false;             // a side's slot budget ran out: the compare stopped
  bool Damaged() const { return oldDamage.Any() || newDamage.Any(); }
};

// Calls sink(const Change&) for every difference in tree order: a key's
// time change, then its value changes, then its subkeys; values and
// subkeys that only the old list holds come first in its order, then the
// new list's in its order. An added key is followed by all its values (added) and its
// subtree; a removed key's values and subtree are not listed. `startPath`
// names the start keys ("ROOT\A", escaped) and `startUnits` the same path
// unescaped.
// `everyKey`: also tell each matched key whose time is the same (KeySame),
// so that a caller sees every key of both trees but those below a removed one.
template <class Sink>
CompareOutcome CompareTrees(const CompareSide& oldSide, const CompareSide& newSide, std::string_view startPath,
                            std::u16string_view startUnits, Sink&& sink, bool everyKey = false);

// Whether two values' data are the same bytes (both readable).
bool SameData(const ValueData& a, const ValueData& b);

namespace detail {
class TreeComparer;
using ChangeFn = void (*)(void* sink, const Change& change);
CompareOutcome RunCompare(const CompareSide& oldSide, const CompareSide& newSide, std::string_view startPath,
                          std::u16string_view startUnits, void* sink, ChangeFn call, bool everyKey);
}  // namespace detail

template <class Sink>
CompareOutcome CompareTrees(const CompareSide& oldSide, const CompareSide& newSide, std::string_view startPath,
                            std::u16string_view startUnits, Sink&& sink, bool everyKey) {
  using S = std::remove_reference_t<Sink>;
  return detail::RunCompare(
      oldSide, newSide, startPath, startUnits, &sink, [](void* s, const Change& c) { (*static_cast<S*>(s))(c); },
      everyKey);
}

// A change kept after the compare moved on: names, types and data copied.
struct ChangeRecord {
  ChangeKind kind = ChangeKind::KeyAdded;
  uint32_t depth = 0;
  std::string path;       // escaped, as Change::path
  std::string valueName;  // UTF-8 name text; "" for the unnamed value and for keys
  bool unnamed = false;   // the value is the unnamed (default) value
  std::optional<uint32_t> oldType, newType;
  // Data bytes; absent where the side has no value or its data could not be read.
  std::optional<std::vector<uint8_t>> oldData, newData;
  uint64_t oldTime = 0, newTime = 0;  // last written times of the key, where present
};
ChangeRecord RecordOf(const Change& change);

struct CollectedChanges {
  std::vector<ChangeRecord> records;
  CompareOutcome outcome;
};
// The whole comparison of two hives from their root keys, kept.
CollectedChanges CompareHives(const HiveImage& oldImage, const HiveImage& newImage);

// "added", "removed", "changed".
const char* ChangeWord(ChangeKind kind);
bool IsValueChange(ChangeKind kind);

}  // namespace cellbrook
