// Last written times, timelines, find, the data texts and JSON Lines.
#include <gtest/gtest.h>

#include <algorithm>

#include <nlohmann/json.hpp>

#include <sstream>

#include "cli_support.h"
#include "hive/filetime.h"
#include "hive/key_walk.h"
#include "hive_builder.h"
#include "hive_mutations.h"
#include "present/data_text.h"
#include "present/hive_search.h"
#include "present/timeline.h"
#include "shared_hives.h"

namespace cellbrook {
namespace {

using test::Bytes;
using test::HiveBuilder;
using test::RunCliCaptured;

std::vector<std::string> Lines(const std::string& text, char end = '\n') {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line, end);) lines.push_back(line);
  return lines;
}

std::vector<nlohmann::json> JsonLines(const std::string& text) {
  std::vector<nlohmann::json> records;
  for (const std::string& line : Lines(text)) records.push_back(nlohmann::json::parse(line));
  return records;
}

TEST(FileTime, IsoUtcWithSevenDigitsOrHex) {
  struct Case {
    uint64_t fileTime;
    const char* text;
  } cases[] = {
      {0, "1601-01-01T00:00:00.0000000Z"},
      {116444736000000000, "1970-01-01T00:00:00.0000000Z"},
      {131962628961234567, "2019-03-05T12:34:56.1234567Z"},
      {125963423990000001, "2000-02-29T23:59:59.0000001Z"},  // a leap century
      {157520159999999999, "2100-02-28T23:59:59.9999999Z"},
      {157520160000000000, "2100-03-01T00:00:00.0000000Z"},  // no 2100-02-29
      {94354848000000000, "1900-01-01T00:00:00.0000000Z"},
      {2650467743999999999, "9999-12-31T23:59:59.9999999Z"},
      {2650467744000000000, "0x24c85a5ed1c04000"},  // 10000-01-01
      {0xFFFFFFFFFFFFFFFF, "0xffffffffffffffff"},
  };
  for (const Case& c : cases) EXPECT_EQ(FormatFileTime(c.fileTime), c.text) << c.fileTime;
}

// root (t=3) with A (t=5, a comma and a quote in its name), B (t=9) and,
// below A, "p|q" (t=5, before 1970) -- A and p|q tie.
constexpr uint64_t kTick = 10000000;
constexpr uint64_t kEpoch = 116444736000000000;

// The keys' cell offsets in `cells` (root, A, B, p|q) when given.
std::string TimesHive(std::vector<uint32_t>* cells = nullptr) {
  HiveBuilder b;
  const uint32_t root = b.Key("root");
  const uint32_t a = b.Key("A,\"x\"", root), bee = b.Key("B", root), pipe = b.Key("p|q", a);
  b.SetSubkeys(root, {a, bee});
  b.SetSubkeys(a, {pipe});
  b.SetValues(bee, {b.Value("v", 4, {1, 0, 0, 0})});
  b.SetKeyTime(root, kEpoch + 3 * kTick);
  b.SetKeyTime(a, kEpoch + 5 * kTick + 1234567);
  b.SetKeyTime(bee, kEpoch + 9 * kTick);
  b.SetKeyTime(pipe, kEpoch + 5 * kTick + 1234567);
  b.SetRoot(root);
  if (cells != nullptr) *cells = {root, a, bee, pipe};
  return test::WriteScratchFile("times.hive", b.Image());
}

TEST(Times, KeysLongShowsTimeAndCounts) {
  const test::CliRun r = RunCliCaptured({"keys", TimesHive(), "--long"});
  EXPECT_EQ(r.code, 0) << r.err;
  EXPECT_EQ(r.out,
            "ROOT\\A,\"x\"\t1970-01-01T00:00:05.1234567Z\t1\t0\n"
            "ROOT\\A,\"x\"\\p|q\t1970-01-01T00:00:05.1234567Z\t0\t0\n"
            "ROOT\\B\t1970-01-01T00:00:09.0000000Z\t0\t1\n");
}

