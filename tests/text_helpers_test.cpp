// The hex encoder and the value captions every list and output shares.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "hive/hex_text.h"
#include "hive_builder.h"
#include "present/caption_collator.h"
#include "present/value_rows.h"

namespace cellbrook {
namespace {

using test::BoundHive;
using test::Bytes;
using test::HiveBuilder;

TEST(HexText, EveryByteTwoDigitsInTheCaseAskedFor) {
  struct Case {
    Bytes bytes;
    HexCase letters;
    std::string separator;
    std::string text;
  } cases[] = {
      {{}, HexCase::Lower, "", ""},
      {{}, HexCase::Upper, " ", ""},
      {{0x00}, HexCase::Lower, "", "00"},
      {{0x0F}, HexCase::Upper, ",", "0F"},
      {{0x00, 0x09, 0x0A, 0x7F, 0x80, 0xAB, 0xFF}, HexCase::Lower, "", "00090a7f80abff"},
      {{0x00, 0x09, 0x0A, 0x7F, 0x80, 0xAB, 0xFF}, HexCase::Upper, "", "00090A7F80ABFF"},
      {{0xDE, 0xAD, 0xBE, 0xEF}, HexCase::Lower, ",", "de,ad,be,ef"},
      {{0xDE, 0xAD, 0xBE, 0xEF}, HexCase::Upper, " - ", "DE - AD - BE - EF"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    EXPECT_EQ(HexText(c.bytes, c.letters, c.separator), c.text);
    std::string appended = "x:";
    AppendHex(appended, c.bytes, c.letters, c.separator);
    EXPECT_EQ(appended, "x:" + c.text);
  }
  // Every byte against the digits printf gives.
  for (unsigned b = 0; b < 256; ++b) {
    char lower[3], upper[3];
    std::snprintf(lower, sizeof lower, "%02x", b);
    std::snprintf(upper, sizeof upper, "%02X", b);
    const uint8_t byte = static_cast<uint8_t>(b);
    std::string one;
    AppendHexByte(one, byte);
    EXPECT_EQ(one, lower);
    std::u16string units = u"<";
    AppendHexByte(units, byte, HexCase::Upper);
    EXPECT_EQ(units, u"<" + std::u16string(upper, upper + 2));
    char16_t put[3] = {0, 0, u'!'};
    EXPECT_EQ(PutHexByte(put, byte), put + 2);
    EXPECT_EQ(std::u16string(put, 3), std::u16string(lower, lower + 2) + u"!");
  }
}

TEST(ValueCaptions, UnnamedIsDefaultAndTheListCutsLongNames) {
  HiveBuilder b;
  const uint32_t root = b.Key("r");
  const std::string longName(5000, 'n');
  struct Case {
    std::string name;     // as stored, Latin-1
    std::string caption;  // whole
    size_t shown;         // bytes of the list's caption
  } cases[] = {
      {"", "(Default)", 9},
      {"Run", "Run", 3},
      {"(Default)", "(Default)", 9},
      {std::string("\0x", 2), "", 0},  // a name, but no character before its NUL
      {longName, longName, kNameTextRoom},
  };
  std::vector<uint32_t> cells;
  for (const Case& c : cases) cells.push_back(b.Value(c.name, 1, {}));
  b.SetValues(root, cells);
  b.SetRoot(root);
  const BoundHive hive(b.Image());
  for (size_t i = 0; i < std::size(cases); ++i) {
    SCOPED_TRACE(i);
    const ValueInfo value = hive.Value(cells[i]);
    EXPECT_EQ(ValueCaption(value), cases[i].caption);
    const std::string shown = ShownValueCaption(value);
    EXPECT_EQ(shown.size(), cases[i].shown);
    EXPECT_TRUE(shown == cases[i].caption.substr(0, cases[i].shown));
  }
  // A recovered value's caption from its name text.
  EXPECT_EQ(ValueCaption(std::string_view()), "(Default)");
  EXPECT_EQ(ValueCaption(std::string_view("Run")), "Run");
}

TEST(ValueCaptions, RowsSortByCaptionEqualOnesKeepTheirOrder) {
  const CaptionCollator collator;
  struct Row {
    std::string caption;
    int order;
  };
  struct Case {
    std::vector<std::string> names;  // list order; "" for unnamed
    std::vector<int> sorted;         // list positions after the sort
  } cases[] = {
      {{}, {}},
      {{"b", "", "a"}, {1, 2, 0}},
      {{"beta", "Alpha", "alpha", ""}, {3, 2, 1, 0}},
      {{"x", "", "x", "(Default)", "x"}, {1, 3, 0, 2, 4}},
      {{"Run10", "Run9", "Run1"}, {2, 0, 1}},
  };
  for (const Case& c : cases) {
    std::vector<Row> rows;
    for (size_t i = 0; i < c.names.size(); ++i) rows.push_back({ValueCaption(c.names[i]), static_cast<int>(i)});
    SortByCaption(std::span<Row>(rows), collator);
    std::vector<int> got;
    for (const Row& r : rows) got.push_back(r.order);
    EXPECT_EQ(got, c.sorted) << ::testing::PrintToString(c.names);
  }
  // The list's own rows sort the same way, and a sort of part of a list
  // leaves the rest alone.
  HiveBuilder b;
  const uint32_t root = b.Key("r");
  b.SetValues(root, {b.Value("beta", 1, {}), b.Value("", 1, {}), b.Value("Alpha", 1, {})});
  b.SetRoot(root);
  const BoundHive hive(b.Image());
  ValueRows list = ValueRowsInListOrder(hive.image, hive.Key(root));
  SortValueRows(list.rows, collator);
  ASSERT_EQ(list.rows.size(), 3u);
  EXPECT_EQ(list.rows[0].caption, "(Default)");
  EXPECT_EQ(list.rows[1].caption, "Alpha");
  EXPECT_EQ(list.rows[2].caption, "beta");
  std::vector<Row> rows = {{"z", 0}, {"b", 1}, {"a", 2}};
  SortByCaption(std::span<Row>(rows).subspan(1), collator);
  EXPECT_EQ(rows[0].caption, "z");
  EXPECT_EQ(rows[1].caption, "a");
}

}  // namespace
}  // namespace cellbrook
