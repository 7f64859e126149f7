// The bounded pre-order walk shared by the tree, the listing and the export.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "hive_builder.h"
#include "hive/key_lookup.h"
#include "hive/key_walk.h"

namespace cellbrook {
namespace {

using test::BoundHive;
using test::HiveBuilder;

struct Recorder {
  std::vector<std::string> seen;  // "depth:name", "depth:-" for a missing entry
  uint32_t deepest = 0;
  bool Enter(const KeyInfo& key, uint32_t depth) {
    seen.push_back(std::to_string(depth) + ":" + KeyNameString(key));
    deepest = std::max(deepest, depth);
    return true;
  }
  void Leave(const KeyInfo&, uint32_t) {}
  void Missing(uint32_t depth) { seen.push_back(std::to_string(depth) + ":-"); }
};

KeyInfo Root(const BoundHive& hive) {
  KeyInfo k;
  GetRootKey(hive.image, k);
  return k;
}

TEST(WalkKeys, PreOrderInIndexOrderWithMissingEntries) {
  HiveBuilder b;
  const uint32_t root = b.Key("r");
  const uint32_t x = b.Key("b", root), y = b.Key("A", root), z = b.Key("c", x);
  b.SetSubkeys(root, {x, 0, y});
  b.SetSubkeys(x, {z});
  b.SetRoot(root);
  BoundHive hive(b.Image());
  Recorder r;
  EXPECT_EQ(WalkKeys(hive.image, Root(hive), kMaxKeyDepth, r), WalkEnd::Done);
  EXPECT_EQ(r.seen, (std::vector<std::string>{"0:r", "1:b", "2:c", "1:-", "1:A"}));
}

TEST(WalkKeys, SkipsAKeyAlreadyOnItsBranch) {
  HiveBuilder b;
  const uint32_t root = b.Key("r");
  const uint32_t a = b.Key("a", root), c = b.Key("c", a);
  b.SetSubkeys(root, {a});
  b.SetSubkeys(a, {c, a});      // lists itself
  b.SetSubkeys(c, {root, a});   // lists its ancestors
  b.SetRoot(root);
  BoundHive hive(b.Image());
  Recorder r;
  EXPECT_EQ(WalkKeys(hive.image, Root(hive), kMaxKeyDepth, r), WalkEnd::Done);
  EXPECT_EQ(r.seen, (std::vector<std::string>{"0:r", "1:a", "2:c"}));
}

TEST(WalkKeys, SameKeyOnSiblingBranchesIsListedEachTime) {
  HiveBuilder b;
  const uint32_t root = b.Key("r");
  const uint32_t shared = b.Key("s", root);
  b.SetSubkeys(root, {shared, shared});
  b.SetRoot(root);
  BoundHive hive(b.Image());
  Recorder r;
  WalkKeys(hive.image, Root(hive), kMaxKeyDepth, r);
  EXPECT_EQ(r.seen, (std::vector<std::string>{"0:r", "1:s", "1:s"}));
}

TEST(WalkKeys, DescendsAtMostMaxDepthLevels) {
  HiveBuilder b;
  const uint32_t root = b.Key("r");
  uint32_t parent = root;
  for (int i = 0; i < 600; ++i) {
    const uint32_t k = b.Key("k", parent);
    b.SetSubkeys(parent, {k});
    parent = k;
  }
  b.SetRoot(root);
  BoundHive hive(b.Image());
  Recorder r;
  EXPECT_EQ(WalkKeys(hive.image, Root(hive), kMaxKeyDepth, r), WalkEnd::Done);
  EXPECT_EQ(r.deepest, 512u);
  EXPECT_EQ(r.seen.size(), 513u);
}

TEST(WalkKeys, RepeatedFanOutRunsIntoTheKeyBudget) {
  // Millions of keys to walk from a few hundred kilobytes.
  BoundHive hive(test::RepeatedFanOutHive(200));
  Recorder r;
  EXPECT_EQ(WalkKeys(hive.image, Root(hive), kMaxKeyDepth, r), WalkEnd::TooManyKeys);
  EXPECT_LE(r.seen.size(), hive.image.Size / kKeyNodeFixedBytes);
}

TEST(WalkKeys, SubkeyCountAboveWhatTheImageHoldsTakesOnlyWhatFits) {
  HiveBuilder b;
  const uint32_t root = b.Key("r");
  b.SetSubkeys(root, {b.Key("a", root)});
  b.Put32(root + 0x18, 0xFFFFFFF0);
  b.SetRoot(root);
  BoundHive hive(b.Image());
  struct Counter {
    size_t keys = 0, missing = 0;
    bool Enter(const KeyInfo&, uint32_t) { return ++keys, true; }
    void Leave(const KeyInfo&, uint32_t) {}
    void Missing(uint32_t) { ++missing; }
  } c;
  WalkKeys(hive.image, Root(hive), kMaxKeyDepth, c);
  EXPECT_EQ(c.keys, 2u);  // the root and "a"; the rest of the claim reads nothing
}

TEST(WalkKeys, NoBudgetForAnImageTooSmallForOneKey) {
  HiveImage tiny;
  const uint8_t bytes[4] = {'r', 'e', 'g', 'f'};
  AttachImage(tiny, bytes, 4);
  Recorder r;
  EXPECT_EQ(WalkKeys(tiny, KeyInfo{}, kMaxKeyDepth, r), WalkEnd::TooManyKeys);
}

}  // namespace
}  // namespace cellbrook
