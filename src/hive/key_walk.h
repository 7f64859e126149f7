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
constexpr const char* kBudgetOutText =
    "Too many index entries: the hive shares index or list cells between keys";

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
    for (uint32_t d = 1; d <= depth && d < stack_.size(); ++d) {
      path += '\\';
      path += EscapeKeyName(stack_[d].key.Name.Text());
    }
    return path;
  }
  std::string CurrentPath() const {
    return PathAt(stack_.empty() ? 0 : static_cast<uint32_t>(stack_.size() - 1));
  }

 private:
  struct Level {
    KeyInfo key;
    std::vector<KeyInfo> subkeys;
    size_t next = 0;
  };

  bool OnBranch(KeyRef ref) const {
    for (const Level& level : stack_) {
      if (level.key.Ref == ref) return true;
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
  std::vector<Level> stack_;
};

template <class Visitor>
WalkEnd KeyWalk::Run(const KeyInfo& start, Visitor& visitor) {
  stack_.clear();
  auto enter = [&](const KeyInfo& key) {
    const uint32_t depth = static_cast<uint32_t>(stack_.size());
    stack_.push_back(Level{key, {}, 0});
    if (!visitor.Enter(key, depth) || depth >= maxDepth_ || key.SubkeyCount == 0) return;
    SubkeyList list = ReadSubkeys(image_, key, budget_);
    damage_.AddSubkeys(list, [&] { return PathAt(depth); });
    stack_.back().subkeys = std::move(list.keys);
  };

  enter(start);
  while (!stack_.empty()) {
    if (budget_.Exhausted()) return WalkEnd::BudgetOut;
    Level& top = stack_.back();
    if (top.next == top.subkeys.size()) {
      const KeyInfo key = top.key;
      stack_.pop_back();
      visitor.Leave(key, static_cast<uint32_t>(stack_.size()));
      continue;
    }
    const KeyInfo child = top.subkeys[top.next++];
    if (!child.Ref) {
      visitor.Missing(static_cast<uint32_t>(stack_.size()));
      continue;
    }
    if (!OnBranch(child.Ref)) enter(child);
  }
  return budget_.Exhausted() ? WalkEnd::BudgetOut : WalkEnd::Done;
}

}  // namespace cellbrook
