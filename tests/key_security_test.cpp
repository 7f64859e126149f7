// Class names and security cells of key nodes: built hives with their
// damage, and every key of the shared hives against a reading by hand.
#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <set>

#include "hive/hive_file.h"
#include "hive/key_security.h"
#include "hive/key_lookup.h"
#include "hive/key_walk.h"
#include "hive_builder.h"
#include "shared_hives.h"

namespace cellbrook {
namespace {

using test::Bytes;

// A key with a class name cell of `room` bytes holding `text` (UTF-16).
struct ClassHive {
  test::HiveBuilder b;
  uint32_t key, classCell;
  ClassHive(std::u16string_view text, size_t room) {
    const uint32_t root = b.Key("ROOT");
    b.SetRoot(root);
    key = b.Key("K", root);
    b.SetSubkeys(root, {key});
    classCell = b.Cell(room);
    const Bytes units = test::Utf16Bytes(text, false);
    for (size_t i = 0; i < units.size() && i < room; ++i) {
      b.Put8(classCell + 4 + static_cast<uint32_t>(i), units[i]);
    }
    b.Put32(key + key_field::ClassName, classCell);
    b.Put16(key + key_field::ClassNameLength, static_cast<uint16_t>(units.size()));
  }
};

// A key naming a security cell that holds `descriptor`.
struct SecurityHive {
  test::HiveBuilder b;
  uint32_t key, sk;
  explicit SecurityHive(const Bytes& descriptor, uint32_t references = 1) {
    const uint32_t root = b.Key("ROOT");
    b.SetRoot(root);
    key = b.Key("K", root);
    b.SetSubkeys(root, {key});
    sk = b.SecurityCell(descriptor, references);
    b.SetSecurity(key, sk);
  }
};

TEST(ClassNames, ReadFromTheirCellOrDamageSaid) {
  {
    ClassHive h(u"4a6f8c1d", 16);
    test::BoundHive hive(h.b.Image());
    const ClassName c = ReadClassName(hive.image, KeyRef{h.key});
    ASSERT_EQ(c.state, ReadState::Ok);
    EXPECT_EQ(c.Text(), "4a6f8c1d");
    EXPECT_EQ(c.length, 16);
    EXPECT_EQ(c.cell, h.classCell);
  }
  {
    ClassHive h(u"Gr\u00fc\u00dfe \U0001F600", 32);  // outside Latin-1 and the BMP
    test::BoundHive hive(h.b.Image());
    EXPECT_EQ(ReadClassName(hive.image, KeyRef{h.key}).Text(), "Gr\u00fc\u00dfe \U0001F600");
  }
  const struct {
    const char* what;
    uint32_t cell;  // kNoCell: keep the built one
    uint16_t length;
    ReadState state;
    const char* problem;
  } cases[] = {
      {"no class name", 0xFFFFFFFF, 0, ReadState::Empty, ""},
      {"a length but no cell", 0xFFFFFFFF, 8, ReadState::Damaged, "no cell"},
      {"longer than its cell", kNoCell - 1, 64, ReadState::Damaged, "runs past its cell"},
      {"cell outside the image", 0x7FFFFFF0, 8, ReadState::Damaged, "outside"},
      {"cell at the very end", 0xFFFFFFF0u - kBaseBlockSize, 8, ReadState::Damaged, "outside"},
  };
  for (const auto& c : cases) {
    ClassHive h(u"abcd", 8);
    if (c.cell != kNoCell - 1) h.b.Put32(h.key + key_field::ClassName, c.cell);
    h.b.Put16(h.key + key_field::ClassNameLength, c.length);
    test::BoundHive hive(h.b.Image());
    const ClassName name = ReadClassName(hive.image, KeyRef{h.key});
    EXPECT_EQ(name.state, c.state) << c.what;
    EXPECT_NE(name.problem.find(c.problem), std::string::npos) << c.what << ": " << name.problem;
    EXPECT_TRUE(name.bytes.empty()) << c.what;
  }
}

TEST(SecurityCells, ReadWithTheirCountsOrDamageSaid) {
  const Bytes descriptor = {1, 0, 4, 0x80, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0};
  {
    SecurityHive h(descriptor, 7);
    test::BoundHive hive(h.b.Image());
    ASSERT_EQ(KeySecurityCellOffset(hive.image, KeyRef{h.key}), h.sk);
    const SecurityCell s = ReadSecurityCell(hive.image, h.sk);
    ASSERT_EQ(s.state, ReadState::Ok) << s.problem;
    EXPECT_EQ(s.referenceCount, 7u);
    EXPECT_EQ(s.descriptorLength, descriptor.size());
    EXPECT_EQ(Bytes(s.descriptor.begin(), s.descriptor.end()), descriptor);
  }
  const struct {
    const char* what;
    std::function<void(SecurityHive&)> spoil;
    const char* problem;
  } cases[] = {
      {"outside the image", [](SecurityHive& h) { h.b.Put32(h.key + key_field::Security, 0x7FFFFF00); },
       "outside the hive"},
      {"past the end by a few bytes",
       [](SecurityHive& h) { h.b.Put32(h.key + key_field::Security, 0xFFFFFFF0u - kBaseBlockSize); },
       "outside the hive"},
      {"not a security cell", [](SecurityHive& h) { h.b.Put16(h.sk + security_field::Signature, 0x6B6E); },
       "not a security cell"},
      {"length past the cell", [](SecurityHive& h) { h.b.Put32(h.sk + security_field::DescriptorLength, 0x1000); },
       "past its cell"},
      {"length past everything",
       [](SecurityHive& h) { h.b.Put32(h.sk + security_field::DescriptorLength, 0xFFFFFFF0); }, "past its cell"},
      {"cell size lying past the image",
       [](SecurityHive& h) {
         h.b.Put32(h.sk, 0x80000008u);
         h.b.Put32(h.sk + security_field::DescriptorLength, 0x7FFFFF00);
       },
       "past the end of the hive"},
  };
  for (const auto& c : cases) {
    SecurityHive h(descriptor);
    c.spoil(h);
    test::BoundHive hive(h.b.Image());
    const SecurityCell s = ReadSecurityCell(hive.image, KeySecurityCellOffset(hive.image, KeyRef{h.key}));
    EXPECT_EQ(s.state, ReadState::Damaged) << c.what;
    EXPECT_NE(s.problem.find(c.problem), std::string::npos) << c.what << ": " << s.problem;
    EXPECT_TRUE(s.descriptor.empty());
  }
  SecurityHive none(descriptor);
  none.b.Put32(none.key + key_field::Security, 0xFFFFFFFF);
  test::BoundHive hive(none.b.Image());
  EXPECT_EQ(ReadSecurityCell(hive.image, KeySecurityCellOffset(hive.image, KeyRef{none.key})).state, ReadState::Empty);
}

// Reads the fields by hand, straight from the file's bytes.
uint32_t Raw32(const std::string& file, uint64_t at) {
  uint32_t v = 0;
  if (at + 4 <= file.size()) std::memcpy(&v, file.data() + at, 4);
  return v;
}
uint16_t Raw16(const std::string& file, uint64_t at) {
  uint16_t v = 0;
  if (at + 2 <= file.size()) std::memcpy(&v, file.data() + at, 2);
  return v;
}
std::string HexOf(const uint8_t* p, size_t n) {
  static const char kDigits[] = "0123456789abcdef";
  std::string s;
  for (size_t i = 0; i < n; ++i) {
    s += kDigits[p[i] >> 4];
    s += kDigits[p[i] & 15];
  }
  return s;
}

TEST(SharedHives, ClassNamesAndDescriptorsEqualTheCells) {
  SKIP_WITHOUT_SHARED_HIVES();
  std::set<std::string> table;
  {
    const std::string rows = test::ExpectedFile("security", "tsv");
    size_t at = rows.find('\n') + 1;
    while (at < rows.size()) {
      const size_t tab = rows.find('\t', at);
      const size_t end = rows.find('\n', at);
      if (tab == std::string::npos || tab > end) break;
      table.insert(rows.substr(at, tab - at));
      at = end + 1;
    }
  }
  ASSERT_EQ(table.size(), 1010u);
  std::set<std::string> seen;
  size_t classNames = 0;
  for (const test::SharedHive& h : test::SharedHives()) {
    const std::string file = test::ReadFileBytes(h.path);
    HiveBlock block;
    HiveImage image;
    ASSERT_EQ(LoadHiveFile(h.path, block, image), LoadOutcome::Loaded);
    struct Visitor {
      const std::string& file;
      const HiveImage& image;
      std::set<std::string>& seen;
      size_t& classNames;
      bool Enter(const KeyInfo& key, uint32_t depth) {
        const uint64_t node = kBaseBlockSize + uint64_t{key.Ref.cell};
        const uint32_t classCell = Raw32(file, node + 0x34);
        const uint16_t classLength = Raw16(file, node + 0x4E);
        const ClassName c = ReadClassName(image, key.Ref);
        if (classCell != 0xFFFFFFFF && classLength > 0) {
          ++classNames;
          EXPECT_EQ(c.state, ReadState::Ok) << c.problem;
          EXPECT_EQ(std::string(c.bytes.begin(), c.bytes.end()),
                    file.substr(kBaseBlockSize + uint64_t{classCell} + 4, classLength));
        } else {
          EXPECT_EQ(c.state, ReadState::Empty);
        }
        const uint32_t sk = Raw32(file, node + 0x30);
        const uint64_t skAt = kBaseBlockSize + uint64_t{sk};
        const SecurityCell s = ReadSecurityCell(image, KeySecurityCellOffset(image, key.Ref));
        EXPECT_EQ(s.state, ReadState::Ok) << s.problem;
        EXPECT_EQ(file.substr(skAt + 4, 2), "sk");
        EXPECT_EQ(s.referenceCount, Raw32(file, skAt + 0x10));
        const uint32_t length = Raw32(file, skAt + 0x14);
        EXPECT_EQ(s.descriptorLength, length);
        const std::string byHand = HexOf(reinterpret_cast<const uint8_t*>(file.data()) + skAt + 0x18, length);
        EXPECT_EQ(HexOf(s.descriptor.data(), s.descriptor.size()), byHand);
        if (depth > 0) seen.insert(byHand);
        return true;
      }
      void Leave(const KeyInfo&, uint32_t) {}
      void Missing(uint32_t) {}
    } visitor{file, image, seen, classNames};
    KeyInfo root;
    ASSERT_TRUE(GetRootKey(image, root));
    KeyWalk walk(image, "ROOT");
    EXPECT_EQ(walk.Run(root, visitor), WalkEnd::Done);
  }
  EXPECT_GT(classNames, 0u);
  // The distinct descriptors of the keys below each root are the table's
  // (a root's own descriptor is there only when a key below shares it).
  size_t missing = 0, extra = 0;
  for (const std::string& d : table) missing += seen.count(d) == 0;
  for (const std::string& d : seen) {
    if (table.count(d) == 0 && ++extra <= 3) ADD_FAILURE() << "not in the table: " << d;
  }
  EXPECT_EQ(missing, 0u) << "descriptors of the table no key names";
  EXPECT_EQ(extra, 0u) << "descriptors keys name that the table lacks";
}

TEST(SharedHives, SystemBootKeyClassNames) {
  SKIP_WITHOUT_SHARED_HIVES();
  HiveBlock block;
  HiveImage image;
  ASSERT_EQ(LoadHiveFile(test::SharedHivesDir() + "/SYSTEM", block, image), LoadOutcome::Loaded);
  KeyInfo root;
  ASSERT_TRUE(GetRootKey(image, root));
  // The four parts of the boot key: eight hex digits each.
  for (const char* part : {"JD", "Skew1", "GBG", "Data"}) {
    const KeyLookup found = FindKeyByPath(image, std::string("ROOT\\ControlSet001\\Control\\Lsa\\") + part);
    ASSERT_TRUE(found.found) << part;
    const ClassName c = ReadClassName(image, found.found->key.Ref);
    ASSERT_EQ(c.state, ReadState::Ok) << part;
    const std::string text = c.Text();
    EXPECT_EQ(text.size(), 8u) << part << ": " << text;
    EXPECT_EQ(text.find_first_not_of("0123456789abcdefABCDEF"), std::string::npos) << part << ": " << text;
  }
}

}  // namespace
}  // namespace cellbrook