TEST(Times, TimelineInEveryFormatNewestFirst) {
  std::vector<uint32_t> cells;
  const std::string hive = TimesHive(&cells);
  const test::CliRun csv = RunCliCaptured({"timeline", hive});
  EXPECT_EQ(csv.code, 0) << csv.err;
  EXPECT_EQ(csv.out,
            "LastWritten,Path,Subkeys,Values\r\n"
            "1970-01-01T00:00:09.0000000Z,ROOT\\B,0,1\r\n"
            "1970-01-01T00:00:05.1234567Z,\"ROOT\\A,\"\"x\"\"\",1,0\r\n"  // ties keep pre-order
            "1970-01-01T00:00:05.1234567Z,\"ROOT\\A,\"\"x\"\"\\p|q\",0,0\r\n"
            "1970-01-01T00:00:03.0000000Z,ROOT,2,0\r\n");
  const test::CliRun body = RunCliCaptured({"timeline", hive, "--format", "bodyfile"});
  // The cell offset as inode, '|' percent-encoded.
  EXPECT_EQ(body.out, "0|ROOT\\B|" + std::to_string(cells[2]) +
                          "|0|0|0|0|0|9|0|0\n"
                          "0|ROOT\\A,\"x\"|" +
                          std::to_string(cells[1]) +
                          "|0|0|0|0|0|5|0|0\n"
                          "0|ROOT\\A,\"x\"\\p%7Cq|" +
                          std::to_string(cells[3]) +
                          "|0|0|0|0|0|5|0|0\n"
                          "0|ROOT|" +
                          std::to_string(cells[0]) + "|0|0|0|0|0|3|0|0\n");
  const std::vector<nlohmann::json> json = JsonLines(RunCliCaptured({"timeline", hive, "--json"}).out);
  ASSERT_EQ(json.size(), 4u);
  EXPECT_EQ(json[1], nlohmann::json::parse(R"({"last_written":"1970-01-01T00:00:05.1234567Z",
      "path":"ROOT\\A,\"x\"","subkeys":1,"values":0})"));
  for (const auto& args : std::vector<std::vector<std::string>>{{"timeline", hive, "--format", "xml"},
                                                                {"timeline", hive, "--format", "csv", "--json"},
                                                                {"timeline"},
                                                                {"timeline", hive, "--long"}}) {
    EXPECT_EQ(RunCliCaptured(args).code, 1) << args.back();
  }
}

TEST(Times, UnixSecondsAndCsvFields) {
  EXPECT_EQ(UnixSeconds(kEpoch), 0);
  EXPECT_EQ(UnixSeconds(kEpoch + kTick - 1), 0);
  EXPECT_EQ(UnixSeconds(kEpoch - 1), -1);  // rounded down, before 1970 too
  EXPECT_EQ(UnixSeconds(0), -11644473600);
  EXPECT_EQ(CsvField("plain"), "plain");
  EXPECT_EQ(CsvField("a,b"), "\"a,b\"");
  EXPECT_EQ(CsvField("say \"hi\""), "\"say \"\"hi\"\"\"");
  EXPECT_EQ(CsvField("two\nlines"), "\"two\nlines\"");
}

TEST(Times, SharedSystemHive) {
  SKIP_WITHOUT_SHARED_HIVES();
  const std::string system = test::SharedHivesDir() + "/SYSTEM";
  const test::CliRun r = RunCliCaptured({"timeline", system});
  ASSERT_EQ(r.code, 0) << r.err;
  std::vector<std::string> lines = Lines(r.out, '\n');
  size_t keys = 0;
  for (const test::SharedHive& h : test::SharedHives()) keys = h.name == "SYSTEM" ? h.keys : keys;
  EXPECT_EQ(lines.size(), keys + 2);  // the header and the root key too
  // The root key's time, read from its node by hand: 0x01cd1258a90ad4b6.
  EXPECT_NE(r.out.find("\r\n2012-04-04T11:47:06.6093750Z,ROOT,8,0\r\n"), std::string::npos);
  const test::CliRun select = RunCliCaptured({"keys", system, "ROOT", "--long"});
  EXPECT_NE(select.out.find("\nROOT\\Select\t2009-07-14T04:53:15.4100473Z\t0\t4\n"), std::string::npos);
  // Every key was written between Windows XP's release and the copy, newest first.
  std::string previous = "9999";
  for (size_t i = 1; i < lines.size(); ++i) {
    const std::string time = lines[i].substr(0, 28);
    ASSERT_GE(time, "2001-01-01T00:00:00.0000000Z") << lines[i];
    ASSERT_LE(time, "2012-12-31T23:59:59.9999999Z") << lines[i];
    ASSERT_LE(time, previous) << lines[i];
    previous = time;
  }
}

