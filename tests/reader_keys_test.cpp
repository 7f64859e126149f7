// Key nodes, subkey indexes and key paths.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "hive_builder.h"
#include "hive/hive_reader.h"
#include "hive/key_lookup.h"

namespace cellbrook {
namespace {

using test::BoundHive;
using test::HiveBuilder;
using test::IndexKind;

std::vector<std::string> Names(const KeyInfo* keys, uint32_t n) {
  std::vector<std::string> names;
  for (uint32_t i = 0; i < n; ++i) names.push_back(keys[i].Ref ? KeyNameString(keys[i]) : "-");
  return names;
}

// A root with subkeys A, B, C under an index of the given kind.
struct ThreeKeys {
  explicit ThreeKeys(IndexKind kind, size_t leafSize = 2) : hive(Build(kind, leafSize)) {}
  static test::Bytes Build(IndexKind kind, size_t leafSize) {
    HiveBuilder b;
    const uint32_t root = b.Key("r");
    b.SetSubkeys(root, {b.Key("A", root), b.Key("B", root), b.Key("C", root)}, kind, leafSize);
    b.SetRoot(root);
    return b.Image();
  }
  KeyInfo Root() const {
    KeyInfo k;
    GetRootKey(hive.image, k);
    return k;
  }
  BoundHive hive;
};

TEST(EnumSubkeys, StartAndCountOverEveryIndexKind) {
  struct Case {
    uint32_t start, count, result;
    std::vector<std::string> names;
  } cases[] = {
      {0, kNoEntries, 3, {"A", "B", "C"}}, {2, 5, 1, {"C"}}, {1, 0, 0, {}}, {1, 1, 1, {"B"}},
      {3, kNoEntries, kNoEntries, {}},
  };
  for (IndexKind kind : {IndexKind::Lf, IndexKind::Lh, IndexKind::Li, IndexKind::Ri}) {
    ThreeKeys t(kind);
    for (const Case& c : cases) {
      KeyInfo out[3];
      const uint32_t got = EnumSubkeys(t.hive.image, t.Root(), out, c.start, c.count);
      ASSERT_EQ(got, c.result) << "kind " << int(kind) << " start " << c.start;
      if (got != kNoEntries) {
        EXPECT_EQ(Names(out, got), c.names);
      }
    }
  }
}

TEST(EnumSubkeys, KeyWithoutSubkeysAlwaysFails) {
  HiveBuilder b;
  const uint32_t root = b.Key("r");
  b.SetRoot(root);
  BoundHive hive(b.Image());
  KeyInfo k = hive.Key(root), out[1];
  EXPECT_EQ(EnumSubkeys(hive.image, k, out, 0, kNoEntries), kNoEntries);
  EXPECT_EQ(EnumSubkeys(hive.image, k, out, 0, 0), kNoEntries);
}

TEST(EnumSubkeys, BadEntriesGiveZeroedRecordsThatAreCounted) {
  HiveBuilder b;
  const uint32_t root = b.Key("r");
  const uint32_t value = b.Value("v", 1, {});
  const uint32_t index = b.SetSubkeys(root, {0, 0xFFFFFFFF, value, b.Key("ok", root)});
  (void)index;
  b.SetRoot(root);
  BoundHive hive(b.Image());
  KeyInfo out[4];
  ASSERT_EQ(EnumSubkeys(hive.image, hive.Key(root), out, 0, kNoEntries), 4u);
  EXPECT_EQ(Names(out, 4), (std::vector<std::string>{"-", "-", "-", "ok"}));
}

TEST(EnumSubkeys, CountAboveTheIndexReadsOnIntoTheBlock) {
  HiveBuilder b;
  const uint32_t root = b.Key("r");
  b.SetSubkeys(root, {b.Key("A", root)});
  b.Put32(root + 0x18, 3);  // the key claims three
  b.SetRoot(root);
  BoundHive hive(b.Image());
  KeyInfo out[3];
  ASSERT_EQ(EnumSubkeys(hive.image, hive.Key(root), out, 0, kNoEntries), 3u);
  EXPECT_EQ(KeyNameString(out[0]), "A");
}

TEST(EnumSubkeys, UnknownIndexSignatureLeavesTheArrayUntouched) {
  HiveBuilder b;
  const uint32_t root = b.Key("r");
  const uint32_t index = b.SetSubkeys(root, {b.Key("A", root)});
  b.Put16(index + 4, 0x6B6E);  // "nk" is no index
  b.SetRoot(root);
  BoundHive hive(b.Image());
  KeyInfo out[1];
  out[0].SubkeyCount = 77;
  EXPECT_EQ(EnumSubkeys(hive.image, hive.Key(root), out, 0, kNoEntries), kNoEntries);
  EXPECT_EQ(out[0].SubkeyCount, 77u);
}

TEST(EnumSubkeys, RootIndexTakesLeavesInOrderAndZeroesAShortFall) {
  HiveBuilder b;
  const uint32_t root = b.Key("r");
  std::vector<uint32_t> keys;
  for (const char* n : {"A", "B", "C", "D", "E"}) keys.push_back(b.Key(n, root));
  const uint32_t ri = b.SetSubkeys(root, keys, IndexKind::Ri, 2);  // leaves AB, CD, E
  // The middle leaf is made unusable: a nested "ri".
  const uint32_t middle = b.Get32(ri + 12);
  b.Put16(middle + 4, 0x6972);
  b.SetRoot(root);
  BoundHive hive(b.Image());
  KeyInfo out[5];
  ASSERT_EQ(EnumSubkeys(hive.image, hive.Key(root), out, 0, kNoEntries), 5u);
  EXPECT_EQ(Names(out, 5), (std::vector<std::string>{"A", "B", "E", "-", "-"}));
  ASSERT_EQ(EnumSubkeys(hive.image, hive.Key(root), out, 1, 2), 2u);
  EXPECT_EQ(Names(out, 2), (std::vector<std::string>{"B", "E"}));
}

TEST(EnumSubkeys, RootIndexLeafOutsideTheImageGivesNothing) {
  HiveBuilder b;
  const uint32_t root = b.Key("r");
  const uint32_t ri = b.SetSubkeys(root, {b.Key("A", root), b.Key("B", root)}, IndexKind::Ri, 1);
  b.Put32(ri + 8, 0x7FFFFFF0);
  b.SetRoot(root);
  BoundHive hive(b.Image());
  KeyInfo out[2];
  ASSERT_EQ(EnumSubkeys(hive.image, hive.Key(root), out, 0, kNoEntries), 2u);
  EXPECT_EQ(Names(out, 2), (std::vector<std::string>{"B", "-"}));
}

TEST(EnumSubkeys, LiLeavesUnderARootIndex) {
  HiveBuilder b;
  const uint32_t root = b.Key("r");
  const uint32_t a = b.Key("A", root), c = b.Key("C", root);
  const uint32_t li = b.Cell(4 + 4);
  b.Put16(li + 4, 0x696C);
  b.Put16(li + 6, 1);
  b.Put32(li + 8, c);
  const uint32_t ri = b.SetSubkeys(root, {a}, IndexKind::Ri, 1);
  // Append a second leaf by rewriting the root index.
  const uint32_t ri2 = b.Cell(4 + 8);
  b.Put16(ri2 + 4, 0x6972);
  b.Put16(ri2 + 6, 2);
  b.Put32(ri2 + 8, b.Get32(ri + 8));
  b.Put32(ri2 + 12, li);
  b.Put32(root + 0x20, ri2);
  b.Put32(root + 0x18, 2);
  b.SetRoot(root);
  BoundHive hive(b.Image());
  KeyInfo out[2];
  ASSERT_EQ(EnumSubkeys(hive.image, hive.Key(root), out, 0, kNoEntries), 2u);
  EXPECT_EQ(Names(out, 2), (std::vector<std::string>{"A", "C"}));
}

TEST(GetRootKey, FailsWithoutBinOrValidRoot) {
  test::SampleHive s = test::BuildSampleHive();
  {
    test::Bytes image = s.image;
    image[4096] = 'x';
    BoundHive hive(image);
    KeyInfo k;
    EXPECT_FALSE(GetRootKey(hive.image, k));
  }
  for (uint32_t root : {0x7FFFFFF0u, 0xFFFFFFFFu, s.software + 1}) {
    test::Bytes image = s.image;
    std::memcpy(image.data() + 0x24, &root, 4);
    BoundHive hive(image);
    KeyInfo k;
    EXPECT_FALSE(GetRootKey(hive.image, k)) << root;
  }
}

TEST(GetKeyInfo, RefusesNullOutsideAndNonKeyCells) {
  test::SampleHive s = test::BuildSampleHive();
  BoundHive hive(s.image);
  KeyInfo k;
  EXPECT_FALSE(GetKeyInfo(hive.image, k, KeyRef{}));
  EXPECT_FALSE(GetKeyInfo(hive.image, k, KeyRef{0xFFFFFFF0u}));
  EXPECT_FALSE(GetKeyInfo(hive.image, k, KeyRef{s.software + 1}));
  EXPECT_TRUE(GetKeyInfo(hive.image, k, KeyRef{s.software}));
}

TEST(GetKeyInfo, NodeWhoseNameRunsPastTheImageIsInvalid) {
  HiveBuilder b;
  const uint32_t root = b.Key("r");
  b.SetRoot(root);
  test::Bytes image = b.Image();
  const uint32_t last = static_cast<uint32_t>(image.size() - 4096 - 0x50);
  image.resize(image.size());
  BoundHive probe(image);
  // A key node placed so that its name of 0xFFFF bytes would leave the block.
  std::memcpy(probe.bytes.data() + 4096 + last + 4, "nk", 2);
  probe.bytes[4096 + last + 0x4C] = 0xFF;
  probe.bytes[4096 + last + 0x4D] = 0xFF;
  KeyInfo k;
  EXPECT_FALSE(GetKeyInfo(probe.image, k, KeyRef{last}));
}

std::string PathOf(const BoundHive& hive, uint32_t cell) {
  char buffer[4096];
  buffer[4095] = 0;
  const char* p = BuildKeyPath(hive.image, KeyRef{cell}, buffer, 4095);
  return p ? std::string(p) : "(null)";
}

TEST(BuildKeyPath, BuildsFromTheTopDown) {
  test::SampleHive s = test::BuildSampleHive();
  BoundHive hive(s.image);
  EXPECT_EQ(PathOf(hive, s.child), "ROOT\\Software\\Sample\\Child");
  EXPECT_EQ(PathOf(hive, s.system), "ROOT\\System");
}

TEST(BuildKeyPath, NameAndParentRules) {
  HiveBuilder b;
  const uint32_t root = b.Key("root");
  const uint32_t empty = b.Key("", root);
  const uint32_t orphan0 = b.Key("Orphan", 0);
  const uint32_t orphanF = b.Key("OrphanF", 0xFFFFFFFF);
  const uint32_t padded = b.KeyRawName({'A', 'b', 'c', 0, 0}, true, root);
  const uint32_t wide = b.Key("Wide\xC3\xA9", root, test::NameStorage::Utf16);
  const uint32_t latin = b.KeyRawName({'c', 'a', 'f', 0xE9}, true, root);
  b.SetRoot(root);
  BoundHive hive(b.Image());
  EXPECT_EQ(PathOf(hive, empty), "ROOT\\");
  EXPECT_EQ(PathOf(hive, orphan0), "ROOT\\Orphan");
  EXPECT_EQ(PathOf(hive, orphanF), "ROOT\\OrphanF");
  EXPECT_EQ(PathOf(hive, padded), "ROOT\\Abc");
  EXPECT_EQ(hive.Key(padded).Name.length, 5);
  EXPECT_EQ(PathOf(hive, wide), "ROOT\\Wide\xC3\xA9");
  EXPECT_EQ(PathOf(hive, latin), "ROOT\\caf\xC3\xA9");
}

TEST(BuildKeyPath, RoomIsCountedInBytes) {
  HiveBuilder b;
  const uint32_t root = b.Key("root");
  const uint32_t fits = b.Key(std::string(4090, 'x'), root);
  const uint32_t tooLong = b.Key(std::string(4091, 'x'), root);
  // Two-byte characters: 2045 of them fit (4090 bytes), 2046 do not.
  std::string e2045, e2046;
  for (int i = 0; i < 2045; ++i) e2045 += "\xC3\xA9";
  e2046 = e2045 + "\xC3\xA9";
  const uint32_t wideFits = b.Key(e2045, root, test::NameStorage::Utf16);
  const uint32_t wideLong = b.Key(e2046, root, test::NameStorage::Utf16);
  b.SetRoot(root);
  BoundHive hive(b.Image());
  char buffer[4096];
  buffer[4095] = 0;
  EXPECT_EQ(BuildKeyPath(hive.image, KeyRef{fits}, buffer, 4095), buffer);
  EXPECT_EQ(BuildKeyPath(hive.image, KeyRef{tooLong}, buffer, 4095), nullptr);
  EXPECT_EQ(BuildKeyPath(hive.image, KeyRef{wideFits}, buffer, 4095), buffer);
  EXPECT_EQ(BuildKeyPath(hive.image, KeyRef{wideLong}, buffer, 4095), nullptr);
}

TEST(BuildKeyPath, ParentCycleWithoutTheRootGivesNull) {
  HiveBuilder b;
  const uint32_t root = b.Key("root");
  const uint32_t a = b.Key("A", root);
  const uint32_t c = b.Key("C", a);
  b.Put32(a + 0x14, c);  // A's parent is C, C's parent is A
  const uint32_t self = b.Key("Self", root);
  b.Put32(self + 0x14, self);
  b.SetRoot(root);
  BoundHive hive(b.Image());
  EXPECT_EQ(PathOf(hive, c), "(null)");
  EXPECT_EQ(PathOf(hive, self), "(null)");
}

TEST(FindKeyByPath, ExactBeforeCaseInsensitiveAndFirstMatchWins) {
  HiveBuilder b;
  const uint32_t root = b.Key("root");
  const uint32_t lower = b.Key("soft", root);
  const uint32_t upper = b.Key("SOFT", root);
  const uint32_t second = b.Key("Soft", root);
  b.SetSubkeys(root, {lower, upper, second});
  b.SetRoot(root);
  BoundHive hive(b.Image());
  auto at = [&](const char* path) {
    const KeyLookup lookup = FindKeyByPath(hive.image, path);
    return lookup.found ? static_cast<int64_t>(lookup.found->key.Ref.cell) : -1;
  };
  EXPECT_EQ(at("ROOT\\SOFT"), upper);
  EXPECT_EQ(at("ROOT\\Soft"), second);
  EXPECT_EQ(at("ROOT\\sOFt"), lower);
  EXPECT_EQ(at("ROOT\\none"), -1);
  EXPECT_EQ(at("ROOTX"), -1);
  EXPECT_EQ(at("root"), -1);
  ASSERT_NE(at("ROOT"), -1);
}

// Every key the listing prints can be reached by the path it prints: the
// escaped names, and where a backslash may end a name or start an escape,
// whichever reading the hive holds.
TEST(FindKeyByPath, TakesTheEscapedFormTheListingPrints) {
  HiveBuilder b;
  const uint32_t root = b.Key("root");
  const uint32_t slash = b.Key("a\\b", root);
  const uint32_t tab = b.Key("A\tB", root);
  const uint32_t a = b.Key("A", root);
  const uint32_t tb = b.Key("tB", a);
  const uint32_t esc = b.Key("e\x1b[0m", root);
  const uint32_t lineBreaks = b.Key("\r\n", root);
  const uint32_t tools = b.Key("tools", root);
  const uint32_t under = b.Key("x", slash);
  b.SetSubkeys(a, {tb});
  b.SetSubkeys(slash, {under});
  b.SetSubkeys(root, {slash, tab, a, esc, lineBreaks, tools});
  b.SetRoot(root);
  BoundHive hive(b.Image());
  struct Case {
    const char* path;
    int64_t key;
    const char* shown;
  } cases[] = {
      {"ROOT\\a\\\\b", slash, "ROOT\\a\\\\b"},
      {"ROOT\\a\\\\b\\x", under, "ROOT\\a\\\\b\\x"},
      {"ROOT\\A\\tB", tb, "ROOT\\A\\tB"},  // a separator first: "tB" below "A"
      {"ROOT\\A\tB", tab, "ROOT\\A\\tB"},  // a TAB typed as it is
      {"ROOT\\e\\x1b[0m", esc, nullptr},
      {"ROOT\\e\\x1B[0m", esc, nullptr},
      {"ROOT\\\\r\\n", lineBreaks, "ROOT\\\\r\\n"},
      {"ROOT\\tools", tools, "ROOT\\tools"},  // right after ROOT a backslash only separates
      {"ROOT\\a\\b", -1, nullptr},            // "a" has no subkey "b"
      {"ROOT\\e\\x1", -1, nullptr},
      {"ROOT\\A\\", -1, nullptr},
  };
  for (const Case& c : cases) {
    const KeyLookup lookup = FindKeyByPath(hive.image, c.path);
    EXPECT_EQ(lookup.found ? static_cast<int64_t>(lookup.found->key.Ref.cell) : -1, c.key) << c.path;
    if (lookup.found && c.shown != nullptr) {
      EXPECT_EQ(lookup.found->shownPath, c.shown) << c.path;
    }
  }
  // Where only the escape reading exists, it is found: "A<TAB>B" has no
  // twin "tB" below a key "A" in this hive.
  HiveBuilder b2;
  const uint32_t root2 = b2.Key("root");
  const uint32_t tab2 = b2.Key("A\tB", root2);
  const uint32_t a2 = b2.Key("A", root2);
  b2.SetSubkeys(root2, {a2, tab2});
  b2.SetRoot(root2);
  BoundHive hive2(b2.Image());
  const KeyLookup second = FindKeyByPath(hive2.image, "ROOT\\A\\tB");
  ASSERT_TRUE(second.found);
  EXPECT_EQ(second.found->key.Ref.cell, tab2);
}

// Many ambiguous backslashes in a path cost a bounded number of tries.
TEST(FindKeyByPath, AmbiguousPathsAreBounded) {
  HiveBuilder b;
  const uint32_t root = b.Key("root");
  const uint32_t n = b.Key("n", root);
  b.SetSubkeys(n, {b.Key("n", n)});
  b.SetSubkeys(root, {n});
  b.SetRoot(root);
  BoundHive hive(b.Image());
  std::string path = "ROOT\\n";
  for (int i = 0; i < 2000; ++i) path += "\\n";
  path += "\\zz";
  EXPECT_FALSE(FindKeyByPath(hive.image, path).found);
}

}  // namespace
}  // namespace cellbrook
