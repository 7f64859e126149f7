// What a walk, a listing or an export could not read: counts by kind and
// the first key path of each, told in one summary line.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <string_view>

#include "hive/hive_reader.h"

namespace cellbrook {

enum class DamageKind { SubkeyEntries, Values, ValueData, ClassNames, SecurityCells };
constexpr size_t kDamageKinds = 5;

class DamageReport {
 public:
  // `where` gives the key path; it is asked only for a kind's first damage.
  template <class PathFn>
  void Add(DamageKind kind, uint64_t count, PathFn&& where) {
    if (count == 0) return;
    const size_t k = static_cast<size_t>(kind);
    if (counts_[k] == 0) {
      firstPath_[k] = where();
      if (firstOverall_.empty()) firstOverall_ = firstPath_[k];
    }
    counts_[k] += count;
  }
  template <class PathFn>
  void AddSubkeys(const SubkeyList& list, PathFn&& where) {
    Add(DamageKind::SubkeyEntries, list.unreadable, where);
  }
  // A ValueList, or anything else that counts the same two things.
  template <class Values, class PathFn>
  void AddValues(const Values& list, PathFn&& where) {
    Add(DamageKind::Values, list.unreadable, where);
    Add(DamageKind::ValueData, list.dataDamaged, where);
  }

  // Counts another report's damage too (its first paths where this has none).
  void Add(const DamageReport& other) {
    for (size_t k = 0; k < kDamageKinds; ++k) {
      Add(static_cast<DamageKind>(k), other.counts_[k], [&] { return other.firstPath_[k]; });
    }
  }

  bool Any() const {
    for (uint64_t n : counts_) {
      if (n > 0) return true;
    }
    return false;
  }
  uint64_t Count(DamageKind kind) const { return counts_[static_cast<size_t>(kind)]; }
  const std::string& FirstPath(DamageKind kind) const { return firstPath_[static_cast<size_t>(kind)]; }

  // "The hive is damaged: 3 subkey entries and 2 values could not be read
  // (first at ROOT\A\B); everything readable was written." with `done`
  // as the last clause; empty when nothing was damaged.
  std::string Summary(std::string_view done = "everything readable was written") const;

 private:
  std::array<uint64_t, kDamageKinds> counts_{};
  std::array<std::string, kDamageKinds> firstPath_;
  std::string firstOverall_;
};

}  // namespace cellbrook