// ROOT\Apps\Tools ("Size" dword, "Path" REG_SZ, "List" REG_MULTI_SZ with a
// string after its end, "Blob" binary, "Big" big data with DEADBEEF across
// a segment boundary, "Straße" REG_EXPAND_SZ), ROOT\Ärger, the unnamed value.
std::string FindHive() {
  HiveBuilder b;
  const uint32_t root = b.Key("needle-root");
  const uint32_t apps = b.Key("Apps", root), tools = b.Key("Tools", apps);
  const uint32_t anger = b.Key("Ärger", root, test::NameStorage::Utf16);
  b.SetSubkeys(root, {apps, anger});
  b.SetSubkeys(apps, {tools});
  Bytes big(40000, 0x11);
  big[16342] = 0xDE, big[16343] = 0xAD, big[16344] = 0xBE, big[16345] = 0xEF;
  b.SetValues(tools, {b.Value("Size", 4, {0xDE, 0xAD, 0xBE, 0xEF}),
                      b.Value("Path", 1, test::Utf16Bytes(u"C:\\Tools\\needle.exe")),
                      b.Value("List", 7, test::Utf16Bytes(std::u16string(u"one\0two\0\0hidden\0", 17))),
                      b.Value("Blob", 3, test::Utf16Bytes(u"needle")), b.Value("Big", 3, big),
                      b.Value("Straße", 2, test::Utf16Bytes(u"GROSSE STRASSE"))});
  b.SetValues(anger, {b.Value("", 1, test::Utf16Bytes(u"ärger"))});
  b.SetRoot(root);
  return test::WriteScratchFile("find.hive", b.Image());
}

TEST(Find, MatchesOneALineInTreeAndListOrder) {
  const std::string hive = FindHive();
  struct Case {
    std::vector<std::string> flags;
    const char* pattern;
    int code;
    std::string out;
  } cases[] = {
      {{}, "needle", 0, "data\tROOT\\Apps\\Tools\tPath\n"},  // not the root's name, not binary data
      {{}, "Tools", 0, "key\tROOT\\Apps\\Tools\ndata\tROOT\\Apps\\Tools\tPath\n"},
      {{"--keys"}, "Tools", 0, "key\tROOT\\Apps\\Tools\n"},
      {{"--data"}, "tools", 3, ""},
      {{"--data", "--ignore-case"}, "tools", 0, "data\tROOT\\Apps\\Tools\tPath\n"},
      {{"--values"},
       "i",
       0,
       "value\tROOT\\Apps\\Tools\tSize\nvalue\tROOT\\Apps\\Tools\tList\nvalue\tROOT\\Apps\\Tools\tBig\n"},
      {{}, "two", 0, "data\tROOT\\Apps\\Tools\tList\n"},  // the second string
      {{}, "hidden", 3, ""},                              // after the end of the list
      {{"--ignore-case"}, "äRGER", 0, "key\tROOT\\Ärger\ndata\tROOT\\Ärger\t\n"},
      {{"--ignore-case"},
       "strasse",
       0,
       "value\tROOT\\Apps\\Tools\tStraße\ndata\tROOT\\Apps\\Tools\tStraße\n"},  // ß folds to ss
      {{"--regex"}, "^Too", 0, "key\tROOT\\Apps\\Tools\n"},
      {{"--regex", "--values"}, "^$", 0, "value\tROOT\\Ärger\t\n"},  // the unnamed value
      {{"--regex", "--ignore-case", "--data"}, "^c:.*EXE$", 0, "data\tROOT\\Apps\\Tools\tPath\n"},
      {{"--hex"}, "de ad be ef", 0, "data\tROOT\\Apps\\Tools\tSize\ndata\tROOT\\Apps\\Tools\tBig\n"},
      {{"--hex"}, "6E00650065", 0, "data\tROOT\\Apps\\Tools\tPath\ndata\tROOT\\Apps\\Tools\tBlob\n"},
      {{"--hex"}, "de ad be ee", 3, ""},
  };
  for (const Case& c : cases) {
    std::vector<std::string> args{"find", hive, c.pattern};
    args.insert(args.end(), c.flags.begin(), c.flags.end());
    const test::CliRun r = RunCliCaptured(args);
    EXPECT_EQ(r.code, c.code) << c.pattern << " " << r.err;
    EXPECT_EQ(r.out, c.out) << c.pattern;
    if (c.code == 3) {
      EXPECT_EQ(r.err, "Nothing matched.\n");
    }
  }
}

