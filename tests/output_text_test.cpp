// What the command line does with hostile names and patterns: control
// characters escaped in every text output, bodyfile names as timeline
// tools decode them, a regular expression's time for the whole search.
#include <gtest/gtest.h>

#include <sys/wait.h>

#include <nlohmann/json.hpp>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "cli_support.h"
#include "hive_builder.h"
#include "hive/text_codec.h"
#include "present/json_line.h"
#include "present/timeline.h"
#include "shared_hives.h"

namespace cellbrook {
namespace {

using test::Bytes;
using test::HiveBuilder;
using test::RunCliCaptured;

constexpr uint64_t kTime = 131962628961234567ull;  // 2019-03-05T12:34:56.1234567Z

// A raw C0 control (other than the TAB and LF that separate, and CR where
// CSV ends lines) or DEL.
std::string RawControls(const std::string& text, bool crAllowed = false) {
  std::string found;
  for (char c : text) {
    const auto byte = static_cast<unsigned char>(c);
    if ((byte < 0x20 && c != '\n' && c != '\t' && !(crAllowed && c == '\r')) || byte == 0x7F) {
      char hex[8];
      std::snprintf(hex, sizeof hex, " %02x", byte);
      found += hex;
    }
  }
  return found;
}

// ROOT holding "Esc\x1b[2J" (a deleted "Gone\x01\x7f" below it, freed) and
// "Plain" with a value named "V\x01al" whose text holds an OSC sequence.
struct ControlHive {
  std::string path;
  ControlHive() {
    HiveBuilder b;
    const uint32_t root = b.Key("root");
    const uint32_t esc = b.Key("Esc\x1b[2J", root), plain = b.Key("Plain", root);
    b.SetSubkeys(root, {esc, plain});
    b.SetKeyTime(esc, kTime);
    b.SetValues(plain, {b.Value("V\x01"
                                "al",
                                1, test::Utf16Bytes(u"text\x1b]0;title\x07 end"))});
    const uint32_t gone = b.Key("Gone\x01\x7f", esc);
    b.SetLastWritten(gone, kTime);
    b.Free(gone);
    b.SetRoot(root);
    Bytes image = b.Image();
    // The base block's file name field (UTF-16LE at 48, 64 bytes) forging a line.
    const std::u16string field = u"x\x1b[1A\nState: clean";
    for (size_t i = 0; i < field.size(); ++i) {
      image[48 + 2 * i] = static_cast<uint8_t>(field[i] & 0xFF);
      image[49 + 2 * i] = static_cast<uint8_t>(field[i] >> 8);
    }
    uint32_t sum = 0;
    for (size_t i = 0; i < 508; i += 4) {
      sum ^= uint32_t{image[i]} | uint32_t{image[i + 1]} << 8 | uint32_t{image[i + 2]} << 16 |
             uint32_t{image[i + 3]} << 24;
    }
    if (sum == 0) sum = 1;
    if (sum == 0xFFFFFFFF) sum = 0xFFFFFFFE;
    for (int i = 0; i < 4; ++i) image[508 + i] = static_cast<uint8_t>(sum >> (8 * i));
    path = test::WriteScratchFile("controls.hive", image);
  }
};

TEST(ControlCharacters, NoCommandPrintsThemRaw) {
  const ControlHive hive;
  struct Case {
    std::vector<std::string> args;
    const char* shows;  // the escaped form the output holds
  } cases[] = {
      {{"keys", hive.path}, "ROOT\\Esc\\x1b[2J\n"},
      {{"keys", hive.path, "--long"}, "ROOT\\Esc\\x1b[2J\t2019"},
      {{"values", hive.path, "ROOT\\Plain"}, "V\\x01al\tREG_SZ\ttext\\x1b]0;title\\x07 end\n"},
      {{"find", hive.path, "s"}, "key\tROOT\\Esc\\x1b[2J\n"},
      {{"find", hive.path, "a", "--values"}, "value\tROOT\\Plain\tV\\x01al\n"},
      {{"find", hive.path, "Gone", "--deleted"}, "key\tROOT\\Esc\\x1b[2J\\Gone\\x01\\x7f\tdeleted\n"},
      {{"timeline", hive.path}, ",ROOT\\Esc\\x1b[2J,0,0\r\n"},
      {{"timeline", hive.path, "--deleted"}, ",ROOT\\Esc\\x1b[2J\\Gone\\x01\\x7f,0,0,yes\r\n"},
      {{"timeline", hive.path, "--deleted", "--format", "bodyfile"},
       "|ROOT\\Esc\\x1b[2J\\Gone\\x01\\x7f %28deleted%29|"},
      {{"deleted", hive.path}, "key\tROOT\\Esc\\x1b[2J\\Gone\\x01\\x7f\t2019-03-05T12:34:56.1234567Z\t"},
      {{"info", hive.path}, "File name field: x\\x1b[1A\\nState: clean\n"},
      {{"values", hive.path, "ROOT\\No\x1b[2J"}, ""},
  };
  for (const Case& c : cases) {
    const test::CliRun r = RunCliCaptured(c.args);
    const bool csv = c.args[0] == "timeline" && c.args.back() != "bodyfile";
    EXPECT_EQ(RawControls(r.out, csv), "") << c.args[0] << ' ' << c.args.back() << '\n' << r.out;
    EXPECT_EQ(RawControls(r.err), "") << c.args[0] << ' ' << c.args.back() << '\n' << r.err;
    EXPECT_NE(r.out.find(c.shows), std::string::npos) << c.args[0] << ' ' << c.args.back() << '\n' << r.out;
  }
  // The escaped path names the key again.
  const test::CliRun back = RunCliCaptured({"keys", hive.path, "ROOT\\Esc\\x1b[2J", "--long"});
  EXPECT_EQ(back.code, 0) << back.err;
  // The name asked for comes back escaped in the message.
  EXPECT_EQ(RunCliCaptured({"values", hive.path, "ROOT\\No\x1b[2J"}).err, "Key not found: ROOT\\No\\x1b[2J\n");
  // JSON keeps the names themselves; its own escapes keep controls out of the line.
  const test::CliRun json = RunCliCaptured({"keys", hive.path, "--json"});
  EXPECT_EQ(RawControls(json.out), "");
  EXPECT_NE(json.out.find(R"("name":"Esc\u001b[2J")"), std::string::npos) << json.out;
}

TEST(ControlCharacters, EscapesAreTwoLowercaseHexDigits) {
  std::string all;
  for (int c = 1; c < 0x20; ++c) all += static_cast<char>(c);
  all += '\x7f';
  all += "A\\";
  EXPECT_EQ(EscapeKeyName(all),
            "\\x01\\x02\\x03\\x04\\x05\\x06\\x07\\x08\\t\\n\\x0b\\x0c\\r\\x0e\\x0f"
            "\\x10\\x11\\x12\\x13\\x14\\x15\\x16\\x17\\x18\\x19\\x1a\\x1b\\x1c\\x1d\\x1e\\x1f\\x7fA\\\\");
  EXPECT_EQ(EscapeLineText(std::string("C:\\a\0b\x1b", 7)), "C:\\a\\x00b\\x1b");
  EXPECT_EQ(EscapeKeyName("Ärger ü"), "Ärger ü");  // UTF-8 passes as it is
}

// ---- bodyfile

TEST(Bodyfile, NamesInodesAndTimes) {
  struct Case {
    const char* path;
    bool deleted;
    const char* name;
  } cases[] = {
      {"ROOT\\Default%20Settings", false, "ROOT\\Default%2520Settings"},
      {"ROOT\\MrtCache\\C:%5CWindows", false, "ROOT\\MrtCache\\C:%255CWindows"},
      {"ROOT\\A|B", false, "ROOT\\A%7CB"},
      {"ROOT\\X (deleted)", false, "ROOT\\X (deleted)"},
      {"ROOT\\X", true, "ROOT\\X %28deleted%29"},
      {"ROOT\\X %28deleted%29", false, "ROOT\\X %2528deleted%2529"},
      {"?\\raw\x1b\x7f\t", true, "?\\raw%1B%7F%09 %28deleted%29"},
  };
  for (const Case& c : cases) EXPECT_EQ(BodyfileName(c.path, c.deleted), c.name) << c.path;

  constexpr uint64_t kEpoch = 116444736000000000;
  TimelineEntry entry{kEpoch + 25 * 10000000ull, "ROOT\\K", 0, 0, false, 0x1020};
  EXPECT_EQ(BodyfileRecord(entry, entry.path), "0|ROOT\\K|4128|0|0|0|0|0|25|0|0\n");
  for (uint64_t before : {uint64_t{0}, uint64_t{1}, kEpoch - 1}) {
    entry.lastWritten = before;
    EXPECT_EQ(BodyfileRecord(entry, entry.path), "0|ROOT\\K|4128|0|0|0|0|0|0|0|0\n") << before;
  }
  EXPECT_EQ(BodyfileSeconds(kEpoch), 0u);
  EXPECT_EQ(BodyfileSeconds(kEpoch + 10000000), 1u);
}

// Live "X (deleted)", "A|B", "P%41" and "|" below "A"; a deleted "X" and
// "A|". Every row must come through the common mactime distinct, with its
// name decoded to the path as keys prints it.
TEST(Bodyfile, RoundTripThroughMactime) {
  if (std::system("command -v mactime >/dev/null 2>&1") != 0) {
    GTEST_SKIP() << "mactime (sleuthkit) not installed; skipping the round trip";
  }
  HiveBuilder b;
  const uint32_t root = b.Key("root");
  const uint32_t forged = b.Key("X (deleted)", root), pipe = b.Key("A|B", root);
  const uint32_t percent = b.Key("P%41", root), a = b.Key("A", root), bar = b.Key("|", a);
  b.SetSubkeys(root, {forged, pipe, percent, a});
  b.SetSubkeys(a, {bar});
  for (uint32_t k : {root, forged, pipe, percent, a, bar}) b.SetKeyTime(k, kTime);
  const uint32_t x = b.Key("X", root), aPipe = b.Key("A|", root);
  b.SetLastWritten(x, kTime);
  b.SetLastWritten(aPipe, kTime);
  b.Free(x, aPipe);
  b.SetRoot(root);
  const std::string hive = test::WriteScratchFile("bodyfile.hive", b.Image());
  const test::CliRun body = RunCliCaptured({"timeline", hive, "--deleted", "--format", "bodyfile"});
  ASSERT_EQ(body.code, 0) << body.err;
  const std::string bodyPath = test::WriteScratchFile("bodyfile.txt", Bytes(body.out.begin(), body.out.end()));
  const std::string csvPath = test::ScratchPath("mactime.csv");
  ASSERT_EQ(std::system(("mactime -b '" + bodyPath + "' -d -y > '" + csvPath + "' 2>/dev/null").c_str()), 0);
  // Date,Size,Type,Mode,UID,GID,Meta,File Name: the m row of each entry.
  std::map<std::string, std::string> names;  // inode -> name
  std::istringstream rows(test::ReadFileBytes(csvPath));
  int mRows = 0;
  for (std::string row; std::getline(rows, row);) {
    std::vector<std::string> f;
    std::istringstream fields(row);
    for (std::string field; std::getline(fields, field, ',');) f.push_back(field);
    if (f.size() < 8 || f[2] != "m...") continue;
    ++mRows;
    std::string name = row.substr(row.find(',' + f[6] + ',') + f[6].size() + 2);
    if (name.size() >= 2 && name.front() == '"') name = name.substr(1, name.size() - 2);
    names[f[6]] = name;
  }
  const std::map<std::string, std::string> want = {
      {std::to_string(root), "ROOT"},           {std::to_string(forged), "ROOT\\X (deleted)"},
      {std::to_string(pipe), "ROOT\\A|B"},      {std::to_string(percent), "ROOT\\P%41"},
      {std::to_string(a), "ROOT\\A"},           {std::to_string(bar), "ROOT\\A\\|"},
      {std::to_string(x), "ROOT\\X (deleted)"}, {std::to_string(aPipe), "ROOT\\A| (deleted)"},
  };
  EXPECT_EQ(mRows, 8);
  EXPECT_EQ(names, want);
  // In the file itself only the recovered records carry the marker.
  EXPECT_EQ(body.out.find("|ROOT\\X (deleted)|" + std::to_string(forged) + "|") != std::string::npos, true);
  EXPECT_EQ(body.out.find("|ROOT\\X %28deleted%29|" + std::to_string(x) + "|") != std::string::npos, true);
}

// ---- the regular expression's time for the whole search

// 40 keys whose names make "(.+)+X" backtrack without end.
std::string BacktrackingHive() {
  HiveBuilder b;
  const uint32_t root = b.Key("root");
  std::vector<uint32_t> keys;
  for (int i = 0; i < 40; ++i) keys.push_back(b.Key(std::string(30, 'a') + std::to_string(100 + i), root));
  b.SetSubkeys(root, keys);
  b.SetRoot(root);
  return test::WriteScratchFile("backtracking.hive", b.Image());
}

TEST(FindTimeout, SpentTimeStopsTheSearchAndSaysWhatWasLeft) {
  const std::string hive = BacktrackingHive();
  const test::CliRun r = RunCliCaptured({"find", hive, "(.+)+X", "--regex", "--keys", "--timeout", "0.2"});
  EXPECT_EQ(r.code, 4) << r.err;
  EXPECT_EQ(r.out, "");
  // The text it ran out on and every one after it.
  EXPECT_EQ(r.err,
            "The regular expression's time ran out: 40 texts were left unsearched; the matches "
            "above are not all there are (--timeout gives more time).\n");
  // Texts the time reaches are searched as ever.
  const test::CliRun quick = RunCliCaptured({"find", hive, "a+10[0-4]$", "--regex", "--keys", "--timeout", "30"});
  EXPECT_EQ(quick.code, 0) << quick.err;
  EXPECT_EQ(std::count(quick.out.begin(), quick.out.end(), '\n'), 5);
}

TEST(FindTimeout, UsageErrors) {
  const std::string hive = BacktrackingHive();
  for (const std::vector<std::string>& args :
       std::vector<std::vector<std::string>>{{"find", hive, "a", "--timeout", "5"},  // no --regex
                                             {"find", hive, "a", "--regex", "--timeout", "0"},
                                             {"find", hive, "a", "--regex", "--timeout", "-1"},
                                             {"find", hive, "a", "--regex", "--timeout", "5s"},
                                             {"find", hive, "a", "--regex", "--timeout", "nan"},
                                             {"find", hive, "a", "--regex", "--timeout", ""},
                                             {"find", hive, "a", "--regex", "--timeout"},
                                             {"timeline", hive, "--timeout", "5"}}) {
    const test::CliRun r = RunCliCaptured(args);
    EXPECT_EQ(r.code, 1) << args.back();
    EXPECT_NE(r.err.find("usage:"), std::string::npos) << args.back();
  }
}

// ---- JSON Lines written directly, byte for byte as the JSON library's dump

std::string LibraryDump(const nlohmann::ordered_json& j) {
  return j.dump(-1, ' ', false, nlohmann::ordered_json::error_handler_t::replace);
}

TEST(JsonLines, StringsAsTheLibraryWritesThem) {
  std::vector<std::string> texts = {"", "plain", "Ärger ü", "\xEF\xBF\xBD", "emoji \xF0\x9F\x98\x80",
                                    "say \"hi\" C:\\Temp\\x", "\x7f DEL", "tab\there\r\n",
                                    // invalid UTF-8: the library's replacement
                                    "\xFF", "a\xC3", "\xC3(", "\xED\xA0\x80 surrogate", "\xF4\x90\x80\x80",
                                    "\xC0\xAF overlong", "\xE0\x80\xAF", "ok\x80\x80ok", "\xF0\x9F\x98"};
  for (int c = 0; c < 0x80; ++c) texts.push_back(std::string(1, static_cast<char>(c)) + "x");
  for (const std::string& text : texts) {
    std::string mine;
    AppendJsonString(mine, text);
    EXPECT_EQ(mine, LibraryDump(nlohmann::ordered_json(text))) << EscapeKeyName(text);
  }
  JsonLine line;
  line.Begin().String("path", "ROOT\\A\"").Number("n", 0).Number("big", 18446744073709551615ull);
  line.Bool("yes", true).Bool("no", false).Null("data").Strings("strings", {"one", "", "t\x01o"});
  nlohmann::ordered_json want = {
      {"path", "ROOT\\A\""}, {"n", 0u},         {"big", 18446744073709551615ull},  {"yes", true},
      {"no", false},         {"data", nullptr}, {"strings", {"one", "", "t\x01o"}}};
  EXPECT_EQ(line.End(), LibraryDump(want));
  EXPECT_EQ(line.Begin().Strings("empty", {}).End(), LibraryDump({{"empty", nlohmann::ordered_json::array()}}));
}

// Every --json line of every command is the library's own dump of itself.
TEST(JsonLines, EveryCommandWritesWhatTheLibraryWould) {
  HiveBuilder b;
  const uint32_t root = b.Key("root");
  const uint32_t odd = b.Key("Qu\"ote", root), wide = b.Key("Ärger\x1b", root, test::NameStorage::Utf16);
  const uint32_t back = b.Key("Back\\slash", root);
  b.SetSubkeys(root, {odd, wide, back});
  b.SetKeyTime(odd, kTime);
  const uint32_t damaged = b.Value("broken", 3, Bytes(8, 1), test::DataStorage::Cell);
  b.Put32(damaged + 0xC, 0x7FFFFF00);
  b.SetValues(
      odd, {b.Value("", 1, test::Utf16Bytes(u"C:\\\"x\"\t\x01")),
            b.Value("List", 7, test::Utf16Bytes(std::u16string(u"one\0t\"wo\0\0", 10))), b.Value("Empty list", 7, {}),
            b.Value("Num", 4, {1, 2, 3, 4}), b.Value("Bin", 3, Bytes(40, 0xAB)), damaged});
  const uint32_t gone = b.Key("Gone\"\x02", odd);
  b.SetLastWritten(gone, kTime);
  const uint32_t goneValue = b.Value("Was\\", 1, test::Utf16Bytes(u"old"));
  b.SetValues(gone, {goneValue});
  b.Free(gone, goneValue);
  b.SetRoot(root);
  const std::string hive = test::WriteScratchFile("json-bytes.hive", b.Image());
  std::vector<std::vector<std::string>> commands = {{"keys", hive},
                                                    {"values", hive, "ROOT\\Qu\"ote"},
                                                    {"find", hive, "o", "--deleted"},
                                                    {"timeline", hive, "--deleted"},
                                                    {"deleted", hive}};
  if (test::SharedHivesPresent()) {
    for (const char* name : {"NTUSER.DAT", "UsrClass.dat", "SAM"}) {
      const std::string shared = test::SharedHivesDir() + "/" + name;
      commands.push_back({"keys", shared});
      commands.push_back({"find", shared, "e", "--deleted"});
      commands.push_back({"timeline", shared, "--deleted"});
      commands.push_back({"deleted", shared});
    }
    commands.push_back({"values", test::SharedHivesDir() + "/SYSTEM", "ROOT\\Select"});
  }
  for (std::vector<std::string> args : commands) {
    args.push_back("--json");
    const test::CliRun r = RunCliCaptured(args);
    EXPECT_TRUE(r.code == 0 || r.code == 5) << args[0] << " " << args[1] << " " << r.err;
    std::istringstream lines(r.out);
    size_t count = 0;
    for (std::string line; std::getline(lines, line); ++count) {
      ASSERT_EQ(line, LibraryDump(nlohmann::ordered_json::parse(line))) << args[0] << ' ' << args[1];
    }
    EXPECT_GT(count, 0u) << args[0] << ' ' << args[1];
  }
}

}  // namespace
}  // namespace cellbrook
