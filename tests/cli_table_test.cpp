// The command table: what it lets through and what it refuses, the entry a
// command line picks, and that every command reads its hive the one way
// (a --log that cannot be opened, a file too short for a base block).
#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <iterator>

#include <regex>
#include <set>

#include "artifact_hive.h"
#include "carve_images.h"
#include "cli/command_table.h"
#include "cli_support.h"
#include "hive_builder.h"
#include "recover/logs/base_block.h"
#include "shared_hives.h"

namespace cellbrook {
namespace {

using test::RunCliCaptured;

struct ParseCase {
  std::vector<std::string> args;
  std::string problem;  // empty: accepted
  std::string title;    // the entry picked
};

TEST(CommandTableTest, ChecksEachCommandLineAgainstItsEntry) {
  const std::vector<ParseCase> cases = {
      {{"keys", "h"}, "", "keys"},
      {{"keys", "h", "--details"}, "", "keys --details"},
      {{"keys", "h", "--", "--details"}, "", "keys"},  // after "--" a word, no selector
      {{"keys", "h", "--details", "--long"}, "unknown option for keys --details: --long", "keys --details"},
      {{"keys", "h", "--bogus"}, "unknown option for keys: --bogus", "keys"},
      {{"keys", "h", "k", "extra"}, "wrong number of arguments", "keys"},
      {{"keys", "h", "--log"}, "--log needs a file", "keys"},
      {{"keys", "h", "--no-logs", "--log", "l"}, "--no-logs and --log exclude each other", "keys"},
      {{"keys", "-", "-x"}, "", "keys"},  // "-" and "-x" are words, not options
      {{"save", "h", "k", "v"}, "wrong number of arguments", "save"},
      {{"export", "h", "k", "o", "--prefix"}, "--prefix needs a value", "export"},
      {{"deleted", "h", "--reg"}, "--reg needs a file", "deleted"},
      {{"deleted", "h", "--prefix", "P"}, "--prefix goes with --reg", "deleted"},
      {{"deleted", "h", "--reg", "o", "--json"}, "--json and --reg exclude each other", "deleted"},
      {{"deleted", "h", "--reg", "o", "--prefix", "P"}, "", "deleted"},
      {{"timeline", "h", "--format", "xml"}, "--format is csv or bodyfile", "timeline"},
      {{"timeline", "h", "--format", "bodyfile"}, "", "timeline"},
      {{"timeline", "h", "--format", "csv", "--json"}, "--json and --format exclude each other", "timeline"},
      {{"find", "h", "p", "--hex", "--regex"},
       "--hex looks for bytes in value data only: no --keys, --values, --regex or --ignore-case",
       "find"},
      {{"find", "h", "p", "--hex", "--data"}, "", "find"},
      {{"find", "h", "p", "--timeout", "3"}, "--timeout goes with --regex", "find"},
      {{"find", "h", "--", "--p"}, "", "find"},
      {{"diff", "a", "b", "--log", "l"}, "--log goes with --logs: which of the two hives would it belong to?", "diff"},
      {{"diff", "a", "--logs", "--no-logs"}, "--logs and --no-logs exclude each other", "diff"},
      {{"diff", "a", "--logs", "--log", "l"}, "", "diff"},
      {{"history", "h", "--no-logs"}, "unknown option for history: --no-logs", "history"},
      {{"artifacts", "--list", "--json"}, "--list takes nothing else", "artifacts"},
      {{"artifacts", "h", "--json", "--csv"}, "--json and --csv exclude each other", "artifacts"},
      {{"artifacts", "h", "a", "b", "--with", "s", "--with", "t"}, "", "artifacts"},
      {{"carve", "i", "o", "--log", "l"}, "carve reads a disk image: no --log or --no-logs", "carve"},
      {{"carve", "i", "o", "--no-logs"}, "carve reads a disk image: no --log or --no-logs", "carve"},
  };
  for (const ParseCase& c : cases) {
    SCOPED_TRACE(::testing::PrintToString(c.args));
    const CommandEntry* entry = FindCommand(c.args);
    ASSERT_NE(entry, nullptr);
    EXPECT_EQ(EntryTitle(*entry), c.title);
    CommandCall call;
    EXPECT_EQ(ParseCommand(*entry, c.args, call), c.problem);
  }
  EXPECT_EQ(FindCommand({"bogus"}), nullptr);
  EXPECT_EQ(FindCommand({}), nullptr);
}

TEST(CommandTableTest, KeepsValuesInOrderAndTheLogChoice) {
  const std::vector<std::string> args = {"artifacts", "h", "--with", "s",  "--log",  "l1",
                                         "--with",    "t", "--log",  "l2", "--json", "--json"};
  CommandCall call;
  ASSERT_EQ(ParseCommand(*FindCommand(args), args, call), "");
  EXPECT_EQ(call.words, std::vector<std::string>({"h"}));
  EXPECT_EQ(call.Values("--with"), std::vector<std::string>({"s", "t"}));
  EXPECT_EQ(call.logs.named, std::vector<std::string>({"l1", "l2"}));
  EXPECT_TRUE(call.logs.use);
  EXPECT_TRUE(call.Flag("--json"));
  EXPECT_EQ(call.flags.size(), 1u);
  EXPECT_EQ(call.Value("--csv"), nullptr);

  const std::vector<std::string> prefixes = {"export", "h", "k", "o", "--prefix", "A", "--no-logs", "--prefix", "B"};
  CommandCall last;
  ASSERT_EQ(ParseCommand(*FindCommand(prefixes), prefixes, last), "");
  EXPECT_EQ(*last.Value("--prefix"), "B");  // the last one given counts
  EXPECT_FALSE(last.logs.use);
}

// Each entry's synopsis, help and options agree: a fault here is a command
// the usage shows one way and the parser takes another.
TEST(CommandTableTest, EntriesAgreeWithTheirSynopsesAndHelp) {
  const std::string help = HelpText(), usage = UsageText();
  std::set<std::string> titles;
  for (const CommandEntry& entry : CommandTable()) {
    SCOPED_TRACE(EntryTitle(entry));
    EXPECT_TRUE(titles.insert(EntryTitle(entry)).second) << "listed twice";
    EXPECT_NE(entry.handler, nullptr);
    EXPECT_LE(entry.minWords, entry.maxWords);
    ASSERT_FALSE(entry.synopses.empty());
    EXPECT_FALSE(entry.help.empty());
    std::set<std::string> options;
    for (const OptionRule& option : entry.options) {
      EXPECT_TRUE(options.insert(std::string(option.name)).second) << option.name << " listed twice";
      if (option.refusal.empty()) {
        EXPECT_NE(help.find(option.name), std::string::npos) << option.name << " is not in --help";
      }
    }
    if (!entry.selector.empty()) {
      EXPECT_TRUE(options.count(std::string(entry.selector)));
    }
    for (std::string_view synopsis : entry.synopses) {
      const std::string text(synopsis);
      EXPECT_EQ(text.rfind(std::string(entry.name) + ' ', 0), 0u) << text;
      EXPECT_NE(usage.find(text.substr(0, text.find('\n'))), std::string::npos);
      const std::regex word("--[a-z][a-z-]*");
      for (auto it = std::sregex_iterator(text.begin(), text.end(), word); it != std::sregex_iterator(); ++it) {
        EXPECT_TRUE(options.count(it->str())) << it->str() << " is in the synopsis but not taken";
      }
    }
    for (const OptionConflict& conflict : entry.conflicts) {
      EXPECT_TRUE(options.count(std::string(conflict.first))) << conflict.first;
      for (std::string_view second : conflict.seconds) EXPECT_TRUE(options.count(std::string(second))) << second;
    }
  }
}

// --help's note on --json names every command that takes it.
TEST(CommandTableTest, TheJsonNoteNamesEveryCommandTakingJson) {
  const std::string help = HelpText();
  const size_t from = help.find("\n--json (");
  ASSERT_NE(from, std::string::npos);
  const std::string note = help.substr(from, help.find("\n\n", from) - from);
  for (const CommandEntry& entry : CommandTable()) {
    const bool json = std::any_of(entry.options.begin(), entry.options.end(),
                                  [](const OptionRule& o) { return o.name == "--json" && o.refusal.empty(); });
    if (!json) continue;
    const std::regex named("[ (]" + std::string(entry.name) + "[,) ]");
    EXPECT_TRUE(std::regex_search(note, named)) << entry.name << " takes --json but the note omits it:\n" << note;
  }
}

// The README's command reference shows every synopsis as the usage does.
TEST(CommandTableTest, TheReadmeListsEverySynopsis) {
  std::ifstream in(CELLBROOK_README);
  ASSERT_TRUE(in) << CELLBROOK_README;
  const std::string readme((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  for (const CommandEntry& entry : CommandTable()) {
    for (std::string_view synopsis : entry.synopses) {
      const std::string line = "    cellbrook-cli " + std::string(synopsis.substr(0, synopsis.find('\n')));
      EXPECT_NE(readme.find(line + "\n"), std::string::npos) << "README lacks: " << line;
    }
  }
}

TEST(CommandTableTest, UsageErrorsShowTheirEntrysUsage) {
  struct Case {
    std::vector<std::string> args;
    bool whole;  // the whole usage, or the group's lines only
  };
  const std::vector<Case> cases = {
      {{"keys", "h", "--bogus"}, true},
      {{"key", "h"}, false},
      {{"keys", "h", "--details", "--long"}, false},
      {{"artifacts"}, false},
      {{"diff", "a"}, true},
      {{"bogus"}, true},
      {{}, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(::testing::PrintToString(c.args));
    const test::CliRun r = RunCliCaptured(c.args);
    EXPECT_EQ(r.code, 1);
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.err.find("cellbrook-cli: "), 0u);
    EXPECT_EQ(r.err.find("cellbrook-cli --help | --version") != std::string::npos, c.whole) << r.err;
  }
}

// Every command that reads a hive reads it the one way: a --log that
// cannot be opened is exit 2 (never a silent "no log"), and so is a file
// shorter than a base block.
TEST(CommandTableTest, EveryCommandReadsItsHiveAlike) {
  const test::Bytes bytes = test::TreeHive().Key("Console").Build();
  const std::string hive = test::WriteScratchFile("table-read.hive", bytes);
  // The base block's first sector and nothing after: no bin to read.
  const std::string tiny = test::WriteScratchFile("table-tiny.hive", test::Bytes(bytes.begin(), bytes.begin() + 600));
  const std::string absent = std::string(CELLBROOK_TEST_SCRATCH) + "/table-no-such.log";
  const std::vector<std::vector<std::string>> withLog = {
      {"keys", hive},      {"key", hive, "ROOT"}, {"keys", hive, "--details"}, {"values", hive, "ROOT"},
      {"info", hive},      {"artifacts", hive},   {"diff", hive, "--logs"},    {"history", hive},
      {"find", hive, "x"}, {"timeline", hive},    {"deleted", hive},           {"recover", hive, "-"},
  };
  for (std::vector<std::string> args : withLog) {
    args.insert(args.end(), {"--log", absent});
    SCOPED_TRACE(::testing::PrintToString(args));
    const test::CliRun r = RunCliCaptured(args);
    EXPECT_EQ(r.code, 2);
    EXPECT_NE(r.err.find("Can not open transaction log"), std::string::npos) << r.err;
  }
  const std::vector<std::vector<std::string>> onTiny = {
      {"keys", tiny},      {"key", tiny, "ROOT"}, {"keys", tiny, "--details"},
      {"artifacts", tiny}, {"diff", tiny, hive},  {"find", tiny, "x"},
  };
  for (const std::vector<std::string>& args : onTiny) {
    SCOPED_TRACE(::testing::PrintToString(args));
    EXPECT_EQ(RunCliCaptured(args).code, 2);
  }
}

// The file name field of a carved hive is the image's bytes: a control in
// it is written as every listing writes one, never sent to the terminal.
TEST(CommandTableTest, CarveListingEscapesTheNameField) {
  test::Bytes hive = test::MultiBinHive(0);
  const std::u16string name = u"a\tb\x1b[31m";
  for (size_t i = 0; i < name.size(); ++i) {
    hive[0x30 + 2 * i] = static_cast<uint8_t>(name[i]);
    hive[0x30 + 2 * i + 1] = 0;
  }
  const uint32_t sum = BaseBlockChecksum({hive.data(), 512});
  for (int i = 0; i < 4; ++i) hive[508 + i] = static_cast<uint8_t>(sum >> (8 * i));
  test::Bytes image = test::JunkImage(0x4000);
  test::Plant(image, 0x2000, hive);
  const std::string path = test::WriteScratchFile("table-carve.img", image);
  const std::string out = test::ScratchPath("table-carved");
  std::system(("rm -rf '" + out + "'").c_str());
  const test::CliRun r = RunCliCaptured({"carve", path, out});
  ASSERT_EQ(r.code, 0) << r.err;
  EXPECT_NE(r.out.find("\ta\\tb\\x1b[31m\t"), std::string::npos) << r.out;
  EXPECT_EQ(r.out.find('\x1b'), std::string::npos);
}

}  // namespace
}  // namespace cellbrook