TEST(Find, WholeStringOnly) {
  const std::string bytes = test::ReadFileBytes(FindHive());
  test::BoundHive hive(Bytes(bytes.begin(), bytes.end()));
  auto count = [&](SearchOptions options) {
    HiveSearch search(hive.image, options);
    EXPECT_EQ(search.Error(), "");
    return SearchHive(hive.image, search, [](const SearchHit&) {}).hits;
  };
  EXPECT_EQ(count({.pattern = "Tool", .wholeString = true}), 0u);
  EXPECT_EQ(count({.pattern = "tools", .ignoreCase = true, .wholeString = true}), 1u);
  EXPECT_EQ(count({.pattern = "two", .wholeString = true}), 1u);
  EXPECT_EQ(count({.pattern = "de ad be ef", .hex = true, .wholeString = true}), 1u);  // Size only
  EXPECT_EQ(count({.pattern = "T.*s", .regex = true, .wholeString = true}), 1u);
}

TEST(Find, UsageErrors) {
  const std::string hive = FindHive();
  for (const auto& args : std::vector<std::vector<std::string>>{{"find", hive},
                                                                {"find", hive, ""},
                                                                {"find", hive, "(", "--regex"},
                                                                {"find", hive, "abc", "--hex"},
                                                                {"find", hive, "a", "--hex"},
                                                                {"find", hive, "ab", "--hex", "--keys"},
                                                                {"find", hive, "ab", "--hex", "--ignore-case"},
                                                                {"find", hive, "x", "--prefix", "p"},
                                                                {"find", hive, "x", "--bogus"}}) {
    const test::CliRun r = RunCliCaptured(args);
    EXPECT_EQ(r.code, 1) << args.back();
    EXPECT_NE(r.err.find("usage:"), std::string::npos);
  }
  // After "--" a pattern may start with dashes.
  EXPECT_EQ(RunCliCaptured({"find", hive, "--", "--x"}).code, 3);
  std::vector<uint8_t> bytes;
  EXPECT_TRUE(ParseHexPattern("De aD  bEeF", bytes));
  EXPECT_EQ(bytes, (std::vector<uint8_t>{0xDE, 0xAD, 0xBE, 0xEF}));
}

