// Pre-order walk of a key and its subtree, shared by the key tree, the key
// listing and the export. Hostile hives may link keys back up their own
// branch or name the same keys again and again, so the walk
//  - skips a key whose node is already on the current branch,
//  - descends at most maxDepth levels below the start key,
//  - examines at most ⌊image size / 80⌋ keys in all (no well-formed hive
//    holds more key nodes than that), and
//  - reads no more of a key's subkeys than the image can hold (8 bytes an
//    index entry): a larger count is damage, and what lies past it is not
//    an index.
// It keeps one subkey array per level of the current branch, no recursion.
#pragma once

#include <algorithm>
#include <cstdint>
#include <vector>

#include "hive/hive_reader.h"

namespace cellbrook {

constexpr uint32_t kMaxKeyDepth = 512;
constexpr uint32_t kKeyNodeFixedBytes = 80;

enum class WalkEnd { Done, TooManyKeys };

inline uint64_t MaxSubkeyArray(const HiveImage& image) { return image.Size / 8; }
inline uint64_t MaxValueArray(const HiveImage& image) { return image.Size / 4; }

// Visitor:
//   bool Enter(const KeyInfo& key, uint32_t depth)  -- false: skip its subkeys
//   void Leave(const KeyInfo& key, uint32_t depth)
//   void Missing(uint32_t depth)  -- an index entry that leads to no key node
// `branch` holds the nodes above the start key, for the cycle rule.
template <class Visitor>
WalkEnd WalkKeys(const HiveImage& image, const KeyInfo& start, uint32_t maxDepth,
                 Visitor& visitor, std::vector<const uint8_t*> branch = {}) {
  struct Level {
    KeyInfo key;
    std::vector<KeyInfo> subkeys;
    size_t next = 0;
  };
  uint64_t budget = image.Size / kKeyNodeFixedBytes;
  if (budget == 0) return WalkEnd::TooManyKeys;
  --budget;

  std::vector<Level> stack;
  auto enter = [&](const KeyInfo& key) {
    const uint32_t depth = static_cast<uint32_t>(stack.size());
    const bool descend = visitor.Enter(key, depth);
    Level level;
    level.key = key;
    if (descend && depth < maxDepth && key.SubkeyCount != 0) {
      // One more entry than the budget allows tells that it ran out.
      const uint64_t want = std::min<uint64_t>({key.SubkeyCount, MaxSubkeyArray(image), budget + 1});
      level.subkeys.resize(want);
      const uint32_t got =
          EnumSubkeys(image, key, level.subkeys.data(), 0, static_cast<uint32_t>(want));
      level.subkeys.resize(got == kNoEntries ? 0 : got);
    }
    branch.push_back(key.Node);
    stack.push_back(std::move(level));
  };

  enter(start);
  while (!stack.empty()) {
    Level& top = stack.back();
    if (top.next == top.subkeys.size()) {
      const KeyInfo key = top.key;
      stack.pop_back();
      branch.pop_back();
      visitor.Leave(key, static_cast<uint32_t>(stack.size()));
      continue;
    }
    const KeyInfo child = top.subkeys[top.next++];
    if (budget == 0) return WalkEnd::TooManyKeys;
    --budget;
    const uint32_t depth = static_cast<uint32_t>(stack.size());
    if (child.Node == nullptr) {
      visitor.Missing(depth);
      continue;
    }
    bool onBranch = false;
    for (const uint8_t* n : branch) onBranch = onBranch || n == child.Node;
    if (!onBranch) enter(child);
  }
  return WalkEnd::Done;
}

}  // namespace cellbrook
