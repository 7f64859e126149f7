// Pre-order walk of a key and its subtree, shared by the key tree, the key
// listing and the export. Hostile hives may link keys back up their own
// branch or share index cells between keys, so the walk
//  - skips a key that is already on the current branch,
//  - descends at most maxDepth levels below the start key,
//  - examines index and value-list slots from one budget of Size / 4 (see
//    SlotBudget): only that budget running out stops it early.
// Entries that cannot be read are counted in its damage report with the
// path of the key that lists them. One subkey list per level of the
// current branch, no recursion.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "hive/damage_report.h"
#include "hive/hive_reader.h"
#include "hive/text_codec.h"

namespace cellbrook {

constexpr uint32_t kMaxKeyDepth = 512;

enum class WalkEnd { Done, BudgetOut };

// The message for a walk the budget stopped.
constexpr const char* kBudgetOutText = "Too many index entries: the hive shares index or list cells between keys";

class KeyWalk {
 public:
  // `startPath` names the start key in damage reports ("ROOT\A", names
  // escaped as EscapeKeyName does); `branch` the keys above it.
  KeyWalk(const HiveImage& image, std::string startPath, uint32_t maxDepth = kMaxKeyDepth,
          std::vector<KeyRef> branch = {})
      : image_(image),
        budget_(SlotBudget::For(image)),
        startPath_(std::move(startPath)),
        maxDepth_(maxDepth),
        above_(std::move(branch)) {}

  // Visitor:
  //   bool Enter(const KeyInfo& key, uint32_t depth)  -- false: skip its subkeys
  //   void Leave(const KeyInfo& key, uint32_t depth)
  //   void Missing(uint32_t depth)  -- an entry inside the image that leads to no key
  template <class Visitor>
  WalkEnd Run(const KeyInfo& start, Visitor& visitor);

  SlotBudget& Budget() { return budget_; }
  DamageReport& Damage() { return damage_; }
  const DamageReport& Damage() const { return damage_; }
  // The path of the key at `depth` on the current branch (0: the start).
  std::string PathAt(uint32_t depth) const {
    std::string path = startPath_;
    for (uint32_t d = 1; d <= depth && d < depth_; ++d) {
      path += '\\';
      path += EscapeKeyName(levels_[d].key.Name.Text());
    }
    return path;
  }
  std::string CurrentPath() const { return PathAt(depth_ == 0 ? 0 : depth_ - 1); }

 private:
  struct Level {
    KeyInfo key;
    SubkeyList subkeys;
    size_t next = 0;
  };

  bool OnBranch(KeyRef ref) const {
    for (uint32_t d = 0; d < depth_; ++d) {
      if (levels_[d].key.Ref == ref) return true;
    }
    for (KeyRef r : above_) {
      if (r == ref) return true;
    }
    return false;
  }

  const HiveImage& image_;
  SlotBudget budget_;
  DamageReport damage_;
  std::string startPath_;
  uint32_t maxDepth_;
  std::vector<KeyRef> above_;
  // The current branch: levels_[0, depth_); deeper levels keep their
  // storage for the next branch.
  std::vector<Level> levels_;
  uint32_t depth_ = 0;
};

template <class Visitor>
WalkEnd KeyWalk::Run(const KeyInfo& start, Visitor& visitor) {
  depth_ = 0;
  auto enter = [&](const KeyInfo& key) {
    const uint32_t depth = depth_++;
    if (levels_.size() < depth_) levels_.emplace_back();
    Level& level = levels_[depth];
    level.key = key;
    level.next = 0;
    level.subkeys.keys.clear();
    if (!visitor.Enter(key, depth) || depth >= maxDepth_ || key.SubkeyCount == 0) return;
    ReadSubkeys(image_, key, budget_, levels_[depth].subkeys);
    damage_.AddSubkeys(levels_[depth].subkeys, [&] { return PathAt(depth); });
  };

  enter(start);
  while (depth_ > 0) {
    if (budget_.Exhausted()) return WalkEnd::BudgetOut;
    Level& top = levels_[depth_ - 1];
    if (top.next == top.subkeys.keys.size()) {
      --depth_;
      visitor.Leave(top.key, depth_);
      continue;
    }
    const KeyInfo child = top.subkeys.keys[top.next++];
    if (!child.Ref) {
      visitor.Missing(depth_);
      continue;
    }
    if (!OnBranch(child.Ref)) enter(child);
  }
  return budget_.Exhausted() ? WalkEnd::BudgetOut : WalkEnd::Done;
}

}  // namespace cellbrook