TEST(Find, DamageAndSharedCells) {
  HiveBuilder b;
  const uint32_t root = b.Key("root");
  const uint32_t k = b.Key("K", root);
  b.SetSubkeys(root, {k});
  const uint32_t broken = b.Value("broken", 1, test::Utf16Bytes(u"needle"), test::DataStorage::Cell);
  b.Put32(broken + 0xC, 0x7FFFFF00);
  b.SetValues(k, {b.Value("needle", 4, {0, 0, 0, 0}), broken});
  b.SetRoot(root);
  const std::string damaged = test::WriteScratchFile("find-damaged.hive", b.Image());
  const test::CliRun found = RunCliCaptured({"find", damaged, "needle"});
  EXPECT_EQ(found.code, 5);
  EXPECT_EQ(found.out, "value\tROOT\\K\tneedle\n");
  EXPECT_EQ(found.err,
            "The hive is damaged: the data of 1 value could not be read (first at ROOT\\K); "
            "everything readable was searched.\n");
  const test::CliRun none = RunCliCaptured({"find", damaged, "haystack"});
  EXPECT_EQ(none.code, 3);
  EXPECT_NE(none.err.find("nothing readable matched"), std::string::npos);
  EXPECT_EQ(RunCliCaptured({"find", damaged, "needle", "--keys"}).code, 3);  // no data looked at

  // One value of 20,000 bytes listed 3,000 times: the search reads no more
  // than about twice the file before it stops.
  HiveBuilder s;
  const uint32_t r2 = s.Key("root");
  const uint32_t value = s.Value("v", 1, Bytes(20000, 'a'));
  const uint32_t list = s.Cell(4 * 3000);
  for (uint32_t i = 0; i < 3000; ++i) s.Put32(list + 4 + 4 * i, value);
  s.Put32(r2 + 0x28, 3000);
  s.Put32(r2 + 0x2C, list);
  s.SetRoot(r2);
  const test::CliRun shared = RunCliCaptured({"find", test::WriteScratchFile("find-shared.hive", s.Image()), "zzz"});
  EXPECT_EQ(shared.code, 4);
  EXPECT_EQ(shared.err, "Too many index entries: the hive shares index or list cells between keys\n");
}

TEST(Json, EveryCommandPrintsOneObjectALine) {
  const std::string hive = FindHive();
  const std::vector<nlohmann::json> keys = JsonLines(RunCliCaptured({"keys", hive, "--json"}).out);
  ASSERT_EQ(keys.size(), 3u);
  EXPECT_EQ(keys[2]["path"], "ROOT\\Ärger");
  EXPECT_EQ(keys[2]["name"], "Ärger");
  EXPECT_EQ(keys[0]["last_written"], "1601-01-01T00:00:00.0000000Z");
  EXPECT_EQ(keys[0]["subkeys"], 1);

  const test::CliRun values = RunCliCaptured({"values", hive, "ROOT\\Apps\\Tools", "--json"});
  ASSERT_EQ(values.code, 0) << values.err;
  std::map<std::string, nlohmann::json> byName;
  for (const auto& v : JsonLines(values.out)) byName[v["name"]] = v;
  ASSERT_EQ(byName.size(), 6u);
  EXPECT_EQ(byName["Size"]["data"], "deadbeef");
  EXPECT_EQ(byName["Size"]["type"], "REG_DWORD");
  EXPECT_EQ(byName["Path"]["text"], "C:\\Tools\\needle.exe");
  EXPECT_EQ(byName["List"]["strings"], nlohmann::json::parse(R"(["one","two"])"));
  EXPECT_EQ(byName["Big"]["size"], 40000);
  EXPECT_EQ(byName["Big"]["data"].get<std::string>().size(), 80000u);
  EXPECT_EQ(byName["Straße"]["key"], "ROOT\\Apps\\Tools");

  const std::vector<nlohmann::json> found = JsonLines(RunCliCaptured({"find", hive, "Tools", "--json"}).out);
  ASSERT_EQ(found.size(), 2u);
  EXPECT_EQ(found[0], nlohmann::json::parse(R"({"match":"key","path":"ROOT\\Apps\\Tools"})"));
  EXPECT_EQ(found[1],
            nlohmann::json::parse(R"({"match":"data","key":"ROOT\\Apps\\Tools","name":"Path","type":"REG_SZ"})"));

  // info's one object is one line too.
  const test::CliRun info = RunCliCaptured({"info", hive, "--json"});
  ASSERT_EQ(info.code, 0) << info.err;
  EXPECT_EQ(std::count(info.out.begin(), info.out.end(), '\n'), 1) << info.out;
  const std::vector<nlohmann::json> infoLines = JsonLines(info.out);
  ASSERT_EQ(infoLines.size(), 1u);
  EXPECT_TRUE(infoLines[0].is_object());
}

