// Value nodes, value indexes and where value data are.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "hive_builder.h"
#include "hive/hive_reader.h"
#include "hive/key_lookup.h"

namespace cellbrook {
namespace {

using test::BoundHive;
using test::Bytes;
using test::DataStorage;
using test::HiveBuilder;

// All data bytes of a value, or "(outside)".
std::string DataOf(const ValueInfo& v) {
  if (!v.Data.Readable()) return "(outside)";
  std::string out;
  v.Data.ForEachPiece(
      [&](std::span<const uint8_t> piece) { out.append(reinterpret_cast<const char*>(piece.data()), piece.size()); });
  return out;
}

struct RawValue {
  uint32_t size, dataField, type;
};

// A hive with one value node whose size and data fields are set raw, and a
// 16-byte data cell holding "0123456789abcdef" at `cell`.
struct RawValueHive {
  explicit RawValueHive(RawValue raw) {
    HiveBuilder b;
    const uint32_t root = b.Key("r");
    cell = b.Value("x", 3, Bytes{'0', '1', '2', '3', '4', '5', '6', '7', '8', '9', 'a', 'b', 'c', 'd', 'e', 'f'},
                   DataStorage::Cell);
    cell = b.Get32(cell + 0xC);
    node = b.Value("v", raw.type, {});
    b.Put32(node + 8, raw.size);
    b.Put32(node + 0xC, raw.dataField == 0xC0FFEE ? cell : raw.dataField);
    b.SetRoot(root);
    hive = std::make_unique<BoundHive>(b.Image());
  }
  ValueInfo Get() const { return hive->Value(node); }
  uint32_t cell = 0, node = 0;
  std::unique_ptr<BoundHive> hive;
};

TEST(GetValueInfo, DataLocation) {
  constexpr uint32_t kCell = 0xC0FFEE;  // stands for the data cell's offset
  struct Case {
    const char* what;
    RawValue raw;
    uint32_t length;
    std::string data;
  } cases[] = {
      {"inline dword", {0x80000004, 0x0A0B0C0D, 4}, 4, "\x0D\x0C\x0B\x0A"},
      {"inline, size 0", {0x80000000, 0x12345678, 4}, 0, ""},
      {"inline, stored 8 counts 4", {0x80000008, 0x64636261, 3}, 4, "abcd"},
      {"inline, 2 bytes", {0x80000002, 0x00004241, 1}, 2, "AB"},
      {"dword in a cell", {4, kCell, 4}, 4, "0123"},
      {"binary in a cell", {16, kCell, 3}, 16, "0123456789abcdef"},
      {"offset 0", {10, 0, 1}, 0, ""},
      {"offset FFFFFFFF", {10, 0xFFFFFFFF, 1}, 0, ""},
      {"size 0 in a cell", {0, kCell, 3}, 0, ""},
      {"offset past the image", {16, 0x7FFFFF00, 3}, 16, "(outside)"},
      {"cell running past the image", {0x7FFFFFFF, kCell, 3}, 0x7FFFFFFF, "(outside)"},
  };
  for (const Case& c : cases) {
    RawValueHive h(c.raw);
    const ValueInfo v = h.Get();
    EXPECT_EQ(v.DataLength, c.length) << c.what;
    EXPECT_EQ(DataOf(v), c.data) << c.what;
    if ((c.raw.size & 0x80000000u) && c.length > 0) {
      EXPECT_EQ(v.Data.first.data(), h.hive->bytes.data() + 4096 + h.node + 0xC) << c.what;
    }
  }
}

TEST(GetValueInfo, SeventyThousandBytesKeepTheirFullLength) {
  HiveBuilder b;
  const uint32_t root = b.Key("r");
  Bytes data(70000);
  for (size_t i = 0; i < data.size(); ++i) data[i] = static_cast<uint8_t>(i * 7);
  const uint32_t cell = b.Value("big", 3, data, DataStorage::Cell);
  const uint32_t segmented = b.Value("seg", 3, data, DataStorage::Big);
  b.SetRoot(root);
  BoundHive hive(b.Image());
  for (uint32_t node : {cell, segmented}) {
    const ValueInfo v = hive.Value(node);
    EXPECT_EQ(v.DataLength, 70000u);
    EXPECT_EQ(DataOf(v), std::string(data.begin(), data.end()));
  }
  EXPECT_TRUE(hive.Value(segmented).IsBigData);
  EXPECT_EQ(hive.Value(segmented).Data.more.size() + 1, 5u);
}

TEST(GetValueInfo, BigDataNeedsMinorVersionFourAndMoreThanOneSegment) {
  Bytes data(20000, 'z');
  for (uint32_t minor : {3u, 4u}) {
    HiveBuilder b;
    const uint32_t root = b.Key("r");
    const uint32_t v = b.Value("seg", 3, data, DataStorage::Big);
    b.SetMinorVersion(minor);
    b.SetRoot(root);
    BoundHive hive(b.Image());
    EXPECT_EQ(hive.Value(v).IsBigData, minor >= 4);
  }
  // Exactly one segment's worth is never big data, even in a "db"-looking cell.
  HiveBuilder b;
  const uint32_t root = b.Key("r");
  const uint32_t v = b.Value("small", 3, Bytes(16344, 'q'), DataStorage::Cell);
  b.Put16(b.Get32(v + 0xC) + 4, 0x6264);
  b.SetRoot(root);
  BoundHive hive(b.Image());
  EXPECT_FALSE(hive.Value(v).IsBigData);
  EXPECT_EQ(hive.Value(v).DataLength, 16344u);
}

TEST(GetValueInfo, DamagedSegmentListsCountAsOutside) {
  Bytes data(40000, 's');  // three segments
  struct Case {
    const char* what;
    int segmentCount;  // -1: keep
    int listEntry;     // which entry to aim outside, -1: none
  } cases[] = {{"list ends early", 2, -1}, {"segment outside", -1, 1}, {"no segments", 0, -1}};
  for (const Case& c : cases) {
    HiveBuilder b;
    const uint32_t root = b.Key("r");
    const uint32_t v = b.Value("seg", 3, data, DataStorage::Big);
    const uint32_t db = b.Get32(v + 0xC);
    if (c.segmentCount >= 0) b.Put16(db + 6, static_cast<uint16_t>(c.segmentCount));
    if (c.listEntry >= 0) b.Put32(b.Get32(db + 8) + 4 + 4 * c.listEntry, 0x7FFFFFF0);
    b.SetRoot(root);
    BoundHive hive(b.Image());
    EXPECT_FALSE(hive.Value(v).Data.Readable()) << c.what;
    EXPECT_EQ(DataOf(hive.Value(v)), "(outside)") << c.what;
  }
}

TEST(GetValueInfo, NamesAndTheirStorage) {
  HiveBuilder b;
  const uint32_t root = b.Key("r");
  const uint32_t unnamed = b.Value("", 1, {});
  const uint32_t latin = b.Value("caf\xC3\xA9", 1, {});
  const uint32_t wide = b.Value("\xE2\x82\xAC-x", 1, {}, DataStorage::Auto, test::NameStorage::Utf16);
  b.SetRoot(root);
  BoundHive hive(b.Image());
  EXPECT_EQ(hive.Value(unnamed).Name.length, 0);
  EXPECT_EQ(hive.Value(unnamed).Name.bytes, hive.bytes.data() + 4096 + unnamed + 0x18);
  EXPECT_EQ(ValueNameString(hive.Value(latin)), "caf\xC3\xA9");
  EXPECT_EQ(ValueNameString(hive.Value(wide)), "\xE2\x82\xAC-x");
  EXPECT_FALSE(hive.Value(wide).Name.latin1);
}

TEST(GetValueInfo, RefusesWhatIsNotAValueNode) {
  test::SampleHive s = test::BuildSampleHive();
  BoundHive hive(s.image);
  ValueInfo v;
  v.Type = 99;
  EXPECT_FALSE(GetValueInfo(hive.image, v, ValueRef{}));
  EXPECT_FALSE(GetValueInfo(hive.image, v, ValueRef{s.sample}));
  EXPECT_EQ(v.Type, 99u);
}

TEST(EnumValues, StartCountAndZeroedEntries) {
  HiveBuilder b;
  const uint32_t root = b.Key("r");
  const uint32_t key = b.Key("k", root);
  b.SetValues(key, {b.Value("a", 1, {}), 0, b.Value("c", 4, {1, 0, 0, 0})});
  b.SetRoot(root);
  BoundHive hive(b.Image());
  ValueInfo out[3];
  EXPECT_EQ(EnumValues(hive.image, hive.Key(key), out, 0, kNoEntries), 3u);
  EXPECT_EQ(ValueNameString(out[0]), "a");
  EXPECT_FALSE(out[1].Ref);
  EXPECT_EQ(out[1].Type, 0u);
  EXPECT_EQ(ValueNameString(out[2]), "c");
  EXPECT_EQ(EnumValues(hive.image, hive.Key(key), out, 3, kNoEntries), kNoEntries);
  EXPECT_EQ(EnumValues(hive.image, hive.Key(key), out, 1, 0), 0u);
  EXPECT_EQ(EnumValues(hive.image, hive.Key(root), out, 0, kNoEntries), kNoEntries);
}

TEST(EnumValues, IndexOutsideTheImageGivesZeroedEntries) {
  HiveBuilder b;
  const uint32_t root = b.Key("r");
  b.Put32(root + 0x28, 2);
  b.Put32(root + 0x2C, 0x7FFFFFF0);
  b.SetRoot(root);
  BoundHive hive(b.Image());
  ValueInfo out[2];
  out[0].Type = 5;
  ASSERT_EQ(EnumValues(hive.image, hive.Key(root), out, 0, kNoEntries), 2u);
  EXPECT_FALSE(out[0].Ref);
  EXPECT_EQ(out[0].Type, 0u);
}

}  // namespace
}  // namespace cellbrook
