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

struct KeyCounter {
  size_t keys = 0;
  bool Enter(const KeyInfo&, uint32_t) { return ++keys, true; }
  void Leave(const KeyInfo&, uint32_t) {}
  void Missing(uint32_t) {}
};

KeyInfo Root(const BoundHive& hive) {
  KeyInfo k;
  GetRootKey(hive.image, k);
  return k;
}

template <class Visitor>
WalkEnd Walk(const BoundHive& hive, Visitor& visitor, DamageReport* damage = nullptr) {
  KeyWalk walk(hive.image, "ROOT");
  const WalkEnd end = walk.Run(Root(hive), visitor);
  if (damage != nullptr) *damage = walk.Damage();
  return end;
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
  EXPECT_EQ(Walk(hive, r), WalkEnd::Done);
  EXPECT_EQ(r.seen, (std::vector<std::string>{"0:r", "1:b", "2:c", "1:-", "1:A"}));
}

TEST(WalkKeys, SkipsAKeyAlreadyOnItsBranch) {
  HiveBuilder b;
  const uint32_t root = b.Key("r");
  const uint32_t a = b.Key("a", root), c = b.Key("c", a);
  b.SetSubkeys(root, {a});
  b.SetSubkeys(a, {c, a});     // lists itself
  b.SetSubkeys(c, {root, a});  // lists its ancestors
  b.SetRoot(root);
  BoundHive hive(b.Image());
  Recorder r;
  EXPECT_EQ(Walk(hive, r), WalkEnd::Done);
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
  Walk(hive, r);
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
  EXPECT_EQ(Walk(hive, r), WalkEnd::Done);
  EXPECT_EQ(r.deepest, 512u);
  EXPECT_EQ(r.seen.size(), 513u);
}

TEST(WalkKeys, RepeatedFanOutRunsIntoTheSlotBudget) {
  // Millions of keys to walk from a few hundred kilobytes.
  BoundHive hive(test::RepeatedFanOutHive(200));
  Recorder r;
  EXPECT_EQ(Walk(hive, r), WalkEnd::BudgetOut);
  EXPECT_LE(r.seen.size(), hive.image.Size / 4 + 2);
}

TEST(WalkKeys, EmptySlotsCostNoKeysAndCountAsDamage) {
  // Every key is entered; the 1,998 empty slots are damage.
  BoundHive hive(test::SparseIndexHive());
  KeyCounter c;
  DamageReport damage;
  EXPECT_EQ(Walk(hive, c, &damage), WalkEnd::Done);
  EXPECT_EQ(c.keys, 53u);
  EXPECT_EQ(damage.Count(DamageKind::SubkeyEntries), 1998u);
  EXPECT_EQ(damage.FirstPath(DamageKind::SubkeyEntries), "ROOT");
}

TEST(WalkKeys, SharedValueListsRunIntoTheBudget) {
  // Many keys sharing one long value list: reading every key's values would
  // be keys x list; the budget keeps it linear in the image.
  HiveBuilder b;
  const uint32_t root = b.Key("r");
  std::vector<uint32_t> values(2000, 0);
  values[0] = b.Value("v", 4, {1, 0, 0, 0});
  b.SetValues(root, values);
  std::vector<uint32_t> keys;
  for (int i = 0; i < 300; ++i) {
    const uint32_t k = b.Key("k" + std::to_string(i), root);
    b.Put32(k + 0x28, 2000);
    b.Put32(k + 0x2C, b.Get32(root + 0x2C));
    keys.push_back(k);
  }
  b.SetSubkeys(root, keys);
  b.SetRoot(root);
  BoundHive hive(b.Image());
  KeyWalk walk(hive.image, "ROOT");
  struct ValueReader {
    KeyWalk& walk;
    const HiveImage& image;
    uint64_t slots = 0;
    bool Enter(const KeyInfo& key, uint32_t) {
      slots += ReadValues(image, key, walk.Budget()).values.size();
      return true;
    }
    void Leave(const KeyInfo&, uint32_t) {}
    void Missing(uint32_t) {}
  } reader{walk, hive.image};
  EXPECT_EQ(walk.Run(Root(hive), reader), WalkEnd::BudgetOut);
  EXPECT_LE(reader.slots, hive.image.Size / 4 + 1);
}

TEST(WalkKeys, SubkeyCountAboveWhatTheImageHoldsIsCountedNotRead) {
  HiveBuilder b;
  const uint32_t root = b.Key("r");
  b.SetSubkeys(root, {b.Key("a", root)});
  b.Put32(root + 0x18, 0xFFFFFFF0);
  b.SetRoot(root);
  BoundHive hive(b.Image());
  KeyCounter c;
  DamageReport damage;
  EXPECT_EQ(Walk(hive, c, &damage), WalkEnd::Done);
  EXPECT_EQ(c.keys, 2u);  // the root and "a"; the rest of the claim reads nothing
  EXPECT_EQ(damage.Count(DamageKind::SubkeyEntries), 0xFFFFFFF0u - 1);
}

TEST(DamageReport, SummaryNamesCountsAndTheFirstPlace) {
  DamageReport report;
  EXPECT_EQ(report.Summary(), "");
  report.Add(DamageKind::SubkeyEntries, 3, [] { return std::string("ROOT\\A\\B"); });
  report.Add(DamageKind::Values, 1, [] { return std::string("ROOT\\C"); });
  report.Add(DamageKind::ValueData, 2, [] { return std::string("ROOT\\D"); });
  report.Add(DamageKind::Values, 1, [] { return std::string("never asked"); });
  EXPECT_EQ(report.Summary(),
            "The hive is damaged: 3 subkey entries, 2 values and the data of 2 values could not "
            "be read (first at ROOT\\A\\B); everything readable was written.");
  EXPECT_EQ(report.FirstPath(DamageKind::Values), "ROOT\\C");
}

}  // namespace
}  // namespace cellbrook