TEST(Json, DamagedDataAndOddNamesStayValid) {
  HiveBuilder b;
  const uint32_t root = b.Key("root");
  const uint32_t odd = b.KeyRawName({0x00, 0xD8, 'x', 0, '\n', 0}, false, root);  // a lone surrogate
  b.SetSubkeys(root, {odd});
  const uint32_t broken = b.Value("broken", 3, Bytes(8, 1), test::DataStorage::Cell);
  b.Put32(broken + 0xC, 0x7FFFFF00);
  b.SetValues(odd, {broken});
  b.SetRoot(root);
  const std::string hive = test::WriteScratchFile("json-odd.hive", b.Image());
  const std::vector<nlohmann::json> keys = JsonLines(RunCliCaptured({"keys", hive, "--json"}).out);
  ASSERT_EQ(keys.size(), 1u);
  EXPECT_EQ(keys[0]["name"], "\xEF\xBF\xBDx\n");
  EXPECT_EQ(keys[0]["path"], "ROOT\\\xEF\xBF\xBDx\\n");
  const test::CliRun values = RunCliCaptured({"values", hive, keys[0]["path"].get<std::string>(), "--json"});
  EXPECT_EQ(values.code, 5);  // the escaped path the listing prints reaches the key
  const test::CliRun v2 = RunCliCaptured({"values", hive, "ROOT\\\xEF\xBF\xBDx\n", "--json"});
  EXPECT_EQ(v2.code, 5);
  const std::vector<nlohmann::json> records = JsonLines(v2.out);
  ASSERT_EQ(records.size(), 1u);
  EXPECT_TRUE(records[0]["data"].is_null());
  EXPECT_EQ(records[0]["damaged"], true);
}

TEST(DataText, HexDumpAndStrings) {
  Bytes bytes;
  for (int i = 0; i < 20; ++i) bytes.push_back(static_cast<uint8_t>(i == 1 ? 'A' : i == 2 ? 0xE9 : 0x7F + i));
  EXPECT_EQ(HexDump(bytes),
            "00000000  7f 41 e9 82 83 84 85 86  87 88 89 8a 8b 8c 8d 8e  .A\xC3\xA9.............\n"
            "00000010  8f 90 91 92                                       ....\n");
  EXPECT_EQ(HexDump({}), "");
  const std::u16string units(u"a\0b\0\0c", 6);
  EXPECT_EQ(TextStrings(units, RegMultiSz), (std::vector<std::u16string_view>{u"a", u"b"}));
  EXPECT_EQ(TextStrings(units, RegSz), (std::vector<std::u16string_view>{u"a"}));
  EXPECT_EQ(TextStrings(u"", RegSz), (std::vector<std::u16string_view>{u""}));
  EXPECT_EQ(DataUnits(Bytes{'h', 0, 'i', 0, 'x'}), u"hi");  // an odd byte dropped
}

TEST(Mutations, FindTimelineAndJsonEndWell) {
  const std::string hivePath = test::ScratchPath("mutant-forensic.hive");
  const std::string budgetOut = std::string(kBudgetOutText) + "\n";
  for (const auto& [name, base] : test::MutationBases()) {
    for (const test::Mutant& m : test::MutateHive(base, 11 + static_cast<uint32_t>(base.size()), 60)) {
      SCOPED_TRACE(name + ": " + m.what);
      test::WriteScratchFile("mutant-forensic.hive", m.image);
      for (const auto& args : std::vector<std::vector<std::string>>{{"find", hivePath, "e", "--ignore-case"},
                                                                    {"find", hivePath, "00 00", "--hex"},
                                                                    {"find", hivePath, "^.*$", "--regex"},
                                                                    {"timeline", hivePath, "--json"},
                                                                    {"keys", hivePath, "--json"},
                                                                    {"values", hivePath, "ROOT", "--json"}}) {
        const test::CliRun r = RunCliCaptured(args);
        EXPECT_TRUE(r.code == 0 || r.code == 2 || r.code == 3 || r.code == 5 || (r.code == 4 && r.err == budgetOut))
            << args[0] << " " << r.code << " " << r.err;
        if (args.back() == "--json") {
          for (const std::string& line : Lines(r.out)) {
            EXPECT_TRUE(nlohmann::json::accept(line)) << line;
          }
        }
      }
    }
  }
}

}  // namespace
}  // namespace cellbrook
