// Type names and display texts.
#include <gtest/gtest.h>

#include <string>

#include "hive_builder.h"
#include "hive/text_codec.h"
#include "present/value_text.h"

namespace cellbrook {
namespace {

using test::BoundHive;
using test::Bytes;
using test::DataStorage;
using test::HiveBuilder;
using test::Utf16Bytes;

std::u16string TextOf(uint32_t type, const Bytes& data, DataStorage storage = DataStorage::Auto) {
  HiveBuilder b;
  const uint32_t root = b.Key("r");
  const uint32_t v = b.Value("v", type, data, storage);
  b.SetRoot(root);
  BoundHive hive(b.Image());
  char16_t buffer[kValueTextUnits + 8];
  for (char16_t& u : buffer) u = u'#';
  FormatValueText(hive.Value(v), buffer);
  for (size_t i = kValueTextUnits; i < kValueTextUnits + 8; ++i) EXPECT_EQ(buffer[i], u'#');
  return std::u16string(buffer);
}

std::string Utf8(const std::u16string& s) { return Utf16ToUtf8String(s); }

TEST(ValueTypeName, NamesAndUnknown) {
  EXPECT_STREQ(ValueTypeName(0), "REG_NONE");
  EXPECT_STREQ(ValueTypeName(2), "REG_EXPAND_SZ");
  EXPECT_STREQ(ValueTypeName(10), "REG_RESOURCE_REQUIREMENTS_LIST");
  EXPECT_STREQ(ValueTypeName(11), "REG_QWORD");
  EXPECT_STREQ(ValueTypeName(12), "REG_UNKNOWN");
  EXPECT_STREQ(ValueTypeName(0x80000001), "REG_UNKNOWN");
}

TEST(FormatValueText, Rules) {
  Bytes b51(51), b50(50);
  for (size_t i = 0; i < 51; ++i) b51[i] = static_cast<uint8_t>(i);
  std::string groups50;
  for (size_t i = 0; i < 50; ++i) {
    char g[4];
    std::snprintf(g, sizeof g, "%02X ", static_cast<unsigned>(i));
    groups50 += g;
  }
  for (size_t i = 0; i < 50; ++i) b50[i] = static_cast<uint8_t>(i);
  Bytes list = Utf16Bytes(u"alpha");
  const Bytes beta = Utf16Bytes(u"beta");
  list.insert(list.end(), beta.begin(), beta.end());
  list.insert(list.end(), {0, 0});

  struct Case {
    const char* what;
    uint32_t type;
    Bytes data;
    std::string text;
  } cases[] = {
      {"dword", 4, {10, 0, 0, 0}, "0x0000000A (10)"},
      {"dword -1", 4, {0xFF, 0xFF, 0xFF, 0xFF}, "0xFFFFFFFF (-1)"},
      {"dword of 0 bytes", 4, {}, "(not set)"},
      {"dword of 2 bytes", 4, {1, 2}, "(not set)"},
      {"dword of 8 bytes", 4, {1, 0, 0, 0, 9, 9, 9, 9}, "0x00000001 (1)"},
      {"big-endian", 5, {0, 0, 1, 0}, "0x00000100 (256)"},
      {"qword", 11, {2, 0, 0, 0, 1, 0, 0, 0}, "0x0000000100000002"},
      {"qword of 4 bytes", 11, {1, 2, 3, 4}, "(not set)"},
      {"string with odd byte", 1, {'a', 0, 'b', 0, 'c', 0, 'd'}, "abc"},
      {"string ends at NUL", 1, {'a', 0, 0, 0, 'b', 0}, "a"},
      {"empty string", 1, {}, ""},
      {"expand string", 2, Utf16Bytes(u"%PATH%"), "%PATH%"},
      {"link", 6, Utf16Bytes(u"\\Registry"), "\\Registry"},
      {"list", 7, list, "alpha,..."},
      {"empty list", 7, {}, ",..."},
      {"binary", 3, {0x01, 0xAB, 0xFF}, "01 AB FF "},
      {"binary of 50", 3, b50, groups50},
      {"binary of 51", 3, b51, groups50 + "..."},
      {"none, no data", 0, {}, ""},
      {"unknown type", 12, {0xDE, 0xAD}, "DE AD "},
      {"string outside BMP", 1, Utf16Bytes(u"\U0001F600"), "\xF0\x9F\x98\x80"},
      {"unpaired surrogate", 1, {0x00, 0xD8, 'x', 0}, "\xEF\xBF\xBDx"},
  };
  for (const Case& c : cases) EXPECT_EQ(Utf8(TextOf(c.type, c.data)), c.text) << c.what;
}

TEST(FormatValueText, LongStringsAreCutWithAMark) {
  struct Case {
    uint32_t type;
    size_t units;
    size_t shownUnits;  // before the mark
    const char* tail;
  } cases[] = {
      {1, 4095, 4095, ""},                               // fits exactly
      {1, 4096, 4092, "..."},  {1, 30000, 4092, "..."},  // big data
      {7, 4091, 4091, ",..."}, {7, 4092, 4092, "..."},
  };
  for (const Case& c : cases) {
    const std::u16string text(c.units, u'x');
    const std::u16string shown = TextOf(c.type, Utf16Bytes(text));
    EXPECT_EQ(shown, std::u16string(c.shownUnits, u'x') + Utf8ToUtf16String(c.tail)) << c.type << " " << c.units;
  }
}

TEST(FormatValueText, CutNeverSplitsASurrogatePair) {
  std::u16string text(4091, u'x');
  for (int i = 0; i < 10; ++i) text += u"\U0001F600";
  const std::u16string shown = TextOf(1, Utf16Bytes(text));
  EXPECT_EQ(shown, std::u16string(4091, u'x') + u"...");
}

TEST(FormatValueText, DataOutsideTheImageShowsError) {
  for (uint32_t type : {0u, 1u, 3u, 4u, 5u, 7u, 11u, 12u}) {
    HiveBuilder b;
    const uint32_t root = b.Key("r");
    const uint32_t v = b.Value("v", type, Bytes(8, 1), DataStorage::Cell);
    b.Put32(v + 0xC, 0x7FFFFF00);
    b.SetRoot(root);
    BoundHive hive(b.Image());
    char16_t buffer[kValueTextUnits];
    FormatValueText(hive.Value(v), buffer);
    EXPECT_EQ(std::u16string(buffer), u"(error)") << type;
  }
}

TEST(FormatValueText, ZeroedValueIsAnEmptyNone) {
  test::SampleHive s = test::BuildSampleHive();
  BoundHive hive(s.image);
  char16_t buffer[kValueTextUnits];
  FormatValueText(ValueInfo{}, buffer);
  EXPECT_EQ(buffer[0], 0);
}

}  // namespace
}  // namespace cellbrook
